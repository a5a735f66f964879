#include <charconv>
#include <system_error>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/PropertyText.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

// The decimal number `text` within [low, high], or false.
bool ParseDecimal(std::string_view text, std::int64_t low, std::int64_t high, std::int64_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') ++first;
  if (first == last) return false;
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last && value >= low && value <= high;
}

}  // namespace

void RaiseNotAValue(std::string_view text, std::string_view type_name) {
  std::string message = "'";
  message += text;
  message += "' is not a valid ";
  message += type_name;
  message += " value";
  throw EConvertError(message);
}

std::string ByteToText(std::uint8_t value) { return std::to_string(value); }

std::uint8_t ByteFromText(std::string_view text) {
  std::int64_t value = 0;
  if (!ParseDecimal(text, 0, 255, value)) RaiseNotAValue(text, "Byte");
  return static_cast<std::uint8_t>(value);
}

std::string IntegerToText(std::int32_t value) { return std::to_string(value); }

std::int32_t IntegerFromText(std::string_view text) {
  std::int64_t value = 0;
  if (!ParseDecimal(text, INT32_MIN, INT32_MAX, value)) RaiseNotAValue(text, "Integer");
  return static_cast<std::int32_t>(value);
}

std::string BooleanToText(bool value) { return value ? "True" : "False"; }

bool BooleanFromText(std::string_view text) {
  if (CompareText(text, "True") == 0) return true;
  if (CompareText(text, "False") == 0) return false;
  RaiseNotAValue(text, "Boolean");
}

}  // namespace fernwick

#include <charconv>
#include <cmath>
#include <limits>
#include <new>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Variant.h>

namespace fernwick {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// True when `text` is [sign] digits [. digits] [e [sign] digits], with at
// least one digit in the mantissa; sets `integral` when it has no fraction
// and no exponent.
bool IsDecimalNumber(std::string_view text, bool& integral) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto digits = [&] {
    const std::size_t start = i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
    return i - start;
  };
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  integral = true;
  if (i < n && text[i] == '.') {
    ++i;
    mantissa += digits();
    integral = false;
  }
  if (mantissa == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
    integral = false;
  }
  return i == n;
}

bool ParseDouble(std::string_view text, double& out) {
  text = TrimBlanks(text);
  bool integral = false;
  if (!IsDecimalNumber(text, integral)) return false;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return false;
  out = value;
  return true;
}

// Rounds half to even, as the framework does; false when the result does not
// fit in 32 bits or `value` is not finite.
bool RoundToInt32(double value, std::int32_t& out) {
  if (!std::isfinite(value)) return false;
  double rounded = std::floor(value);
  const double fraction = value - rounded;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return false;
  out = static_cast<std::int32_t>(rounded);
  return true;
}

bool ParseInt32(std::string_view text, std::int32_t& out) {
  text = TrimBlanks(text);
  bool integral = false;
  if (!IsDecimalNumber(text, integral)) return false;
  if (integral) {
    if (text.front() == '+') text.remove_prefix(1);
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    out = value;
    return true;
  }
  double real = 0;
  return ParseDouble(text, real) && RoundToInt32(real, out);
}

// Up to 15 significant digits, shortest form, exponent written as E-5 / E20.
std::string DoubleToText(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text(buffer, result.ptr);
  const std::size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::string exponent = text.substr(e + 1);
  std::string mantissa = text.substr(0, e);
  bool negative = false;
  std::size_t i = 0;
  if (i < exponent.size() && (exponent[i] == '+' || exponent[i] == '-')) {
    negative = exponent[i] == '-';
    ++i;
  }
  while (i + 1 < exponent.size() && exponent[i] == '0') ++i;
  return mantissa + (negative ? "E-" : "E") + exponent.substr(i);
}

}  // namespace

Variant Variant::Null() noexcept {
  Variant v;
  v.type_ = TVarType::varNull;
  return v;
}

Variant Variant::FromNativeInt(std::intptr_t value) noexcept {
  Variant v;
  v.type_ = TVarType::varNativeInt;
  v.num_.i64 = static_cast<std::int64_t>(value);
  return v;
}

Variant Variant::FromPointer(const void* p) noexcept {
  return FromNativeInt(reinterpret_cast<std::intptr_t>(p));
}

Variant Variant::Array(int count) {
  Variant v;
  new (&v.arr_) std::vector<Variant>(static_cast<std::size_t>(count < 0 ? 0 : count));
  v.type_ = TVarType::varArray;
  return v;
}

Variant& Variant::CopyAssign(const Variant& other) {
  if (this == &other) return *this;
  if (type_ == TVarType::varString && other.type_ == TVarType::varString) {
    str_ = other.str_;  // reuses this text's storage
    return *this;
  }
  // Copy first: `other` may be an element of this variant's own array.
  Variant copy(other);
  Reset();
  MoveFrom(copy);
  return *this;
}

Variant& Variant::MoveAssign(Variant& other) noexcept {
  if (this == &other) return *this;
  if (type_ == TVarType::varArray) {
    // `other` may live inside this array: take it out before freeing.
    Variant taken(std::move(other));
    Reset();
    MoveFrom(taken);
    return *this;
  }
  Reset();
  MoveFrom(other);
  return *this;
}

void Variant::Reset() noexcept {
  if (type_ == TVarType::varString) {
    str_.~basic_string();
  } else if (type_ == TVarType::varArray) {
    arr_.~vector();
  }
  type_ = TVarType::varEmpty;
  num_.i64 = 0;
}

void Variant::CopyFrom(const Variant& other) {
  // REQUIRES: this variant holds no text or array.
  if (other.type_ == TVarType::varString) {
    new (&str_) std::string(other.str_);
  } else if (other.type_ == TVarType::varArray) {
    new (&arr_) std::vector<Variant>(other.arr_);
  } else {
    num_ = other.num_;
  }
  type_ = other.type_;
}

void Variant::MoveFrom(Variant& other) noexcept {
  // REQUIRES: this variant holds no text or array.
  if (other.type_ == TVarType::varString) {
    new (&str_) std::string(std::move(other.str_));
  } else if (other.type_ == TVarType::varArray) {
    new (&arr_) std::vector<Variant>(std::move(other.arr_));
  } else {
    num_ = other.num_;
  }
  type_ = other.type_;
  other.Reset();
}

const char* Variant::TypeName(TVarType type) noexcept {
  switch (type) {
    case TVarType::varEmpty:
      return "Empty";
    case TVarType::varNull:
      return "Null";
    case TVarType::varInteger:
      return "Integer";
    case TVarType::varDouble:
      return "Double";
    case TVarType::varString:
      return "String";
    case TVarType::varArray:
      return "Array Variant";
    case TVarType::varNativeInt:
      return "NativeInt";
  }
  return "Unknown";
}

void Variant::ConversionFailed(TVarType target) const {
  throw EVariantError(std::string("Could not convert variant of type (") + TypeName(type_) +
                      ") into type (" + TypeName(target) + ")");
}

bool Variant::TryAsIntegerSlow(std::int32_t& out) const noexcept {
  switch (type_) {
    case TVarType::varEmpty:
      out = 0;
      return true;
    case TVarType::varInteger:
      out = static_cast<std::int32_t>(num_.i64);
      return true;
    case TVarType::varNativeInt:
      if (num_.i64 < std::numeric_limits<std::int32_t>::min() ||
          num_.i64 > std::numeric_limits<std::int32_t>::max())
        return false;
      out = static_cast<std::int32_t>(num_.i64);
      return true;
    case TVarType::varDouble:
      return RoundToInt32(num_.d, out);
    case TVarType::varString:
      return ParseInt32(str_, out);
    case TVarType::varNull:
    case TVarType::varArray:
      return false;
  }
  return false;
}

bool Variant::TryAsDouble(double& out) const noexcept {
  switch (type_) {
    case TVarType::varEmpty:
      out = 0.0;
      return true;
    case TVarType::varInteger:
    case TVarType::varNativeInt:
      out = static_cast<double>(num_.i64);
      return true;
    case TVarType::varDouble:
      out = num_.d;
      return true;
    case TVarType::varString:
      return ParseDouble(str_, out);
    case TVarType::varNull:
    case TVarType::varArray:
      return false;
  }
  return false;
}

std::int32_t Variant::AsIntegerSlow() const {
  std::int32_t value = 0;
  if (!TryAsInteger(value)) ConversionFailed(TVarType::varInteger);
  return value;
}

double Variant::AsDouble() const {
  double value = 0;
  if (!TryAsDouble(value)) ConversionFailed(TVarType::varDouble);
  return value;
}

std::string Variant::AsString() const {
  switch (type_) {
    case TVarType::varEmpty:
    case TVarType::varNull:
      return std::string();
    case TVarType::varInteger:
    case TVarType::varNativeInt:
      return std::to_string(num_.i64);
    case TVarType::varDouble:
      return DoubleToText(num_.d);
    case TVarType::varString:
      return str_;
    case TVarType::varArray:
      break;
  }
  ConversionFailed(TVarType::varString);
}

std::intptr_t Variant::AsNativeInt() const {
  switch (type_) {
    case TVarType::varEmpty:
      return 0;
    case TVarType::varInteger:
    case TVarType::varNativeInt:
      return static_cast<std::intptr_t>(num_.i64);
    default:
      ConversionFailed(TVarType::varNativeInt);
  }
}

void Variant::AssignText(std::string_view text) {
  if (type_ == TVarType::varString) {
    str_.assign(text.data(), text.size());
    return;
  }
  std::string value(text);
  Reset();
  new (&str_) std::string(std::move(value));
  type_ = TVarType::varString;
}

void Variant::ResizeArray(int count) {
  arr_.resize(static_cast<std::size_t>(count < 0 ? 0 : count));
}

bool operator==(const Variant& a, const Variant& b) noexcept {
  if (a.type_ != b.type_) return false;
  switch (a.type_) {
    case TVarType::varEmpty:
    case TVarType::varNull:
      return true;
    case TVarType::varInteger:
    case TVarType::varNativeInt:
      return a.num_.i64 == b.num_.i64;
    case TVarType::varDouble:
      return a.num_.d == b.num_.d;
    case TVarType::varString:
      return a.str_ == b.str_;
    case TVarType::varArray:
      return a.arr_ == b.arr_;
  }
  return false;
}

}  // namespace fernwick

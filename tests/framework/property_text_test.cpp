#include <gtest/gtest.h>

#include <string>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/PropertyText.h>

namespace fernwick {
namespace {

std::string Refusal(void (*convert)(std::string_view), std::string_view text) {
  try {
    convert(text);
  } catch (const EConvertError& e) {
    return e.Message();
  }
  return "accepted";
}

// "'<text>' is not a valid <type> value", built by appending (g++ 12 warns
// falsely about "text" + std::string in the MinGW builds).
std::string NotValid(const char* text, const char* type) {
  std::string message = "'";
  message += text;
  message += "' is not a valid ";
  message += type;
  message += " value";
  return message;
}

TEST(PropertyText, NumbersAreDecimalWithinTheirRange) {
  EXPECT_EQ(ByteFromText("0"), 0);
  EXPECT_EQ(ByteFromText("+255"), 255);
  EXPECT_EQ(ByteToText(224), "224");
  EXPECT_EQ(IntegerFromText("-2147483648"), INT32_MIN);
  EXPECT_EQ(IntegerToText(-5), "-5");
  const auto byte = [](std::string_view t) { ByteFromText(t); };
  const auto integer = [](std::string_view t) { IntegerFromText(t); };
  for (const char* bad : {"256", "-1", "", "+", "1x", " 1", "0x10"}) {
    EXPECT_EQ(Refusal(byte, bad), NotValid(bad, "Byte"));
  }
  for (const char* bad : {"2147483648", "12x", ""}) {
    EXPECT_EQ(Refusal(integer, bad), NotValid(bad, "Integer"));
  }
}

TEST(PropertyText, BooleansAndEnumerationsByName) {
  EXPECT_TRUE(BooleanFromText("true"));
  EXPECT_FALSE(BooleanFromText("FALSE"));
  EXPECT_EQ(BooleanToText(true), "True");
  EXPECT_EQ(Refusal([](std::string_view t) { BooleanFromText(t); }, "yes"),
            "'yes' is not a valid Boolean value");
  EXPECT_EQ(Refusal([](std::string_view t) { RaiseNotAValue(t, "TSyncTypes"); }, "stSometimes"),
            "'stSometimes' is not a valid TSyncTypes value");
}

}  // namespace
}  // namespace fernwick

#include <gtest/gtest.h>

#include <string>

#include "framework/Exceptions.h"
#include "framework/PropertyText.h"

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

TEST(PropertyText, NumbersAreDecimalWithinTheirRange) {
  EXPECT_EQ(ByteFromText("0"), 0);
  EXPECT_EQ(ByteFromText("+255"), 255);
  EXPECT_EQ(ByteToText(224), "224");
  EXPECT_EQ(IntegerFromText("-2147483648"), INT32_MIN);
  EXPECT_EQ(IntegerToText(-5), "-5");
  const auto byte = [](std::string_view t) { ByteFromText(t); };
  const auto integer = [](std::string_view t) { IntegerFromText(t); };
  for (const char* bad : {"256", "-1", "", "+", "1x", " 1", "0x10"}) {
    EXPECT_EQ(Refusal(byte, bad), "'" + std::string(bad) + "' is not a valid Byte value");
  }
  for (const char* bad : {"2147483648", "12x", ""}) {
    EXPECT_EQ(Refusal(integer, bad), "'" + std::string(bad) + "' is not a valid Integer value");
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

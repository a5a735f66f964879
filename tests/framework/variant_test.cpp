#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Variant.h>

namespace fernwick {
namespace {

std::string ConversionMessage(const std::function<void()>& convert) {
  try {
    convert();
  } catch (const EVariantError& e) {
    return e.Message();
  }
  return "no error";
}

TEST(Variant, EmptyAndNullConvertToText) {
  EXPECT_EQ(Variant().AsString(), "");
  EXPECT_EQ(Variant::Null().AsString(), "");
  EXPECT_EQ(Variant().AsInteger(), 0);
  EXPECT_EQ(Variant().AsDouble(), 0.0);
  EXPECT_EQ(ConversionMessage([] { Variant::Null().AsInteger(); }),
            "Could not convert variant of type (Null) into type (Integer)");
}

TEST(Variant, TextParsesAsDecimalNumber) {
  EXPECT_EQ(Variant("42").AsInteger(), 42);
  EXPECT_EQ(Variant(" -7 ").AsInteger(), -7);
  EXPECT_EQ(Variant("+2147483647").AsInteger(), 2147483647);
  EXPECT_EQ(Variant("1.5").AsDouble(), 1.5);
  EXPECT_EQ(Variant("2e3").AsInteger(), 2000);
  EXPECT_EQ(Variant("2.5").AsInteger(), 2);  // half to even
  EXPECT_EQ(Variant("3.5").AsInteger(), 4);
  for (const char* bad : {"", "abc", "12abc", "1.2.3", "0x10", "inf", "nan", "2147483648", "e5"}) {
    EXPECT_EQ(ConversionMessage([bad] { Variant(bad).AsInteger(); }),
              "Could not convert variant of type (String) into type (Integer)")
        << bad;
  }
  EXPECT_EQ(ConversionMessage([] { Variant("x").AsDouble(); }),
            "Could not convert variant of type (String) into type (Double)");
  EXPECT_THROW(Variant("1e999").AsDouble(), EVariantError);
}

TEST(Variant, RealRoundsHalfToEvenAndRefusesOverflow) {
  EXPECT_EQ(Variant(0.5).AsInteger(), 0);
  EXPECT_EQ(Variant(1.5).AsInteger(), 2);
  EXPECT_EQ(Variant(-2.5).AsInteger(), -2);
  EXPECT_EQ(Variant(-2.6).AsInteger(), -3);
  EXPECT_EQ(Variant(2.4999).AsInteger(), 2);
  EXPECT_EQ(ConversionMessage([] { Variant(3e9).AsInteger(); }),
            "Could not convert variant of type (Double) into type (Integer)");
}

TEST(Variant, NumbersToText) {
  EXPECT_EQ(Variant(std::int32_t{-16337}).AsString(), "-16337");
  EXPECT_EQ(Variant(1.5).AsString(), "1.5");
  EXPECT_EQ(Variant(0.1).AsString(), "0.1");
  EXPECT_EQ(Variant(100.0).AsString(), "100");
  EXPECT_EQ(Variant(1e20).AsString(), "1E20");
  EXPECT_EQ(Variant(1.25e-7).AsString(), "1.25E-7");
  EXPECT_EQ(Variant(1.0 / 3).AsString(), "0.333333333333333");
}

TEST(Variant, NativeIntHoldsAFullAddress) {
  int anchor = 0;
  const Variant v = Variant::FromPointer(&anchor);
  EXPECT_EQ(v.VarType(), TVarType::varNativeInt);
  EXPECT_EQ(reinterpret_cast<int*>(v.AsNativeInt()), &anchor);
  const Variant wide = Variant::FromNativeInt(static_cast<std::intptr_t>(INTPTR_MAX));
  EXPECT_EQ(wide.AsString(), std::to_string(INTPTR_MAX));
  if (sizeof(std::intptr_t) > 4) {
    EXPECT_THROW(wide.AsInteger(), EVariantError);
  }
  EXPECT_EQ(Variant::FromNativeInt(12).AsInteger(), 12);
}

TEST(Variant, ArraysCopyWholeAndResizeKeepingElements) {
  Variant a = Variant::Array(3);
  EXPECT_TRUE(a.IsArray());
  EXPECT_EQ(a.ArrayHighBound(), 2);
  a.Element(1) = Variant("text that is long enough to live on the heap");
  Variant b = a;
  b.Element(1) = Variant(std::int32_t{5});
  EXPECT_EQ(a.Element(1).AsString(), "text that is long enough to live on the heap");
  a.ResizeArray(5);
  EXPECT_EQ(a.ArrayLength(), 5);
  EXPECT_EQ(a.Element(1).AsString(), "text that is long enough to live on the heap");
  EXPECT_TRUE(a.Element(4).IsEmpty());
  EXPECT_EQ(ConversionMessage([&] { a.AsString(); }),
            "Could not convert variant of type (Array Variant) into type (String)");
}

TEST(Variant, AssigningAnElementToItsOwnArray) {
  Variant a = Variant::Array(2);
  a.Element(0) = Variant("inner");
  a = a.Element(0);
  EXPECT_EQ(a.AsString(), "inner");
  Variant b = Variant::Array(2);
  b.Element(1) = Variant(std::int32_t{9});
  b = std::move(b.Element(1));
  EXPECT_EQ(b.AsInteger(), 9);
}

TEST(Variant, AssignTextReplacesAnyKind) {
  Variant v = Variant::Array(2);
  v.AssignText("abc");
  EXPECT_EQ(v, Variant("abc"));
  v.AssignText("de");
  EXPECT_EQ(v.AsString(), "de");
}

}  // namespace
}  // namespace fernwick

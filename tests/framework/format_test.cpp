#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Format.h>

namespace fernwick {
namespace {

TEST(Format, IntegersWithWidthPrecisionAndJustification) {
  EXPECT_EQ(Format("%d", {3}), "3");
  EXPECT_EQ(Format("[%5d]", {-42}), "[  -42]");
  EXPECT_EQ(Format("[%-5d]", {42}), "[42   ]");
  EXPECT_EQ(Format("%.5d", {-12}), "-00012");
  EXPECT_EQ(Format("%d", {std::numeric_limits<std::int64_t>::min()}), "-9223372036854775808");
  EXPECT_EQ(Format("%d", {std::numeric_limits<std::uint64_t>::max()}), "18446744073709551615");
  EXPECT_EQ(Format("%u", {-1}), "4294967295");
  EXPECT_EQ(Format("%u", {std::int64_t{-1}}), "18446744073709551615");
  EXPECT_EQ(Format("%x", {255}), "FF");
  EXPECT_EQ(Format("%.4x", {std::uint8_t{10}}), "000A");
  EXPECT_EQ(Format("%x", {-1}), "FFFFFFFF");
  EXPECT_EQ(Format("%D and %X", {7, 171}), "7 and AB");
}

TEST(Format, RealsInEveryStyle) {
  EXPECT_EQ(Format("%f", {3.14159}), "3.14");
  EXPECT_EQ(Format("%.3f", {-2.0}), "-2.000");
  // Halves round away from zero, on the decimal digits of the value.
  EXPECT_EQ(Format("%.0f", {2.5}), "3");
  EXPECT_EQ(Format("%.0f", {-0.5}), "-1");
  EXPECT_EQ(Format("%.1f", {9.96}), "10.0");
  EXPECT_EQ(Format("%.2f", {-0.001}), "0.00");
  EXPECT_EQ(Format("%f", {1e20}), "100000000000000000000.00");
  EXPECT_EQ(Format("%.3f", {0.0005}), "0.001");
  EXPECT_EQ(Format("%e", {1.0}), "1.00000000000000E+000");
  EXPECT_EQ(Format("%.3e", {-12345.678}), "-1.23E+004");
  EXPECT_EQ(Format("%.2e", {1e-300}), "1.0E-300");
  EXPECT_EQ(Format("%g", {0.5}), "0.5");
  EXPECT_EQ(Format("%g", {100.0}), "100");
  EXPECT_EQ(Format("%g", {1e20}), "1E20");
  EXPECT_EQ(Format("%g", {1.5e-7}), "1.5E-7");
  EXPECT_EQ(Format("%g", {0.0}), "0");
  EXPECT_EQ(Format("%.3g", {1234.0}), "1.23E3");
  EXPECT_EQ(Format("%n", {1234567.891}), "1,234,567.89");
  EXPECT_EQ(Format("%.0n", {-999.0}), "-999");
  EXPECT_EQ(Format("%m", {1234.5}), "$1,234.50");
  EXPECT_EQ(Format("%m", {-0.25}), "($0.25)");
  EXPECT_EQ(Format("%f %e", {std::nan(""), -std::numeric_limits<double>::infinity()}), "NAN -INF");
  EXPECT_EQ(Format("[%8.2f]", {1.0f}), "[    1.00]");
}

TEST(Format, TextsPointersAndPercent) {
  EXPECT_EQ(Format("%s-%s", {"ab", std::string("cd")}), "ab-cd");
  EXPECT_EQ(Format("%.2s|%-4s|%4s", {"abcdef", "x", 'y'}), "ab|x   |   y");
  EXPECT_EQ(Format("100%%", {}), "100%");
  int value = 0;
  const std::string pointer = Format("%p", {static_cast<const void*>(&value)});
  EXPECT_EQ(pointer.size(), sizeof(void*) * 2);
  EXPECT_EQ(pointer.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(Format("%p", {nullptr}), std::string(sizeof(void*) * 2, '0'));
}

TEST(Format, IndexesAndStarArguments) {
  EXPECT_EQ(Format("%1:s %0:s %s", {"a", "b", "c"}), "b a b");
  EXPECT_EQ(Format("%0:s%0:s", {"x"}), "xx");
  EXPECT_EQ(Format("[%*d]", {4, 7}), "[   7]");
  EXPECT_EQ(Format("[%-*.*f]", {7, 1, 2.25}), "[2.3    ]");
  EXPECT_EQ(Format("[%0:-3d]", {5}), "[5  ]");
  EXPECT_EQ(Format("%d", {1, 2, 3}), "1");
}

TEST(Format, MismatchOrMissingArgumentRaisesNamingTheFormat) {
  try {
    Format("%d %d", {1});
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format '%d %d' invalid or incompatible with argument");
  }
  EXPECT_THROW(Format("%d", {"3"}), EConvertError);
  EXPECT_THROW(Format("%d", {1.5}), EConvertError);
  EXPECT_THROW(Format("%f", {1}), EConvertError);
  EXPECT_THROW(Format("%s", {42}), EConvertError);
  EXPECT_THROW(Format("%p", {"x"}), EConvertError);
  EXPECT_THROW(Format("%x", {2.0}), EConvertError);
  EXPECT_THROW(Format("%*d", {"4", 7}), EConvertError);
  EXPECT_THROW(Format("%k", {1}), EConvertError);
  EXPECT_THROW(Format("50%", {}), EConvertError);
  EXPECT_THROW(Format("%3:d", {1}), EConvertError);
  EXPECT_THROW(Format("%.d", {1}), EConvertError);
  // A width that would ask for a huge text is refused, not allocated.
  EXPECT_THROW(Format("%99999999999d", {1}), EConvertError);
  EXPECT_THROW(Format("%*d", {std::int64_t{1} << 40, 1}), EConvertError);
}

TEST(Format, CopiedCharacterArgumentKeepsItsText) {
  const FormatArg original('q');
  const FormatArg copy = original;
  EXPECT_EQ(copy.Text(), "q");
  EXPECT_NE(copy.Text().data(), original.Text().data());
}

}  // namespace
}  // namespace fernwick

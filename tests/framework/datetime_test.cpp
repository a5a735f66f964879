#include <gtest/gtest.h>

#include <cmath>

#include <fernwick/framework/DateTime.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {
namespace {

struct Ymd {
  int y, m, d;
};

Ymd Decode(TDateTime value) {
  Ymd r{};
  DecodeDate(value, r.y, r.m, r.d);
  return r;
}

TEST(DateTime, EncodeDateCountsFromTheFrameworkOrigin) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(1904, 1, 1), 1462.0);
  EXPECT_EQ(EncodeDate(2000, 1, 15), 36540.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
}

TEST(DateTime, DecodeDateInvertsEncodeAcrossCenturies) {
  for (int year : {1, 1600, 1899, 1900, 1904, 1968, 2000, 2031, 2100, 9999}) {
    for (int month = 1; month <= 12; ++month) {
      for (int day : {1, 28, DaysInMonth(year, month)}) {
        // Before the origin a time of day is subtracted (the whole part
        // counts the days towards zero).
        const TDateTime date = EncodeDate(year, month, day);
        const Ymd r = Decode(date < 0 ? date - 0.75 : date + 0.75);
        EXPECT_EQ(r.y, year);
        EXPECT_EQ(r.m, month);
        EXPECT_EQ(r.d, day);
      }
    }
  }
}

TEST(DateTime, InvalidDatesRaise) {
  for (auto [y, m, d] : {Ymd{2001, 2, 29}, Ymd{2000, 13, 1}, Ymd{2000, 0, 1}, Ymd{2000, 4, 31},
                         Ymd{0, 1, 1}, Ymd{10000, 1, 1}, Ymd{1999, 1, 0}}) {
    try {
      EncodeDate(y, m, d);
      ADD_FAILURE() << y << "-" << m << "-" << d;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }
  }
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
}

TEST(DateTime, TimeEncodingAndDecoding) {
  const TDateTime t = EncodeTime(13, 45, 59, 250);
  int h = 0, m = 0, s = 0, ms = 0;
  DecodeTime(t + 36540, h, m, s, ms);
  EXPECT_EQ(h, 13);
  EXPECT_EQ(m, 45);
  EXPECT_EQ(s, 59);
  EXPECT_EQ(ms, 250);
  EXPECT_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  // Before the origin the fraction still counts the time of day.
  DecodeTime(-1.25, h, m, s, ms);
  EXPECT_EQ(h, 6);
  const Ymd r = Decode(-1.25);
  EXPECT_EQ(r.y, 1899);
  EXPECT_EQ(r.d, 29);
  try {
    EncodeTime(24, 0, 0, 0);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to time encode");
  }
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 0, 1000), EConvertError);
}

TEST(DateTime, NonsenseValuesDecodeAsZero) {
  for (TDateTime bad : {double{NAN}, double{INFINITY}, 1e300, -1e9}) {
    const Ymd r = Decode(bad);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.m, 0);
    EXPECT_EQ(r.d, 0);
  }
}

}  // namespace
}  // namespace fernwick

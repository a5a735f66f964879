// The field type table of docs/conduit-guide.md, row by row: what each type
// stores, how GetAsInteger, GetAsString and GetAsDateTime read it back, and
// what becomes of a value that does not fit.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/DateTime.h>

namespace fernwick {
namespace {

class FieldTypes : public ::testing::Test {
 protected:
  TDorvPalmField& Field(TDorvPalmFieldType type, std::int32_t size = 0) {
    db_.Fields().Clear();
    TDorvPalmField* field = db_.AddField("F", type, size);
    return *field;
  }
  // Encodes the field list, returns the bytes, then decodes them again.
  std::vector<std::uint8_t> RoundTrip() {
    std::uint32_t used = 0;
    std::vector<std::uint8_t> buffer(16, 0xAA);
    db_.SetBufferFromFieldValues(buffer.data(), static_cast<std::int32_t>(buffer.size()),
                                 db_.Fields(), used, false);
    buffer.resize(used);
    db_.GetFieldValuesFromBuffer(buffer.data(), static_cast<std::int32_t>(buffer.size()),
                                 db_.Fields(), false);
    return buffer;
  }
  using Bytes = std::vector<std::uint8_t>;

  TDorvConduitDb db_{nullptr};
};

TEST_F(FieldTypes, IntegersKeepTheirLowBytes) {
  TDorvPalmField& byte = Field(pftByte);
  byte.SetAsInteger(300);
  EXPECT_EQ(RoundTrip(), Bytes{44});
  EXPECT_EQ(byte.GetAsInteger(), 44);
  byte.SetAsInteger(-1);
  RoundTrip();
  EXPECT_EQ(byte.GetAsInteger(), 255);  // unsigned
  EXPECT_EQ(byte.GetAsString(), "255");

  TDorvPalmField& small = Field(pftSmallint);
  small.SetAsInteger(40000);
  EXPECT_EQ(RoundTrip(), (Bytes{0x9C, 0x40}));
  EXPECT_EQ(small.GetAsInteger(), -25536);  // signed

  TDorvPalmField& big = Field(pftLongint);
  big.SetAsInteger(-5);
  EXPECT_EQ(RoundTrip(), (Bytes{0xFF, 0xFF, 0xFF, 0xFB}));
  EXPECT_EQ(big.GetAsInteger(), -5);
  EXPECT_EQ(big.GetAsDateTime(), 0);
  big.SetAsString("3000000000");  // no 32-bit integer: refused when encoded
  EXPECT_THROW(RoundTrip(), EVariantError);
}

TEST_F(FieldTypes, BooleanAndRealsAreNotReadAsIntegers) {
  TDorvPalmField& flag = Field(pftBoolean);
  flag.SetAsString("2");
  EXPECT_EQ(RoundTrip(), Bytes{2});
  EXPECT_EQ(flag.GetAsInteger(), 0);
  EXPECT_EQ(flag.GetAsString(), "2");
  flag.SetAsInteger(1);  // ignored: pftBoolean is no integer type
  EXPECT_EQ(flag.GetAsString(), "2");

  TDorvPalmField& single = Field(pftSingle);
  single.SetAsString("0.1");
  EXPECT_EQ(RoundTrip(), (Bytes{0x3D, 0xCC, 0xCC, 0xCD}));
  EXPECT_EQ(single.GetAsString(), "0.100000001490116");
  EXPECT_EQ(single.GetAsInteger(), 0);
  single.SetAsString("1e39");
  RoundTrip();
  EXPECT_EQ(single.GetAsString(), "INF");

  TDorvPalmField& real = Field(pftDouble);
  real.SetAsString("0.1");
  EXPECT_EQ(RoundTrip().size(), 8u);
  EXPECT_EQ(real.GetAsString(), "0.1");
}

TEST_F(FieldTypes, DatesAndTimesReadBackSigned) {
  TDorvPalmField& date = Field(pftDate);
  date.SetAsDateTime(EncodeDate(2010, 2, 28));
  EXPECT_EQ(RoundTrip(), (Bytes{0xD4, 0x5C}));
  EXPECT_EQ(date.GetAsInteger(), -11172);
  EXPECT_EQ(date.GetAsString(), "-11172");
  EXPECT_EQ(date.GetAsDateTime(), EncodeDate(2010, 2, 28));
  date.SetAsDateTime(EncodeDate(1904, 1, 1));
  RoundTrip();
  EXPECT_EQ(date.GetAsInteger(), 33);
  date.SetAsInteger(0xFFFF);  // "no date"
  RoundTrip();
  EXPECT_EQ(date.GetAsInteger(), -1);
  EXPECT_EQ(date.GetAsDateTime(), 0);
  EXPECT_THROW(date.SetAsDateTime(EncodeDate(2032, 1, 1)), EConvertError);
  EXPECT_EQ(date.GetAsInteger(), 0);

  TDorvPalmField& time = Field(pftTime);
  time.SetAsDateTime(EncodeTime(13, 45, 30, 0));
  EXPECT_EQ(RoundTrip(), (Bytes{13, 45}));
  EXPECT_EQ(time.GetAsInteger(), 13 * 256 + 45);
  EXPECT_EQ(time.GetAsDateTime(), EncodeTime(13, 45, 0, 0));
  time.SetAsInteger(0xFFFF);  // an untimed event's bytes
  RoundTrip();
  EXPECT_EQ(time.GetAsInteger(), -1);
  EXPECT_EQ(time.GetAsDateTime(), 0);
}

TEST_F(FieldTypes, StringsAndBlobs) {
  TDorvPalmField& text = Field(pftString);
  text.SetAsString("42");
  EXPECT_EQ(RoundTrip(), (Bytes{'4', '2', 0}));
  EXPECT_EQ(text.GetAsString(), "42");
  EXPECT_EQ(text.GetAsInteger(), 0);

  TDorvPalmField& fixed = Field(pftString, 4);
  fixed.SetAsString("hello");
  EXPECT_EQ(RoundTrip(), (Bytes{'h', 'e', 'l', 0}));
  EXPECT_EQ(fixed.GetAsString(), "hel");
  fixed.SetAsString(std::string(20, 'x'));
  fixed.SetSize(20);  // does not fit the 16-byte buffer: dropped
  EXPECT_EQ(RoundTrip(), Bytes{});

  db_.Fields().Clear();
  db_.AddField("B", pftBlob, 3);
  const std::uint8_t bytes[] = {7, 8, 9};
  db_.GetFieldValuesFromBuffer(bytes, 3, db_.Fields(), false);
  EXPECT_EQ(DorvBlobBytes(db_.FieldByName("B")->Value()), bytes);
}

}  // namespace
}  // namespace fernwick

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/db/RecordCodec.h>
#include <fernwick/framework/Exceptions.h>

namespace fernwick {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Encodes and decodes through the record codec alone, with buffers exactly
// as large as asked so that the sanitizers see any access past their end.
class CodecTest : public ::testing::Test {
 protected:
  TDorvPalmField* Add(TDorvPalmFieldType type, std::int32_t size = 0, std::int32_t array_size = 1) {
    TDorvPalmField* f = fields_.Add();
    std::string name = "F";
    name += std::to_string(fields_.Count() - 1);
    f->SetFieldName(name);
    f->SetDataType(type);
    f->SetSize(size);
    f->SetArraySize(array_size);
    return f;
  }
  TDorvPalmField* F(int i) { return fields_.Items(i); }

  // The used bytes of an encoding into a zero-filled buffer of `capacity`.
  Bytes Encode(std::int32_t capacity = 64, bool test_exists = false) {
    Bytes buffer(static_cast<std::size_t>(capacity), 0);
    std::uint32_t used = 0xDEAD;
    DorvEncodeRecord(buffer.data(), capacity, fields_, align_, used,
                     test_exists ? write_exists_ : TDorvElementTest());
    EXPECT_LE(used, static_cast<std::uint32_t>(capacity));
    buffer.resize(used);
    return buffer;
  }
  void Decode(const Bytes& bytes, bool test_exists = false) {
    DorvDecodeRecord(bytes.data(), static_cast<std::int32_t>(bytes.size()), fields_, align_,
                     test_exists ? read_exists_ : TDorvElementTest());
  }
  std::string EncodeError(std::int32_t capacity) {
    try {
      Encode(capacity);
    } catch (const EDorvConduitError& e) {
      return e.Message() + " / " + std::to_string(e.ErrorCode());
    }
    return "no error";
  }

  TDorvPalmFields fields_{nullptr};
  bool align_ = false;
  TDorvElementTest read_exists_;
  TDorvElementTest write_exists_;
};

TEST_F(CodecTest, MixedRecordWithAndWithoutAlignment) {
  Add(pftLongint)->SetAsInteger(258);
  Add(pftByte)->SetAsInteger(1);
  Add(pftString)->SetAsString("abc");
  Add(pftDate)->SetAsDateTime(EncodeDate(2000, 1, 15));
  const Bytes aligned = {0, 0, 1, 2, 1, 0, 'a', 'b', 'c', 0, 0xC0, 0x2F};
  const Bytes packed = {0, 0, 1, 2, 1, 'a', 'b', 'c', 0, 0xC0, 0x2F};

  align_ = true;
  EXPECT_EQ(Encode(), aligned);
  align_ = false;
  EXPECT_EQ(Encode(), packed);

  for (bool align : {true, false}) {
    align_ = align;
    for (int i = 0; i < 4; ++i) F(i)->SetAsString("stale");
    Decode(align ? aligned : packed);
    EXPECT_EQ(F(0)->Value(), Variant(std::int32_t{258}));
    EXPECT_EQ(F(1)->Value(), Variant(std::int32_t{1}));
    EXPECT_EQ(F(2)->Value(), Variant("abc"));
    EXPECT_EQ(F(3)->Value(), Variant(std::int32_t{-16337}));
    EXPECT_EQ(F(3)->GetAsDateTime(), EncodeDate(2000, 1, 15));
  }
}

TEST_F(CodecTest, AlignmentPadsEveryElement) {
  align_ = true;
  Add(pftByte)->SetAsInteger(0x11);
  Add(pftByte)->SetAsInteger(0x22);
  TDorvPalmField* longs = Add(pftLongint, 0, 3);
  for (int i = 0; i < 3; ++i) longs->SetArrayValue(i, Variant(std::int32_t{i + 1}));
  const Bytes expected = {0x11, 0, 0x22, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3};
  EXPECT_EQ(Encode(), expected);
  longs->SetArraySize(1);
  Decode(expected);
  EXPECT_EQ(F(1)->GetAsInteger(), 0x22);
  EXPECT_EQ(F(2)->GetAsInteger(), 1);
}

TEST_F(CodecTest, FixedSizeStringsAreCutAndPadded) {
  TDorvPalmField* s = Add(pftString, 6);
  Add(pftByte)->SetAsInteger(7);
  s->SetAsString("abcdefgh");
  EXPECT_EQ(Encode(), (Bytes{'a', 'b', 'c', 'd', 'e', 0, 7}));
  s->SetAsString("ab");
  Bytes buffer(7, 0xEE);  // the tail of the string is left as it was
  std::uint32_t used = 0;
  DorvEncodeRecord(buffer.data(), 7, fields_, align_, used);
  EXPECT_EQ(used, 7u);
  EXPECT_EQ(buffer, (Bytes{'a', 'b', 0, 0xEE, 0xEE, 0xEE, 7}));

  Decode({'a', 'b', 'c', 'd', 'e', 0, 9});
  EXPECT_EQ(s->GetAsString(), "abcde");
  EXPECT_EQ(F(1)->GetAsInteger(), 9);
  Decode({'a', 'b', 0, 'x', 'y', 'z', 9});
  EXPECT_EQ(s->GetAsString(), "ab");
  EXPECT_EQ(F(1)->GetAsInteger(), 9);
}

TEST_F(CodecTest, StringFilledToTheBrim) {
  TDorvPalmField* s = Add(pftString, 6);
  TDorvPalmField* next = Add(pftByte);
  Decode({'a', 'b', 'c', 'd', 'e', 'f', 9, 0});
  EXPECT_EQ(s->GetAsString(), "abcdef");
  EXPECT_EQ(next->GetAsInteger(), 9);
  // Filled to the brim at the very end of the buffer: the next field lies
  // beyond it and must not reread the string's last byte.
  Decode({'a', 'b', 'c', 'd', 'e', 'f'});
  EXPECT_EQ(s->GetAsString(), "abcdef");
  EXPECT_TRUE(next->Value().IsEmpty());
}

TEST_F(CodecTest, EmptyValuesAndConversionsOnEncoding) {
  Add(pftString);
  Add(pftSmallint);
  Add(pftString, 3);
  Add(pftDouble);
  EXPECT_EQ(Encode(), Bytes(1 + 2 + 3 + 8, 0));

  fields_.Clear();
  Add(pftString)->SetArrayValue(0, Variant(std::int32_t{42}));
  Add(pftLongint)->SetAsString("42");
  EXPECT_EQ(Encode(), (Bytes{'4', '2', 0, 0, 0, 0, 0x2A}));

  F(1)->SetAsString("4x2");
  try {
    Encode();
    ADD_FAILURE();
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Could not convert variant of type (String) into type (Integer)");
  }
}

TEST_F(CodecTest, EmptyFieldList) {
  EXPECT_EQ(Encode(), Bytes{});
  Decode({1, 2, 3});
  EXPECT_EQ(fields_.Count(), 0);
}

TEST_F(CodecTest, EveryTypeRoundTrips) {
  Add(pftUnknown);
  Add(pftByte)->SetAsInteger(255);
  Add(pftSmallint)->SetAsInteger(-2);
  Add(pftLongint)->SetAsInteger(INT32_MIN);
  Add(pftBoolean)->SetArrayValue(0, Variant(std::int32_t{1}));
  Add(pftSingle)->SetArrayValue(0, Variant(1.5));
  Add(pftDouble)->SetArrayValue(0, Variant(1.5));
  Add(pftTime)->SetAsDateTime(EncodeTime(13, 45, 0, 0));
  Add(pftString)->SetAsString("x");
  const Bytes expected = {0xFF, 0xFF, 0xFE, 0x80, 0, 0, 0, 1, 0x3F, 0xC0, 0,   0,
                          0x3F, 0xF8, 0,    0,    0, 0, 0, 0, 0x0D, 0x2D, 'x', 0};
  EXPECT_EQ(Encode(), expected);
  std::vector<Variant> before;
  for (int i = 0; i < fields_.Count(); ++i) before.push_back(F(i)->Value());
  for (int i = 0; i < fields_.Count(); ++i) F(i)->SetAsString("stale");
  Decode(expected);
  for (int i = 0; i < fields_.Count(); ++i) EXPECT_EQ(F(i)->Value(), before[i]) << i;
  // The encoder keeps only the low bytes of numbers.
  F(1)->SetAsInteger(0x1FF);
  F(2)->SetAsInteger(0x12345);
  F(5)->SetArrayValue(0, Variant(1e300));
  const Bytes cut = Encode();
  EXPECT_EQ(cut[0], 0xFF);
  EXPECT_EQ(cut[1], 0x23);
  EXPECT_EQ(cut[2], 0x45);
  EXPECT_EQ(Bytes(cut.begin() + 8, cut.begin() + 12), (Bytes{0x7F, 0x80, 0, 0}));  // infinity
}

// A real is stored as the nearest single (round to nearest, ties to even):
// just above the largest single it is still the largest single; only from
// the rounding boundary (largest + half a unit in the last place) on is it
// an infinity.
TEST_F(CodecTest, SingleRoundsToNearestAtTheTopOfItsRange) {
  Add(pftSingle);
  const double max = std::numeric_limits<float>::max();
  const double half_ulp = std::ldexp(1.0, 103);
  const Bytes largest = {0x7F, 0x7F, 0xFF, 0xFF};
  const Bytes infinity = {0x7F, 0x80, 0x00, 0x00};
  const auto encoded = [&](double value) {
    F(0)->SetArrayValue(0, Variant(value));
    return Encode();
  };
  EXPECT_EQ(encoded(max), largest);
  EXPECT_EQ(encoded(std::nextafter(max, 1e300)), largest);
  EXPECT_EQ(encoded(max + half_ulp / 2), largest);
  EXPECT_EQ(encoded(std::nextafter(max + half_ulp, 0.0)), largest);
  EXPECT_EQ(encoded(max + half_ulp), infinity);
  EXPECT_EQ(encoded(1e300), infinity);
  EXPECT_EQ(encoded(-(max + half_ulp / 2)), (Bytes{0xFF, 0x7F, 0xFF, 0xFF}));
  EXPECT_EQ(encoded(-(max + half_ulp)), (Bytes{0xFF, 0x80, 0x00, 0x00}));
  EXPECT_EQ(encoded(1.0 + std::ldexp(1.0, -24)), (Bytes{0x3F, 0x80, 0x00, 0x00}));  // a tie
}

TEST_F(CodecTest, BlobBetweenFieldsIsLocatedNotCopied) {
  Add(pftByte)->SetAsInteger(1);
  TDorvPalmField* blob = Add(pftBlob, 4);
  Add(pftByte)->SetAsInteger(2);
  const Bytes record = {1, 0xB0, 0xB1, 0xB2, 0xB3, 2};
  Decode(record);
  EXPECT_EQ(blob->Value().VarType(), TVarType::varNativeInt);
  EXPECT_EQ(DorvBlobBytes(blob->Value()), record.data() + 1);  // the full address
  EXPECT_EQ(F(2)->GetAsInteger(), 2);
  Bytes buffer = record;
  buffer[0] = buffer[5] = 0;
  std::uint32_t used = 0;
  DorvEncodeRecord(buffer.data(), 6, fields_, align_, used);
  EXPECT_EQ(used, 6u);
  EXPECT_EQ(buffer, record);
}

TEST_F(CodecTest, AbsentElementsTakeNoBytesAndNoPadding) {
  align_ = true;
  TDorvPalmField* flags = Add(pftByte);
  TDorvPalmField* optional = Add(pftLongint, 0, 2);
  Add(pftByte)->SetAsInteger(5);
  optional->SetArrayValue(0, Variant(std::int32_t{0x01020304}));
  optional->SetArrayValue(1, Variant(std::int32_t{0x05060708}));
  // Element 1 of the optional field exists only when the flags byte says so.
  auto handler = [&](TDorvPalmField& field, std::int32_t index) {
    return !(&field == optional && index == 1) || flags->GetAsInteger() != 0;
  };
  read_exists_ = handler;
  write_exists_ = handler;

  flags->SetAsInteger(0);
  const Bytes without = Encode(64, true);
  EXPECT_EQ(without, (Bytes{0, 0, 1, 2, 3, 4, 5, 0}));
  flags->SetAsInteger(1);
  const Bytes with = Encode(64, true);
  EXPECT_EQ(with, (Bytes{1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 5, 0}));
  EXPECT_EQ(Encode(64, false).size(), 12u);  // without the test every element is there

  Decode(without, true);
  EXPECT_EQ(optional->GetArrayValue(0), Variant(std::int32_t{0x01020304}));
  EXPECT_TRUE(optional->GetArrayValue(1).IsEmpty());
  EXPECT_EQ(F(2)->GetAsInteger(), 5);
  Decode(with, true);  // the handler reads the flags decoded from this record
  EXPECT_EQ(optional->GetArrayValue(1), Variant(std::int32_t{0x05060708}));
}

TEST_F(CodecTest, WriteAnswersAreGatheredBeforeAnyByteIsWritten) {
  Add(pftByte)->SetAsInteger(1);
  Add(pftByte)->SetAsInteger(2);
  Bytes buffer(4, 0xEE);
  int asked = 0;
  auto exists = [&](TDorvPalmField&, std::int32_t) {
    EXPECT_EQ(buffer, Bytes(4, 0xEE));
    if (++asked == 2) throw Exception("handler failed");
    return true;
  };
  std::uint32_t used = 77;
  EXPECT_THROW(DorvEncodeRecord(buffer.data(), 4, fields_, false, used, exists), Exception);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(used, 77u);
  EXPECT_EQ(buffer, Bytes(4, 0xEE));
}

TEST_F(CodecTest, ShortRecordInAZeroFilledBuffer) {
  Add(pftLongint)->SetAsInteger(1);
  Add(pftString)->SetAsString("a");
  Add(pftSmallint)->SetAsInteger(3);
  Add(pftString)->SetAsString("b");
  Bytes buffer(kDorvMaxLayoutLength, 0);
  buffer[3] = 9;  // a stored record of four bytes
  DorvDecodeRecord(buffer.data(), kDorvMaxLayoutLength, fields_, false,
                   [](TDorvPalmField&, std::int32_t) { return true; });
  EXPECT_EQ(F(0)->Value(), Variant(std::int32_t{9}));
  EXPECT_EQ(F(1)->Value(), Variant(""));
  EXPECT_EQ(F(2)->Value(), Variant(std::int32_t{0}));
  EXPECT_EQ(F(3)->Value(), Variant(""));
}

TEST_F(CodecTest, BufferShorterThanTheLayout) {
  Add(pftByte);
  Add(pftString);
  Add(pftLongint);
  Decode({1, 'a', 'b', 'c'});
  EXPECT_EQ(F(0)->GetAsInteger(), 1);
  EXPECT_EQ(F(1)->GetAsString(), "abc");
  EXPECT_TRUE(F(2)->Value().IsEmpty());
  Decode({1, 'a', 0, 0, 0, 1});  // three of the longint's four bytes
  EXPECT_TRUE(F(2)->Value().IsEmpty());
}

TEST_F(CodecTest, FitOfTheLayoutToTheBytes) {
  Add(pftByte);
  Add(pftString);
  Add(pftString, 4);
  Add(pftLongint);
  const auto fit = [&](const Bytes& bytes) {
    TDorvDecodeFit result{99, {99}};
    DorvDecodeRecord(bytes.data(), static_cast<std::int32_t>(bytes.size()), fields_, align_, {},
                     &result);
    return std::pair(result.Used, result.PastEnd);
  };
  using Fit = std::pair<std::int64_t, std::vector<int>>;
  EXPECT_EQ(fit({1, 'a', 0, 'x', 'y', 0, 0, 0, 0, 0, 2}), Fit(11, {}));
  EXPECT_EQ(fit({1, 'a', 0, 'x', 'y', 0, 0, 0, 0, 0, 2, 7, 7}), Fit(11, {}));  // 2 left over
  EXPECT_EQ(fit({1, 'a', 0, 'x', 'y', 0, 0, 0, 0, 0}), Fit(10, {3}));
  EXPECT_EQ(fit({1, 'a', 0, 'x', 'y'}), Fit(5, {2, 3}));  // a fixed-size string cut short
  EXPECT_EQ(fit({1, 'a', 'b'}), Fit(3, {1, 2, 3}));       // no zero byte
  EXPECT_EQ(fit({}), Fit(0, {0, 1, 2, 3}));
  // With alignment a record may end without the padding byte of its last
  // element.
  align_ = true;
  EXPECT_EQ(fit({1, 0, 'a', 0, 'x', 'y', 0, 0, 0, 0, 0, 2}), Fit(12, {}));
  F(3)->SetDataType(pftByte);
  EXPECT_EQ(fit({1, 0, 'a', 0, 'x', 'y', 0, 0, 5}), Fit(9, {}));
}

TEST_F(CodecTest, WritingPastTheEndOfTheBuffer) {
  Add(pftByte)->SetAsInteger(1);
  Add(pftString)->SetAsString("abc");
  Add(pftLongint)->SetAsInteger(2);
  EXPECT_EQ(Encode(9).size(), 9u);
  EXPECT_EQ(EncodeError(8), "Attempting to write past end of record buffer / 0");
  Bytes buffer(8, 0xEE);
  std::uint32_t used = 77;
  EXPECT_THROW(DorvEncodeRecord(buffer.data(), 8, fields_, align_, used), EDorvConduitError);
  EXPECT_EQ(used, 77u);
  EXPECT_EQ(buffer, (Bytes{1, 'a', 'b', 'c', 0, 0xEE, 0xEE, 0xEE}));
  // A string that does not fit is dropped without an error and takes no room.
  F(2)->SetDataType(pftString);
  F(2)->SetAsString("long");
  EXPECT_EQ(Encode(8), (Bytes{1, 'a', 'b', 'c', 0}));
}

TEST_F(CodecTest, SizesBeyondWhatIsLeftNeverWrapAround) {
  // A fixed-size string longer than the 16-bit position range: the element
  // after it lies beyond any buffer, in both directions.
  TDorvPalmField* s = Add(pftString, 65536 + 4);
  TDorvPalmField* after = Add(pftByte);
  Bytes record = {'a', 'b', 0, 0, 42, 0};
  Decode(record);
  EXPECT_EQ(s->GetAsString(), "ab");
  EXPECT_TRUE(after->Value().IsEmpty());
  after->SetAsInteger(42);
  EXPECT_EQ(Encode(64), Bytes{42});  // the string does not fit: dropped, no room taken

  // A blob larger than what is left.
  fields_.Clear();
  Add(pftByte);
  TDorvPalmField* blob = Add(pftBlob, 100);
  Decode({1, 2, 3});
  EXPECT_TRUE(blob->Value().IsEmpty());
  EXPECT_EQ(EncodeError(50), "Attempting to write past end of record buffer / 0");
  blob->SetSize(0x7FFFFFFF);
  Add(pftBlob, 0x7FFFFFFF);
  Add(pftString, 0x7FFFFFFF, 3);
  Decode({1, 2, 3});
  EXPECT_EQ(F(0)->GetAsInteger(), 1);
  EXPECT_EQ(F(3)->GetArrayValue(2), Variant(""));
}

TEST_F(CodecTest, NegativeSizeIsRefusedNamingTheField) {
  Add(pftByte)->SetAsInteger(3);
  TDorvPalmField* bad = Add(pftString, -2);
  bad->SetFieldName("Company");
  try {
    Decode({9, 'x', 0});
    ADD_FAILURE();
  } catch (const EDorvConduitError& e) {
    EXPECT_EQ(e.Message(), "Field Company has a negative Size (-2)");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
  EXPECT_EQ(F(0)->GetAsInteger(), 3);  // nothing was decoded
  bad->SetDataType(pftBlob);
  bad->SetSize(-1);
  Bytes buffer(8, 0xEE);
  std::uint32_t used = 0;
  EXPECT_THROW(DorvEncodeRecord(buffer.data(), 8, fields_, align_, used), EDorvConduitError);
  EXPECT_EQ(buffer, Bytes(8, 0xEE));
}

TEST_F(CodecTest, BufferLengthOutsideTheLayoutRange) {
  Add(pftByte)->SetAsInteger(1);
  Bytes one = {5};
  DorvDecodeRecord(one.data(), -1, fields_, align_);
  EXPECT_TRUE(F(0)->Value().IsEmpty());
  std::uint32_t used_negative = 0;
  EXPECT_THROW(DorvEncodeRecord(one.data(), -5, fields_, align_, used_negative), EDorvConduitError);
  EXPECT_EQ(one[0], 5);

  // Above 65535 the layout is still bounded by 65535 bytes.
  fields_.Clear();
  Add(pftBlob, 65535);
  Add(pftByte)->SetAsInteger(1);
  Bytes big(70000, 0);
  std::uint32_t used = 0;
  EXPECT_THROW(DorvEncodeRecord(big.data(), 70000, fields_, align_, used), EDorvConduitError);
  DorvDecodeRecord(big.data(), 70000, fields_, align_);
  EXPECT_TRUE(F(1)->Value().IsEmpty());
}

TEST_F(CodecTest, TrailingPaddingNeverCountsPastTheBuffer) {
  align_ = true;
  Add(pftString)->SetAsString("ab");
  Add(pftByte)->SetAsInteger(9);
  EXPECT_EQ(Encode(5), (Bytes{'a', 'b', 0, 0, 9}));
  EXPECT_EQ(Encode(6).size(), 6u);
}

// The component's codec methods forward to the codec with its AlignOnWord
// and, when asked to, its existence events (called with the component).
TEST(TDorvConduitDb, CodecMethodsForwardWithAlignmentAndExistenceEvents) {
  TDorvConduitDb db(nullptr);
  TDorvPalmField* f = db.AddField("F", pftByte, 0);
  f->SetArraySize(2);
  f->SetArrayValue(0, Variant(std::int32_t{1}));
  f->SetArrayValue(1, Variant(std::int32_t{2}));
  EXPECT_TRUE(db.TestFieldExistsForRead(*f, 0));
  EXPECT_TRUE(db.TestFieldExistsForWrite(*f, 3));
  auto second_absent = [&](TDorvConduitDb& sender, TDorvPalmField&, std::int32_t i, bool& e) {
    EXPECT_EQ(&sender, &db);
    EXPECT_TRUE(e);
    e = i != 1;
  };
  db.SetOnTestFieldExistsForRead(second_absent);
  EXPECT_TRUE(db.TestFieldExistsForRead(*f, 0));
  EXPECT_FALSE(db.TestFieldExistsForRead(*f, 1));
  EXPECT_TRUE(db.TestFieldExistsForWrite(*f, 1));
  db.SetOnTestFieldExistsForWrite(second_absent);

  db.SetAlignOnWord(true);
  Bytes buffer(8, 0xEE);
  std::uint32_t used = 0;
  db.SetBufferFromFieldValues(buffer.data(), 8, db.Fields(), used, true);
  EXPECT_EQ(used, 2u);
  EXPECT_EQ(buffer[0], 1);
  db.SetBufferFromFieldValues(buffer.data(), 8, db.Fields(), used, false);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(buffer[2], 2);

  const Bytes record = {7, 0, 8, 0};
  db.GetFieldValuesFromBuffer(record.data(), 4, db.Fields(), true);
  EXPECT_EQ(f->GetArrayValue(0), Variant(std::int32_t{7}));
  EXPECT_TRUE(f->GetArrayValue(1).IsEmpty());
  db.GetFieldValuesFromBuffer(record.data(), 4, db.Fields(), false);
  EXPECT_EQ(f->GetArrayValue(1), Variant(std::int32_t{8}));
}

TEST_F(CodecTest, DecodingRestoresTheShapeOfAReplacedElementList) {
  TDorvPalmField* f = Add(pftByte, 0, 3);
  f->SetAsInteger(7);  // replaces the element list by one value
  Decode({1, 2, 3});
  ASSERT_TRUE(f->Value().IsArray());
  EXPECT_EQ(f->GetArrayValue(2), Variant(std::int32_t{3}));
}

TEST(TDorvConduitDb, NewComponentAndItsPublishedProperties) {
  TComponent module(nullptr);
  auto* db = new TDorvConduitDb(&module);
  EXPECT_FALSE(db->AlignOnWord());
  EXPECT_EQ(db->Fields().Count(), 0);
  EXPECT_EQ(db->AppInfoFields().GetOwner(), db);
  EXPECT_EQ(db->SortInfoFields().GetOwner(), db);
  EXPECT_FALSE(db->OnTestFieldExistsForRead());
  const auto props = TDorvConduitDb::PublishedProperties();
  std::vector<std::string> names;
  for (const auto& p : props) names.emplace_back(p.Name);
  EXPECT_EQ(names, (std::vector<std::string>{"FileName",
                                             "CardNum",
                                             "OpenMode",
                                             "Fields",
                                             "AlignOnWord",
                                             "AppInfoFields",
                                             "SortInfoFields",
                                             "OnTestFieldExistsForRead",
                                             "OnTestFieldExistsForWrite",
                                             "BeforeOpen",
                                             "AfterOpen",
                                             "BeforeClose",
                                             "AfterClose",
                                             "BeforeAppend",
                                             "AfterAppend",
                                             "BeforeEdit",
                                             "AfterEdit",
                                             "BeforePost",
                                             "AfterPost",
                                             "BeforeCancel",
                                             "AfterCancel",
                                             "BeforeDelete",
                                             "AfterDelete",
                                             "OnNewRecord"}));
  // OpenMode is always stored, with its default 224; the others only when changed.
  EXPECT_EQ(props[2].Get(*db), "224");
  EXPECT_TRUE(props[2].AlwaysStored);
  EXPECT_THROW(props[2].Set(*db, "256"), EConvertError);
  // Events answer whether a handler is assigned; field lists have no text.
  EXPECT_TRUE(props[9].IsEvent);
  EXPECT_EQ(props[9].Get(*db), "");
  db->SetBeforeOpen([](TDorvConduitDb&) {});
  EXPECT_EQ(props[9].Get(*db), "(assigned)");
  EXPECT_EQ(props[3].Get, nullptr);
  props[4].Set(*db, "True");
  EXPECT_TRUE(db->AlignOnWord());
  EXPECT_EQ(props[4].Get(*db), "True");
  props[0].Set(*db, "MemoDB");
  EXPECT_EQ(db->FileName(), "MemoDB");
  EXPECT_EQ(db->State(), pdsInactive);
  EXPECT_EQ(db->CurrentRecordNum(), -1);
  db->Fields().Add();
  // The module destroys the component, which frees its field lists.
}

}  // namespace
}  // namespace fernwick

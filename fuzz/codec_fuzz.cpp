// Fuzz target of the record codec (fernwick/db/RecordCodec.h): builds a field list from the input,
// decodes the rest of the input with it, then encodes the values back, with
// either alignment and with or without existence handlers.
//
// Input layout (missing bytes read as zero):
//   0      options: bit 0 AlignOnWord, bit 1 test existence on read, bit 2 on
//          write, bit 3 BufferLength 70000 instead of the next two bytes
//   1-2    BufferLength, big-endian signed 16-bit
//   3-6    existence answers: bit i answers element i (mod 32) of each pass
//   7      field count (low 4 bits)
//   then per field, 5 bytes: type (mod 12, so one value lies outside the
//          enumeration), Size (big-endian signed 24-bit), then one byte:
//          low 3 bits ArraySize - 1, bits 3-5 a value written before encoding
//   the rest: the record bytes (zero-filled up to BufferLength)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fernwick/db/RecordCodec.h>
#include <fernwick/framework/Exceptions.h>

namespace {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  const std::uint8_t* Rest() const { return data_ + pos_; }
  std::size_t RestSize() const { return pos_ < size_ ? size_ - pos_ : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

fernwick::Variant ValueFor(int choice, const std::uint8_t* bytes) {
  switch (choice) {
    case 1:
      return fernwick::Variant(std::int32_t{-123456});
    case 2:
      return fernwick::Variant("42");
    case 3:
      return fernwick::Variant("not a number");
    case 4:
      return fernwick::Variant(1e300);
    case 5:
      return fernwick::Variant::Null();
    case 6:
      return fernwick::Variant(std::string("text with a \0 zero", 18));
    case 7:
      return fernwick::Variant::FromPointer(bytes);
    default:
      return fernwick::Variant();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace fernwick;
  Input in(data, size);
  const std::uint8_t options = in.Byte();
  std::int32_t length = static_cast<std::int16_t>((in.Byte() << 8) | in.Byte());
  if (options & 8) length = 70000;
  std::uint32_t answers = 0;
  for (int i = 0; i < 4; ++i) answers = (answers << 8) | in.Byte();

  TDorvPalmFields fields(nullptr);
  const bool align = (options & 1) != 0;
  std::vector<int> values;
  const int field_count = in.Byte() & 0x0F;
  for (int i = 0; i < field_count; ++i) {
    TDorvPalmField* field = fields.Add();
    field->SetDataType(static_cast<TDorvPalmFieldType>(in.Byte() % 12));
    std::int32_t field_size = (in.Byte() << 16) | (in.Byte() << 8) | in.Byte();
    if (field_size & 0x800000) field_size -= 0x1000000;
    field->SetSize(field_size);
    const std::uint8_t shape = in.Byte();
    field->SetArraySize((shape & 7) + 1);
    values.push_back((shape >> 3) & 7);
  }

  int asked = 0;
  TDorvElementTest answer = [&](TDorvPalmField& field, std::int32_t) {
    (void)field.GetAsInteger();  // handlers read values decoded so far
    return ((answers >> (asked++ % 32)) & 1) != 0;
  };

  // The buffers are exactly BufferLength bytes, so any access past the
  // length is an access past the allocation.
  const std::size_t buffer_size = length > 0 ? static_cast<std::size_t>(length) : 0;
  std::vector<std::uint8_t> record(buffer_size, 0);
  for (std::size_t i = 0; i < buffer_size && i < in.RestSize(); ++i) record[i] = in.Rest()[i];

  try {
    DorvDecodeRecord(buffer_size ? record.data() : nullptr, length, fields, align,
                     (options & 2) != 0 ? answer : TDorvElementTest());
  } catch (const EDorvConduitError&) {
    return 0;  // a negative Size on a string or blob field
  }

  for (int i = 0; i < field_count; ++i) {
    if (values[static_cast<std::size_t>(i)] != 0)
      fields.Items(i)->SetArrayValue(0, ValueFor(values[static_cast<std::size_t>(i)], data));
  }
  std::vector<std::uint8_t> out(buffer_size, 0);
  std::uint32_t used = 0xFFFFFFFF;
  try {
    DorvEncodeRecord(buffer_size ? out.data() : nullptr, length, fields, align, used,
                     (options & 4) != 0 ? answer : TDorvElementTest());
  } catch (const EDorvConduitError&) {
    return 0;
  } catch (const EVariantError&) {
    return 0;
  }
  if (used > buffer_size) {
    std::fprintf(stderr, "UsedLength %u beyond BufferLength %d\n", used, length);
    std::abort();
  }
  return 0;
}

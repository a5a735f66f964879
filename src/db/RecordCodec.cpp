#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <fernwick/db/RecordCodec.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

// ---------------------------------------------------------------------------
// The handheld record layout.
//
// A record (or info block) is the concatenation of its elements, with no
// header, tags, counts or separators: fields in list order, within a field its
// elements 0 to ArraySize - 1, each encoded by the field's DataType. With
// AlignOnWord, one padding byte follows every decoded or encoded element that
// ends at an odd position. Numbers are big-endian.
//
//   type         bytes   stored form                    decoded value
//   pftUnknown   0       nothing                        empty
//   pftByte      1       unsigned byte                  integer 0..255
//   pftSmallint  2       16-bit two's complement        integer -32768..32767
//   pftLongint   4       32-bit two's complement        integer
//   pftBoolean   1       one byte, any value            integer 0..255
//   pftSingle    4       IEEE 754 single precision      real
//   pftDouble    8       IEEE 754 double precision      real
//   pftDate      2       packed date (16-bit)           integer, sign-extended
//   pftTime      2       hour byte, minute byte         integer, sign-extended
//   pftString    Size=0: the characters, then 0         text
//                Size=N: N bytes: at most N-1 characters and a 0 byte (the
//                        decoder also takes N characters without a 0 byte)
//   pftBlob      Size    opaque bytes, never written    location of the first byte
//
// The encoder writes the value converted to integer (low 8, 16 or 32 bits),
// to real (then to the nearest single for pftSingle, see ToSingle) or to
// text.
//
// Positions are kept in 64 bits and saturate at kBeyond, far past any buffer,
// so no Size, however large, wraps a position back into the buffer.
// ---------------------------------------------------------------------------

constexpr std::int64_t kBeyond = std::int64_t{1} << 40;

std::int64_t Advance(std::int64_t pos, std::int64_t count) {
  return std::min(pos + count, kBeyond);
}

std::int64_t UsableLength(const void* buffer, std::int32_t length) {
  if (buffer == nullptr) return 0;
  return std::clamp<std::int64_t>(length, 0, kDorvMaxLayoutLength);
}

void CheckFieldSizes(TDorvPalmFields& list) {
  for (int i = 0; i < list.Count(); ++i) {
    const TDorvPalmField& field = *list.Items(i);
    if ((field.DataType() == pftString || field.DataType() == pftBlob) && field.Size() < 0)
      throw EDorvConduitError("Field " + field.GetDisplayName() + " has a negative Size (" +
                              IntToStr(field.Size()) + ")");
  }
}

std::uint32_t Load16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }

std::uint32_t Load32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::uint64_t Load64(const std::uint8_t* p) {
  return (std::uint64_t{Load32(p)} << 32) | Load32(p + 4);
}

void Store16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

void Store32(std::uint8_t* p, std::uint32_t v) {
  Store16(p, v >> 16);
  Store16(p + 2, v);
}

void Store64(std::uint8_t* p, std::uint64_t v) {
  Store32(p, static_cast<std::uint32_t>(v >> 32));
  Store32(p + 4, static_cast<std::uint32_t>(v));
}

// The nearest single to `value` (IEEE round to nearest, ties to even). The
// conversion is done by hand at the top of the range, where a cast would
// leave the single's range: a magnitude below the rounding boundary (the
// largest single plus half a unit in its last place, 2^103) rounds to the
// largest single, one at or beyond it (a tie goes to the even infinity) is
// an infinity.
float ToSingle(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  constexpr double kBoundary = kMax + 0x1p103;
  if (value >= kBoundary) return std::numeric_limits<float>::infinity();
  if (value <= -kBoundary) return -std::numeric_limits<float>::infinity();
  if (value > kMax) return std::numeric_limits<float>::max();
  if (value < -kMax) return -std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

// Decodes the `width` bytes at `p` of a field of numeric type `type`.
Variant DecodeNumber(TDorvPalmFieldType type, const std::uint8_t* p) {
  switch (type) {
    case pftByte:
    case pftBoolean:
      return Variant(std::int32_t{p[0]});
    case pftSmallint:
    case pftDate:
    case pftTime:
      return Variant(std::int32_t{static_cast<std::int16_t>(Load16(p))});
    case pftLongint:
      return Variant(static_cast<std::int32_t>(Load32(p)));
    case pftSingle: {
      float value = 0;
      const std::uint32_t bits = Load32(p);
      std::memcpy(&value, &bits, sizeof value);
      return Variant(static_cast<double>(value));
    }
    case pftDouble: {
      double value = 0;
      const std::uint64_t bits = Load64(p);
      std::memcpy(&value, &bits, sizeof value);
      return Variant(value);
    }
    default:
      return Variant();
  }
}

// Encodes `value` as a field of numeric type `type` into the bytes at `p`.
void EncodeNumber(TDorvPalmFieldType type, const Variant& value, std::uint8_t* p) {
  switch (type) {
    case pftByte:
    case pftBoolean:
      p[0] = static_cast<std::uint8_t>(value.AsInteger());
      break;
    case pftSmallint:
    case pftDate:
    case pftTime:
      Store16(p, static_cast<std::uint32_t>(value.AsInteger()));
      break;
    case pftLongint:
      Store32(p, static_cast<std::uint32_t>(value.AsInteger()));
      break;
    case pftSingle: {
      const float single = ToSingle(value.AsDouble());
      std::uint32_t bits = 0;
      std::memcpy(&bits, &single, sizeof bits);
      Store32(p, bits);
      break;
    }
    case pftDouble: {
      const double real = value.AsDouble();
      std::uint64_t bits = 0;
      std::memcpy(&bits, &real, sizeof bits);
      Store64(p, bits);
      break;
    }
    default:
      break;
  }
}

// The existence answers of one encoding, one bit per element in layout order.
// Up to 4096 elements live on the stack; larger layouts use the heap.
class ElementAnswers {
 public:
  void Push(bool exists) {
    const std::size_t word = count_ / 64;
    if (word >= kInlineWords && heap_.size() <= word - kInlineWords) heap_.push_back(0);
    if (exists) Word(word) |= std::uint64_t{1} << (count_ % 64);
    ++count_;
  }
  // The answer for element `index`; elements not asked about exist.
  bool Exists(std::size_t index) const {
    if (index >= count_) return true;
    return (Word(index / 64) >> (index % 64)) & 1;
  }

 private:
  static constexpr std::size_t kInlineWords = 64;
  std::uint64_t& Word(std::size_t w) {
    return w < kInlineWords ? inline_[w] : heap_[w - kInlineWords];
  }
  std::uint64_t Word(std::size_t w) const {
    return w < kInlineWords ? inline_[w] : heap_[w - kInlineWords];
  }

  std::array<std::uint64_t, kInlineWords> inline_{};
  std::vector<std::uint64_t> heap_;
  std::size_t count_ = 0;
};

}  // namespace

void DorvDecodeRecord(const std::uint8_t* Buffer, std::int32_t BufferLength,
                      TDorvPalmFields& FieldList, bool AlignOnWord, const TDorvElementTest& Exists,
                      TDorvDecodeFit* Fit) {
  CheckFieldSizes(FieldList);
  const std::int64_t length = UsableLength(Buffer, BufferLength);
  if (Fit != nullptr) Fit->PastEnd.clear();
  const auto past_end = [Fit](int f) {
    if (Fit != nullptr && (Fit->PastEnd.empty() || Fit->PastEnd.back() != f))
      Fit->PastEnd.push_back(f);
  };
  std::int64_t pos = 0;
  for (int f = 0; f < FieldList.Count(); ++f) {
    TDorvPalmField& field = *FieldList.Items(f);
    field.RebuildElementList();
    const TDorvPalmFieldType type = field.DataType();
    for (std::int32_t j = 0; j < field.ArraySize(); ++j) {
      if (Exists && !Exists(field, j)) {
        field.SetArrayValue(j, Variant());
        continue;
      }
      // Fetched after the handler ran: it may have rebuilt the value.
      Variant* slot = field.ElementSlot(j);
      const std::int64_t start = pos;
      if (type == pftString) {
        const std::int64_t size = field.Size();
        std::int64_t end = start;
        while (end < length && Buffer[end] != 0 && (size == 0 || end - start < size)) ++end;
        const auto text_length = static_cast<std::size_t>(end - start);
        if (slot != nullptr) {
          slot->AssignText(std::string_view(
              reinterpret_cast<const char*>(Buffer) + (text_length ? start : 0), text_length));
        }
        if (size != 0) {
          // A fixed-size string always takes its Size bytes, whether it ended
          // at a zero byte, filled them all, or met the end of the buffer.
          pos = Advance(start, size);
          if (pos > length) past_end(f);
        } else if (end < length) {
          pos = end + 1;  // step over the zero byte
        } else {
          pos = end;
          past_end(f);
        }
      } else {
        const std::int64_t size = type == pftBlob ? field.Size() : DorvPalmFieldTypeWidth(type);
        if (start + size > length) {
          if (slot != nullptr) *slot = Variant();
          pos = Advance(start, size);
          past_end(f);
          continue;  // no padding after an element beyond the buffer
        }
        if (slot != nullptr) {
          *slot = type == pftBlob ? Variant::FromPointer(Buffer + start)
                                  : DecodeNumber(type, Buffer + start);
        }
        pos = Advance(start, size);
      }
      if (AlignOnWord && (pos & 1) != 0) ++pos;
    }
  }
  if (Fit != nullptr) Fit->Used = std::min(pos, length);
}

void DorvEncodeRecord(std::uint8_t* Buffer, std::int32_t BufferLength, TDorvPalmFields& FieldList,
                      bool AlignOnWord, std::uint32_t& UsedLength, const TDorvElementTest& Exists) {
  CheckFieldSizes(FieldList);
  ElementAnswers answers;
  if (Exists) {
    for (int f = 0; f < FieldList.Count(); ++f) {
      TDorvPalmField& field = *FieldList.Items(f);
      for (std::int32_t j = 0; j < field.ArraySize(); ++j) answers.Push(Exists(field, j));
    }
  }

  const std::int64_t length = UsableLength(Buffer, BufferLength);
  const Variant null_value = Variant::Null();
  std::string converted;
  std::size_t element = 0;
  std::int64_t pos = 0;
  for (int f = 0; f < FieldList.Count(); ++f) {
    const TDorvPalmField& field = *FieldList.Items(f);
    const TDorvPalmFieldType type = field.DataType();
    for (std::int32_t j = 0; j < field.ArraySize(); ++j, ++element) {
      if (Exists && !answers.Exists(element)) continue;
      const Variant* slot = field.ElementSlot(j);
      const Variant& value = slot != nullptr ? *slot : null_value;
      const std::int64_t start = pos;
      if (type == pftString) {
        const std::string* text = &converted;
        if (value.VarType() == TVarType::varString) {
          text = &value.StringRef();
        } else {
          converted = value.AsString();
        }
        const std::int64_t size = field.Size();
        const auto text_length = static_cast<std::int64_t>(text->size());
        const std::int64_t chars = size == 0 ? text_length : std::min(size - 1, text_length);
        const std::int64_t taken = size == 0 ? chars + 1 : size;
        if (start + taken <= length) {
          std::memcpy(Buffer + start, text->data(), static_cast<std::size_t>(chars));
          Buffer[start + chars] = 0;
          pos = start + taken;
        }
      } else {
        const std::int64_t size = type == pftBlob ? field.Size() : DorvPalmFieldTypeWidth(type);
        if (start + size > length)
          throw EDorvConduitError("Attempting to write past end of record buffer");
        if (type != pftBlob) EncodeNumber(type, value, Buffer + start);
        pos = start + size;
      }
      if (AlignOnWord && (pos & 1) != 0) ++pos;
    }
  }
  // Padding after an element that ends exactly at an odd end of the buffer
  // would lie outside it; it is not counted.
  UsedLength = static_cast<std::uint32_t>(std::min(pos, length));
}

const std::uint8_t* DorvBlobBytes(const Variant& value) {
  return reinterpret_cast<const std::uint8_t*>(value.AsNativeInt());
}

}  // namespace fernwick

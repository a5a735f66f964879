// The big-endian integers and NUL-terminated texts of handheld files and
// records: one checked reader and one writer for every byte layout of the
// stand-ins (database files, built-in record formats, the emulator's folder
// scan).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "standins/pdb/PdbError.h"

namespace fernwick::pdb {

// Reads from `bytes`, which must hold at least 2, 3 or 4 bytes.
inline std::uint16_t LoadBig16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}
inline std::uint32_t LoadBig24(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 16 | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]};
}
inline std::uint32_t LoadBig32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | LoadBig24(bytes + 1);
}

// A bounded view over bytes, read from the front. Every read that would go
// past the end throws PdbFormatError "<what>: too short for <field> at
// offset <n> (<size> bytes)"; nothing is ever read outside the view.
class BigEndianReader {
 public:
  // `what` names the block in messages ("memo record", "MemoDB.pdb").
  BigEndianReader(std::span<const std::uint8_t> bytes, std::string what)
      : bytes_(bytes), what_(std::move(what)) {}

  std::uint8_t U8() {
    Need(1, "a byte");
    return bytes_[pos_++];
  }
  std::uint16_t U16() {
    Need(2, "a 2-byte field");
    pos_ += 2;
    return LoadBig16(bytes_.data() + pos_ - 2);
  }
  std::uint32_t U24() {
    Need(3, "a 3-byte field");
    pos_ += 3;
    return LoadBig24(bytes_.data() + pos_ - 3);
  }
  std::uint32_t U32() {
    Need(4, "a 4-byte field");
    pos_ += 4;
    return LoadBig32(bytes_.data() + pos_ - 4);
  }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    Need(n, "a block of " + std::to_string(n) + " bytes");
    pos_ += n;
    return bytes_.subspan(pos_ - n, n);
  }
  void Skip(std::size_t n) {
    Need(n, "padding");
    pos_ += n;
  }
  // A NUL-terminated text; the NUL is consumed. `field` names it in the
  // message when no NUL follows.
  std::string CString(const char* field) {
    const auto rest = bytes_.subspan(pos_);
    const std::size_t length = LengthBeforeNul(rest);
    if (length == rest.size()) {
      throw PdbFormatError(what_ + ": the " + field + " has no terminating NUL");
    }
    pos_ += length + 1;
    return Text(rest.first(length));
  }
  // A fixed-size field holding a text that ends at its first NUL or fills
  // the field.
  std::string FixedString(std::size_t size) {
    Need(size, "a fixed-size text");
    const auto field = bytes_.subspan(pos_, size);
    pos_ += size;
    return Text(field.first(LengthBeforeNul(field)));
  }
  std::size_t Position() const { return pos_; }
  std::span<const std::uint8_t> Rest() const { return bytes_.subspan(pos_); }

 private:
  // The bytes up to the first NUL (all of them when there is none).
  static std::size_t LengthBeforeNul(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return 0;
    const void* nul = std::memchr(bytes.data(), 0, bytes.size());
    return nul == nullptr
               ? bytes.size()
               : static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - bytes.data());
  }
  static std::string Text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }

  void Need(std::size_t n, const std::string& field) const {
    if (n > bytes_.size() - pos_) {
      throw PdbFormatError(what_ + ": too short for " + field + " at offset " +
                           std::to_string(pos_) + " (" + std::to_string(bytes_.size()) + " bytes)");
    }
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  std::string what_;
};

// Appends to a byte vector.
struct VectorSink {
  std::vector<std::uint8_t>& bytes;
  void Put(const std::uint8_t* data, std::size_t size) {
    bytes.insert(bytes.end(), data, data + size);
  }
};

// Counts what would be written.
struct CountingSink {
  std::uint64_t size = 0;
  void Put(const std::uint8_t*, std::size_t n) { size += n; }
};

// Writes big-endian integers and texts into any sink with
// Put(const std::uint8_t*, std::size_t): VectorSink, CountingSink, the
// writer of WriteFileAtomically. Values are cut to the field's width.
template <class Sink>
class BigEndianWriter {
 public:
  explicit BigEndianWriter(Sink& sink) : sink_(sink) {}

  void U8(std::uint64_t v) {
    const std::uint8_t b[1] = {static_cast<std::uint8_t>(v)};
    sink_.Put(b, 1);
  }
  void U16(std::uint64_t v) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    sink_.Put(b, 2);
  }
  void U24(std::uint64_t v) {
    const std::uint8_t b[3] = {static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    sink_.Put(b, 3);
  }
  void U32(std::uint64_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24),
                               static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    sink_.Put(b, 4);
  }
  void Bytes(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) sink_.Put(bytes.data(), bytes.size());
  }
  void Zeros(std::size_t n) {
    static constexpr std::uint8_t kZeros[64] = {};
    for (; n > 0; n -= std::min(n, sizeof kZeros)) sink_.Put(kZeros, std::min(n, sizeof kZeros));
  }
  // The text and a NUL.
  void CString(const std::string& s) {
    Bytes({reinterpret_cast<const std::uint8_t*>(s.data()), s.size()});
    Zeros(1);
  }
  // A field of `size` bytes: the text cut to size - 1 bytes so that a NUL
  // always ends it, then zeros.
  void FixedString(const std::string& s, std::size_t size) {
    const std::size_t n = std::min(s.size(), size - 1);
    Bytes({reinterpret_cast<const std::uint8_t*>(s.data()), n});
    Zeros(size - n);
  }

 private:
  Sink& sink_;
};

}  // namespace fernwick::pdb

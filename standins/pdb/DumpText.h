// The text forms shared by the dump tools (fernwick-pdbdump and
// fernwick-emudump), whose outputs the interoperability check compares with
// each other and with the Perl dumper's.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace fernwick::pdb {

// "text" in double quotes; bytes outside printable ASCII, the backslash and
// the quote as \xNN.
inline std::string QuoteText(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c < 0x20 || c > 0x7E || c == '\\' || c == '"') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Lower-case hexadecimal, two digits a byte, no separators.
inline std::string HexText(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
  }
  return out;
}

}  // namespace fernwick::pdb

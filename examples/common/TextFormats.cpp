#include "TextFormats.h"

#include <algorithm>

namespace fernwick::examples {

std::string EscapeText(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' || c == ';' || c == ',') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\\n";
    } else if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
      // No escape exists for the other control characters, and readers
      // take them for the end of the line or worse: left out.
    } else {
      out += c;
    }
  }
  return out;
}

std::string ParameterValue(const std::string& text) {
  std::string value;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c != '"' && b >= 0x20 && b != 0x7F) value += c;
  }
  if (value.find_first_of(":;,") == std::string::npos) return value;
  return "\"" + value + "\"";
}

void TContentLines::Add(const std::string& line) {
  std::size_t octets = 0;
  std::size_t i = 0;
  while (i < line.size()) {
    const auto b = static_cast<unsigned char>(line[i]);
    std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    length = std::min(length, line.size() - i);
    if (octets + length > 75) {
      text_ += "\r\n ";
      octets = 1;
    }
    text_.append(line, i, length);
    octets += length;
    i += length;
  }
  text_ += "\r\n";
}

}  // namespace fernwick::examples

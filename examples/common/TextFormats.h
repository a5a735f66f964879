// The content lines of vCard and iCalendar files: text escaping, parameter
// values, and lines folded at 75 octets and ended by CR LF.
#pragma once

#include <string>

namespace fernwick::examples {

// A text value with backslash, semicolon, comma and line breaks escaped
// ("\\", "\;", "\,", "\n"; CR LF and a lone CR count as one line break).
// Other control characters (U+0000 to U+001F but tab, and U+007F), which no
// escape can carry, are left out.
std::string EscapeText(const std::string& text);
// A parameter value: in double quotes when it holds ':', ';' or ',';
// double quotes and control characters (which a parameter value cannot
// hold) dropped.
std::string ParameterValue(const std::string& text);

// Content lines collected into a text.
class TContentLines {
 public:
  // Adds one logical line (UTF-8, without its line end), folded: after each
  // 75 octets a CR LF and a space, never inside a UTF-8 sequence.
  void Add(const std::string& line);
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace fernwick::examples

#include "VObject.h"

#include <algorithm>
#include <cctype>

#include "TextFormats.h"

namespace fernwick::examples {

namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_';
}

// RFC 6868: ^n a line break, ^' a double quote, ^^ a caret.
std::string DecodeCaret(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '^' && i + 1 < value.size()) {
      const char next = value[i + 1];
      if (next == 'n' || next == 'N') {
        out += '\n';
        ++i;
        continue;
      }
      if (next == '\'') {
        out += '"';
        ++i;
        continue;
      }
      if (next == '^') {
        out += '^';
        ++i;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

// The parameter name vCard 2.1 means by a bare word: its encodings and
// value locations have names of their own, everything else is a type.
std::string BareParameterName(std::string_view word) {
  for (const char* encoding : {"QUOTED-PRINTABLE", "BASE64", "8BIT", "7BIT"})
    if (EqualsNoCase(word, encoding)) return "ENCODING";
  for (const char* location : {"INLINE", "URL", "CONTENT-ID", "CID"})
    if (EqualsNoCase(word, location)) return "VALUE";
  return "TYPE";
}

// Reads [group "."] name *(";" parameter) of `s` into `property`. Returns
// the index of the ':' that begins the value; npos when there is none, with
// `why` set, and `ended` telling whether the text ended before the ':'.
std::size_t ParseHead(std::string_view s, TVProperty& property, std::string& why, bool& ended) {
  ended = false;
  std::size_t i = 0;
  while (i < s.size() && IsNameChar(s[i])) ++i;
  if (i < s.size() && s[i] == '.') {
    property.group = s.substr(0, i);
    const std::size_t start = ++i;
    while (i < s.size() && IsNameChar(s[i])) ++i;
    property.name = UpperAscii(s.substr(start, i - start));
  } else {
    property.name = UpperAscii(s.substr(0, i));
  }
  if (property.name.empty()) {
    why = "no property name";
    ended = i == s.size();
    return std::string_view::npos;
  }
  while (i < s.size() && s[i] == ';') {
    ++i;
    const std::size_t start = i;
    while (i < s.size() && IsNameChar(s[i])) ++i;
    TVParameter param;
    param.name = UpperAscii(s.substr(start, i - start));
    if (param.name.empty()) {
      why = "a parameter of " + property.name + " has no name";
      ended = i == s.size();
      return std::string_view::npos;
    }
    if (i < s.size() && s[i] == '=') {
      do {
        ++i;
        if (i < s.size() && s[i] == '"') {
          const std::size_t close = s.find('"', i + 1);
          if (close == std::string_view::npos) {
            why = "the quoted value of parameter " + param.name + " is not closed";
            ended = true;
            return std::string_view::npos;
          }
          param.values.push_back(DecodeCaret(s.substr(i + 1, close - i - 1)));
          i = close + 1;
        } else {
          const std::size_t stop = s.find_first_of(";:,", i);
          const std::size_t end = stop == std::string_view::npos ? s.size() : stop;
          param.values.push_back(DecodeCaret(s.substr(i, end - i)));
          i = end;
        }
      } while (i < s.size() && s[i] == ',');
    } else {
      param.values.push_back(param.name);
      param.name = BareParameterName(param.name);
    }
    property.params.push_back(std::move(param));
  }
  if (i >= s.size() || s[i] != ':') {
    why = "no ':' after the name and parameters of " + property.name;
    ended = i >= s.size();
    return std::string_view::npos;
  }
  return i;
}

bool HasParam(const TVProperty& property, std::string_view name, std::string_view value) {
  for (const TVParameter& param : property.params)
    if (param.name == name)
      for (const std::string& item : param.values)
        if (EqualsNoCase(item, value)) return true;
  return false;
}

bool IsQuotedPrintable(const TVProperty& property) {
  return HasParam(property, "ENCODING", "QUOTED-PRINTABLE");
}

struct TLogicalLine {
  std::string text;
  // The physical lines as read, joined by CR LF; empty while there is one.
  std::string lines;
  int line = 0;
  bool head_read = false;
  bool quoted_printable = false;

  // Whether the line is quoted-printable and ends in '=': a soft line break,
  // the value going on at the start of the next line (whatever it holds).
  bool SoftBreak() {
    if (text.empty() || text.back() != '=') return false;
    if (!head_read) {
      TVProperty head;
      std::string why;
      bool ended = false;
      const bool done = ParseHead(text, head, why, ended) != std::string_view::npos;
      if (!done && ended) return false;  // the head goes on in a continuation line
      head_read = true;
      quoted_printable = done && IsQuotedPrintable(head);
    }
    return quoted_printable;
  }

  void Join(std::string_view piece, bool soft) {
    if (lines.empty()) lines = text;
    lines += "\r\n";
    lines += piece;
    if (soft) {
      text.pop_back();
      text += piece;
    } else {
      text += piece.substr(1);
    }
  }
};

// Splits into logical lines, joining folded ones and, in a quoted-printable
// value, those joined by a soft line break.
std::vector<TLogicalLine> Unfold(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<TLogicalLine> lines;
  int number = 1;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    const std::string_view piece = text.substr(i, end - i);
    const int this_line = number;
    if (end < text.size()) {
      end += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
      ++number;
    }
    i = end;
    if (!lines.empty() && lines.back().SoftBreak()) {
      lines.back().Join(piece, true);
    } else if (!piece.empty() && (piece[0] == ' ' || piece[0] == '\t')) {
      if (lines.empty()) throw EVObjectError(this_line, "a continuation line begins the file");
      lines.back().Join(piece, false);
    } else if (!piece.empty()) {
      lines.push_back({std::string(piece), {}, this_line});
    }
  }
  return lines;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "=XX" an octet; an '=' before anything else stands for itself.
std::string DecodeQuotedPrintable(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '=' && i + 2 < value.size() && HexDigit(value[i + 1]) >= 0 &&
        HexDigit(value[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(value[i + 1]) * 16 + HexDigit(value[i + 2]));
      i += 2;
    } else {
      out += value[i];
    }
  }
  return out;
}

bool IsUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = b < 0x80                ? 1
                               : b >= 0xC2 && b < 0xE0 ? 2
                               : b >= 0xE0 && b < 0xF0 ? 3
                               : b >= 0xF0 && b < 0xF5 ? 4
                                                       : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

enum class ECharset { kUtf8, kWindows1252, kLatin9, kUnknown };

ECharset CharsetOf(std::string_view label) {
  for (const char* name : {"UTF-8", "UTF8", "US-ASCII", "ASCII"})
    if (EqualsNoCase(label, name)) return ECharset::kUtf8;
  // ISO-8859-1 as windows-1252, as browsers read it: programs that say the
  // one write the other's quotes and euro sign.
  for (const char* name : {"ISO-8859-1", "ISO8859-1", "ISO_8859-1", "LATIN1", "LATIN-1", "L1",
                           "CP819", "IBM819", "WINDOWS-1252", "CP1252", "X-CP1252"})
    if (EqualsNoCase(label, name)) return ECharset::kWindows1252;
  for (const char* name : {"ISO-8859-15", "ISO8859-15", "ISO_8859-15", "LATIN-9", "LATIN9"})
    if (EqualsNoCase(label, name)) return ECharset::kLatin9;
  return ECharset::kUnknown;
}

// Octets of windows-1252 or ISO-8859-15 in UTF-8.
std::string SingleByteToUtf8(std::string_view bytes, ECharset charset) {
  // 0x80 to 0x9F of windows-1252; those it leaves free stand for themselves.
  static constexpr unsigned short kHigh[32] = {
      0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::string out;
  for (const char c : bytes) {
    unsigned code = static_cast<unsigned char>(c);
    if (charset == ECharset::kWindows1252 && code >= 0x80 && code < 0xA0) {
      code = kHigh[code - 0x80];
    } else if (charset == ECharset::kLatin9) {
      // Where ISO-8859-15 differs from ISO-8859-1.
      static constexpr unsigned short kLatin9[][2] = {
          {0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161}, {0xB4, 0x017D},
          {0xB8, 0x017E}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178}};
      for (const auto& [from, to] : kLatin9)
        if (code == from) code = to;
    }
    AppendUtf8(out, code);
  }
  return out;
}

// A value as vCard 2.1 writes it (quoted-printable, in a CHARSET) made
// UTF-8, its line breaks the \n escape of the later versions.
std::string DecodeValue(TVProperty& property, std::string_view value) {
  const bool quoted_printable = IsQuotedPrintable(property);
  std::string bytes = quoted_printable ? DecodeQuotedPrintable(value) : std::string(value);
  const std::string label = property.Param("CHARSET");
  ECharset charset = label.empty() ? ECharset::kUtf8 : CharsetOf(label);
  // Without a CHARSET a phone writes UTF-8 or its own 8-bit set.
  if (label.empty() && !IsUtf8(bytes)) charset = ECharset::kWindows1252;
  if (charset == ECharset::kWindows1252 || charset == ECharset::kLatin9) {
    bytes = SingleByteToUtf8(bytes, charset);
  } else if (charset == ECharset::kUnknown) {
    property.unknown_charset = label;
  }
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      out += "\\n";
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      out += bytes[i];
    }
  }
  return out;
}

TVProperty ParseProperty(const TLogicalLine& logical) {
  TVProperty property;
  property.line = logical.line;
  std::string why;
  bool ended = false;
  const std::size_t colon = ParseHead(logical.text, property, why, ended);
  if (colon == std::string::npos) throw EVObjectError(logical.line, why);
  const std::string_view value = std::string_view(logical.text).substr(colon + 1);
  const bool quoted_printable = IsQuotedPrintable(property);
  // Written back as read: a quoted-printable value with its soft line
  // breaks where they were (folding it anew could end a line in '=').
  property.raw = quoted_printable && !logical.lines.empty() ? logical.lines : logical.text;
  const bool base64 =
      HasParam(property, "ENCODING", "BASE64") || HasParam(property, "ENCODING", "B");
  if (!base64 && (quoted_printable || !property.Param("CHARSET").empty())) {
    property.value = DecodeValue(property, value);
  } else {
    property.value = value;
  }
  return property;
}

// Splits at `separator` where it is not escaped.
std::vector<std::string_view> SplitUnescaped(std::string_view value, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == separator) {
      parts.push_back(value.substr(start, i - start));
      start = i + 1;
    }
  }
  parts.push_back(value.substr(start));
  return parts;
}

// A parameter value of vCard 2.1, which knows no quoting: the characters
// that would end it left out.
std::string BareValue(const std::string& text) {
  std::string value;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c != '"' && c != ';' && c != ':' && c != ',' && b >= 0x20 && b != 0x7F) value += c;
  }
  return value;
}

// The value in quoted-printable after `line` (its name and parameters),
// lines broken softly before 76 octets.
std::string QuotedPrintableLines(std::string line, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t column = line.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::string token(1, text[i]);
    if (b >= 0x7F || b < 0x20 || b == '=' || (b == ' ' && i + 1 == text.size())) {
      token = {'=', kHex[b >> 4], kHex[b & 0x0F]};
    }
    if (column + token.size() > 75 && column > 0) {
      line += "=\r\n";
      column = 0;
    }
    // A line beginning with a space would be taken for a folded one by a
    // reader that does not know soft line breaks.
    if (column == 0 && b == ' ') token = "=20";
    line += token;
    column += token.size();
  }
  return line;
}

// A property made here, as its component's version writes it. The value
// is UTF-8 and escaped as 3.0 writes it, however it was read: an ENCODING
// or CHARSET it was decoded from no longer applies. `as_is`: the line is
// quoted-printable, broken into lines already, and not to be folded.
std::string ComposeLine(const TVProperty& property, bool version_21, bool& as_is) {
  as_is = false;
  const bool base64 =
      HasParam(property, "ENCODING", "BASE64") || HasParam(property, "ENCODING", "B");
  std::string line;
  if (!property.group.empty()) line = property.group + ".";
  line += property.name;
  for (const TVParameter& param : property.params) {
    if (!base64 && (param.name == "ENCODING" || param.name == "CHARSET")) continue;
    if (version_21) {
      // A type is a bare word (unless it would be read as another
      // parameter or is no word); each value a parameter of its own.
      for (const std::string& value : param.values) {
        const std::string bare = BareValue(value);
        const bool word = !bare.empty() && std::all_of(bare.begin(), bare.end(), IsNameChar) &&
                          BareParameterName(bare) == "TYPE";
        line += ";" + (param.name == "TYPE" && word ? bare : param.name + "=" + bare);
      }
      continue;
    }
    line += ";" + param.name + "=";
    for (std::size_t v = 0; v < param.values.size(); ++v) {
      if (v != 0) line += ',';
      line += ParameterValue(param.values[v]);
    }
  }
  // Not decoded, a base64 value stays as it was, also in quoted-printable.
  as_is = base64 && IsQuotedPrintable(property);
  if (!version_21 || base64) return line + ":" + property.value;
  // vCard 2.1 escapes only ';' (and here '\', which this reader takes as
  // an escape in every version); a comma is one unless it separates a
  // list, a line break and any octet beyond ASCII need quoted-printable.
  std::string text;
  const std::string& value = property.value;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      if (next == 'n' || next == 'N') {
        text += "\r\n";
      } else if (next == ',' && property.name != "CATEGORIES") {
        text += ',';
      } else {
        text += '\\';
        text += next;
      }
    } else {
      text += value[i];
    }
  }
  bool ascii = true, plain = true;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    ascii = ascii && b < 0x80;
    plain = plain && b >= 0x20 && b < 0x7F;
  }
  if (plain && (text.empty() || text.back() != ' ')) return line + ":" + text;
  line += ";ENCODING=QUOTED-PRINTABLE";
  if (!ascii) line += ";CHARSET=UTF-8";
  as_is = true;
  return QuotedPrintableLines(line + ":", text);
}

bool Version21(const TVComponent& component) {
  const TVProperty* version = component.Find("VERSION");
  if (version == nullptr) return false;
  const std::string text = version->Text();
  return text == "2.1" || text == "1.0";  // vCard 2.1, and vCalendar 1.0 of the same rules
}

void Write(const TVComponent& component, bool version_21, std::string& out) {
  const auto add = [&out](const std::string& line, bool as_is) {
    if (as_is) {
      out += line + "\r\n";
      return;
    }
    TContentLines folded;
    folded.Add(line);
    out += folded.Text();
  };
  version_21 = version_21 || Version21(component);
  add("BEGIN:" + component.name, false);
  for (const TVProperty& property : component.properties) {
    if (property.raw.empty()) {
      bool as_is = false;
      const std::string line = ComposeLine(property, version_21, as_is);
      add(line, as_is);
    } else {
      // A quoted-printable line folded anew could end in '=' and be read
      // as going on in the next line.
      add(property.raw, IsQuotedPrintable(property));
    }
  }
  for (const TVComponent& child : component.components) Write(child, version_21, out);
  add("END:" + component.name, false);
}

}  // namespace

EVObjectError::EVObjectError(int line, const std::string& what)
    : std::runtime_error("line " + std::to_string(line) + ": " + what), line_(line) {}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

std::string UnescapeText(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[++i];
      out += (next == 'n' || next == 'N') ? '\n' : next;
    } else {
      out += value[i];
    }
  }
  return out;
}

std::vector<std::string> TVProperty::Params(std::string_view param_name) const {
  const bool type = EqualsNoCase(param_name, "TYPE");
  std::vector<std::string> values;
  for (const TVParameter& param : params) {
    if (!EqualsNoCase(param.name, param_name)) continue;
    for (const std::string& item : param.values) {
      if (!type) {
        values.push_back(item);
        continue;
      }
      // vCard 4.0 writes a list of types as one quoted value: "work,voice".
      std::size_t start = 0;
      for (std::size_t comma = item.find(','); comma != std::string::npos;
           comma = item.find(',', start)) {
        values.push_back(item.substr(start, comma - start));
        start = comma + 1;
      }
      values.push_back(item.substr(start));
    }
  }
  return values;
}

std::string TVProperty::Param(std::string_view param_name) const {
  const std::vector<std::string> values = Params(param_name);
  return values.empty() ? std::string() : values.front();
}

bool TVProperty::HasType(std::string_view type) const {
  for (const std::string& item : Params("TYPE"))
    if (EqualsNoCase(item, type)) return true;
  return false;
}

std::string TVProperty::Text() const { return UnescapeText(value); }

std::vector<std::string> TVProperty::List() const {
  std::vector<std::string> items;
  for (std::string_view item : SplitUnescaped(value, ',')) items.push_back(UnescapeText(item));
  return items;
}

std::vector<std::vector<std::string>> TVProperty::Structured() const {
  std::vector<std::vector<std::string>> parts;
  for (std::string_view part : SplitUnescaped(value, ';')) {
    parts.emplace_back();
    for (std::string_view item : SplitUnescaped(part, ','))
      parts.back().push_back(UnescapeText(item));
  }
  return parts;
}

void TVProperty::SetText(const std::string& text) {
  value = EscapeText(text);
  raw.clear();
}

const TVProperty* TVComponent::Find(std::string_view property_name) const {
  for (const TVProperty& property : properties)
    if (property.name == property_name) return &property;
  return nullptr;
}

TVProperty* TVComponent::Find(std::string_view property_name) {
  for (TVProperty& property : properties)
    if (property.name == property_name) return &property;
  return nullptr;
}

std::vector<const TVProperty*> TVComponent::FindAll(std::string_view property_name) const {
  std::vector<const TVProperty*> found;
  for (const TVProperty& property : properties)
    if (property.name == property_name) found.push_back(&property);
  return found;
}

std::vector<TVComponent> ReadVObjects(std::string_view text) {
  std::vector<TVComponent> top;
  // The open components, outermost first; each is moved into its parent
  // at its END.
  std::vector<TVComponent> open;
  for (const TLogicalLine& logical : Unfold(text)) {
    TVProperty property = ParseProperty(logical);
    if (property.name == "BEGIN" || property.name == "END") {
      const std::string name = UpperAscii(property.value);
      if (name.empty()) throw EVObjectError(logical.line, property.name + " names no component");
      if (property.name == "BEGIN") {
        if (static_cast<int>(open.size()) >= kMaxNesting)
          throw EVObjectError(logical.line, "components nest deeper than " +
                                                std::to_string(kMaxNesting));
        TVComponent component;
        component.name = name;
        component.line = logical.line;
        open.push_back(std::move(component));
      } else {
        if (open.empty()) throw EVObjectError(logical.line, "END:" + name + " without BEGIN");
        if (open.back().name != name)
          throw EVObjectError(logical.line, "END:" + name + " closes BEGIN:" + open.back().name +
                                                " of line " + std::to_string(open.back().line));
        TVComponent done = std::move(open.back());
        open.pop_back();
        (open.empty() ? top : open.back().components).push_back(std::move(done));
      }
      continue;
    }
    if (open.empty())
      throw EVObjectError(logical.line, "property " + property.name + " outside BEGIN and END");
    open.back().properties.push_back(std::move(property));
  }
  if (!open.empty())
    throw EVObjectError(open.back().line, "BEGIN:" + open.back().name + " is never ended");
  return top;
}

std::string WriteVObject(const TVComponent& component) {
  std::string out;
  Write(component, false, out);
  return out;
}

}  // namespace fernwick::examples

#include <cctype>
#include <limits>

#include <fernwick/framework/ObjectText.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string LineText(std::string_view source, int line) {
  std::string text(source);
  text += " line ";
  text += std::to_string(line);
  text += ": ";
  return text;
}

// A recursive-descent reader over the text, one character at a time.
class Parser {
 public:
  Parser(std::string_view text, std::string_view source) : text_(text), source_(source) {}

  TStreamedObject ReadTop() {
    SkipSpace();
    TStreamedObject object = ReadObject(0);
    SkipSpace();
    if (!AtEnd()) Fail("text after the last 'end'");
    return object;
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    throw EParserError(LineText(source_, line_) + message);
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/') {
        while (!AtEnd() && text_[pos_] != '\n') ++pos_;
      } else {
        return;
      }
    }
  }

  // An identifier, dotted when `dotted` ("Font.Name"); fails when none.
  std::string Ident(bool dotted, const char* what) {
    SkipSpace();
    if (!IsIdentStart(Peek())) Fail(std::string("expected ") + what);
    std::size_t start = pos_;
    while (!AtEnd() &&
           (IsIdentChar(text_[pos_]) || (dotted && text_[pos_] == '.' && pos_ + 1 < text_.size() &&
                                         IsIdentStart(text_[pos_ + 1])))) {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  // The next identifier without consuming it ("" when there is none).
  std::string PeekIdent() {
    SkipSpace();
    std::size_t save = pos_;
    int save_line = line_;
    std::string word = IsIdentStart(Peek()) ? Ident(false, "") : "";
    pos_ = save;
    line_ = save_line;
    return word;
  }

  void Expect(char c, const std::string& what) {
    SkipSpace();
    if (Peek() != c) Fail("expected " + what);
    ++pos_;
  }

  TStreamedObject ReadObject(int depth) {
    if (depth >= kMaxStreamDepth) Fail("objects nested too deeply");
    TStreamedObject object;
    object.line = line_;
    if (CompareText(Ident(false, "'object'"), "object") != 0) Fail("expected 'object'");
    object.name = Ident(false, "an object name");
    Expect(':', "':' after the object name");
    object.class_name = Ident(false, "a class name");
    for (;;) {
      std::string word = PeekIdent();
      if (word.empty())
        Fail(AtEnd() ? "missing 'end' of object " + object.name
                     : "expected a property, 'object' or 'end'");
      if (CompareText(word, "end") == 0) {
        Ident(false, "");
        return object;
      }
      if (CompareText(word, "object") == 0) {
        object.children.push_back(ReadObject(depth + 1));
      } else {
        object.properties.push_back(ReadProperty(depth));
      }
    }
  }

  TStreamedProperty ReadProperty(int depth) {
    TStreamedProperty property;
    property.line = line_;
    property.name = Ident(true, "a property name");
    Expect('=', "'=' after the property name");
    property.value = ReadValue(property.name, depth);
    return property;
  }

  TStreamedValue ReadValue(const std::string& name, int depth) {
    SkipSpace();
    TStreamedValue value;
    char c = Peek();
    if (c == '-' || IsDigit(c)) {
      value.kind = TStreamedValue::kInteger;
      value.integer = ReadInteger(name);
    } else if (c == '\'' || c == '#') {
      value.kind = TStreamedValue::kString;
      value.text = ReadString(name);
    } else if (IsIdentStart(c)) {
      value.kind = TStreamedValue::kIdent;
      value.text = Ident(true, "a value");
    } else if (c == '[') {
      ++pos_;
      value.kind = TStreamedValue::kSet;
      SkipSpace();
      if (Peek() == ']') {
        ++pos_;
      } else {
        for (;;) {
          value.set.push_back(Ident(false, "a set member"));
          SkipSpace();
          if (Peek() == ']') {
            ++pos_;
            break;
          }
          Expect(',', "',' or ']' in the set of property " + name);
        }
      }
    } else if (c == '<') {
      ++pos_;
      if (depth + 1 >= kMaxStreamDepth) Fail("collections nested too deeply");
      value.kind = TStreamedValue::kCollection;
      for (;;) {
        SkipSpace();
        if (Peek() == '>') {
          ++pos_;
          break;
        }
        TStreamedItem item;
        item.line = line_;
        if (CompareText(Ident(false, "'item' or '>'"), "item") != 0) {
          Fail("expected 'item' or '>' in collection " + name);
        }
        for (;;) {
          std::string word = PeekIdent();
          if (word.empty()) Fail("expected a property or 'end' in an item of " + name);
          if (CompareText(word, "end") == 0) {
            Ident(false, "");
            break;
          }
          item.properties.push_back(ReadProperty(depth + 1));
        }
        value.items.push_back(std::move(item));
      }
    } else if (c == '{') {
      ++pos_;
      value.kind = TStreamedValue::kBinary;
      int high = -1;
      for (;;) {
        SkipSpace();
        char h = Peek();
        if (h == '}') {
          ++pos_;
          break;
        }
        int digit = h >= '0' && h <= '9'   ? h - '0'
                    : h >= 'A' && h <= 'F' ? h - 'A' + 10
                    : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                           : -1;
        if (digit < 0) Fail("bad hexadecimal digit in the data of property " + name);
        ++pos_;
        if (high < 0) {
          high = digit;
        } else {
          value.text.push_back(static_cast<char>(high * 16 + digit));
          high = -1;
        }
      }
      if (high >= 0) Fail("odd number of hexadecimal digits in property " + name);
    } else {
      Fail(AtEnd() ? "missing value of property " + name : "bad value of property " + name);
    }
    return value;
  }

  std::int64_t ReadInteger(const std::string& name) {
    bool negative = Peek() == '-';
    if (negative) ++pos_;
    if (!IsDigit(Peek())) Fail("bad number in property " + name);
    std::int64_t value = 0;
    while (IsDigit(Peek())) {
      value = value * 10 + (text_[pos_] - '0');
      if (value > std::numeric_limits<std::int32_t>::max() + std::int64_t{1}) {
        Fail("number out of range in property " + name);
      }
      ++pos_;
    }
    if (IsIdentChar(Peek()) || Peek() == '.') Fail("bad number in property " + name);
    return negative ? -value : value;
  }

  std::string ReadString(const std::string& name) {
    std::string text;
    for (;;) {
      char c = Peek();
      if (c == '\'') {
        ++pos_;
        for (;;) {
          if (AtEnd() || Peek() == '\n') Fail("unterminated string in property " + name);
          char s = text_[pos_++];
          if (s == '\'') {
            if (Peek() != '\'') break;
            ++pos_;
          }
          text.push_back(s);
        }
      } else if (c == '#') {
        ++pos_;
        if (!IsDigit(Peek())) Fail("bad character code in property " + name);
        int code = 0;
        while (IsDigit(Peek())) {
          code = code * 10 + (text_[pos_++] - '0');
          if (code > 255) Fail("character code out of range in property " + name);
        }
        text.push_back(static_cast<char>(code));
      } else {
        break;
      }
      // Parts of one string are written side by side or joined with '+'.
      std::size_t save = pos_;
      int save_line = line_;
      SkipSpace();
      if (Peek() == '+') {
        ++pos_;
        SkipSpace();
        if (Peek() != '\'' && Peek() != '#') Fail("expected a string after '+' in " + name);
      } else if (Peek() != '\'' && Peek() != '#') {
        pos_ = save;
        line_ = save_line;
        break;
      }
    }
    return text;
  }

  std::string_view text_;
  std::string_view source_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

}  // namespace

const TStreamedProperty* TStreamedObject::Find(std::string_view property) const {
  for (const TStreamedProperty& p : properties) {
    if (CompareText(p.name, std::string(property)) == 0) return &p;
  }
  return nullptr;
}

TStreamedObject ReadObjectText(std::string_view text, std::string_view source) {
  return Parser(text, source).ReadTop();
}

void TStreamedReader::Fail(int line, const std::string& message) const {
  throw EParserError(LineText(source_, line) + message);
}

void TStreamedReader::CheckNames(const std::vector<std::string_view>& allowed) const {
  const auto& properties = object_.properties;
  for (std::size_t i = 0; i < properties.size(); ++i) {
    const TStreamedProperty& p = properties[i];
    bool known = false;
    for (std::string_view name : allowed) {
      if (CompareText(p.name, std::string(name)) == 0) known = true;
    }
    if (!known) {
      Fail(p.line,
           "unknown property " + p.name + " of " + object_.name + ": " + object_.class_name);
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (CompareText(properties[j].name, p.name) == 0) {
        Fail(p.line, "property " + p.name + " of " + object_.name + " given twice");
      }
    }
  }
}

const TStreamedProperty& TStreamedReader::Required(std::string_view name) const {
  const TStreamedProperty* p = object_.Find(name);
  if (p == nullptr) {
    Fail(object_.line, "missing property " + std::string(name) + " of " + object_.name + ": " +
                           object_.class_name);
  }
  return *p;
}

std::int32_t TStreamedReader::Integer(std::string_view name, std::int32_t low,
                                      std::int32_t high) const {
  const TStreamedProperty& p = Required(name);
  if (p.value.kind != TStreamedValue::kInteger) {
    Fail(p.line, "property " + p.name + " of " + object_.name + " must be a number");
  }
  if (p.value.integer < low || p.value.integer > high) {
    Fail(p.line, "property " + p.name + " of " + object_.name + " out of range (" +
                     std::to_string(p.value.integer) + ", allowed " + std::to_string(low) + " to " +
                     std::to_string(high) + ")");
  }
  return static_cast<std::int32_t>(p.value.integer);
}

std::int32_t TStreamedReader::Integer(std::string_view name, std::int32_t low, std::int32_t high,
                                      std::int32_t absent) const {
  return object_.Find(name) == nullptr ? absent : Integer(name, low, high);
}

std::string TStreamedReader::String(std::string_view name) const {
  const TStreamedProperty& p = Required(name);
  if (p.value.kind != TStreamedValue::kString) {
    Fail(p.line, "property " + p.name + " of " + object_.name + " must be a string");
  }
  return p.value.text;
}

std::string TStreamedReader::String(std::string_view name, std::string absent) const {
  return object_.Find(name) == nullptr ? absent : String(name);
}

std::string TStreamedReader::Ident(std::string_view name, std::string absent) const {
  const TStreamedProperty* p = object_.Find(name);
  if (p == nullptr) return absent;
  if (p->value.kind != TStreamedValue::kIdent) {
    Fail(p->line, "property " + p->name + " of " + object_.name + " must be an identifier");
  }
  return p->value.text;
}

bool TStreamedReader::Boolean(std::string_view name, bool absent) const {
  const TStreamedProperty* p = object_.Find(name);
  if (p == nullptr) return absent;
  std::string value = Ident(name, "");
  if (CompareText(value, "True") == 0) return true;
  if (CompareText(value, "False") == 0) return false;
  Fail(p->line, "property " + p->name + " of " + object_.name + " must be True or False");
}

}  // namespace fernwick

#include "VObject.h"

#include <cctype>

#include "TextFormats.h"

namespace fernwick::examples {

namespace {

struct TLogicalLine {
  std::string text;
  int line = 0;
};

// Splits into logical lines, joining folded ones.
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
    if (!piece.empty() && (piece[0] == ' ' || piece[0] == '\t')) {
      if (lines.empty()) throw EVObjectError(this_line, "a continuation line begins the file");
      lines.back().text.append(piece.substr(1));
    } else if (!piece.empty()) {
      lines.push_back({std::string(piece), this_line});
    }
  }
  return lines;
}

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

TVProperty ParseProperty(const TLogicalLine& logical) {
  const std::string& s = logical.text;
  const auto fail = [&](const std::string& why) { throw EVObjectError(logical.line, why); };
  TVProperty property;
  property.raw = s;
  property.line = logical.line;
  std::size_t i = 0;
  while (i < s.size() && IsNameChar(s[i])) ++i;
  if (i < s.size() && s[i] == '.') {
    property.group = s.substr(0, i);
    const std::size_t start = ++i;
    while (i < s.size() && IsNameChar(s[i])) ++i;
    property.name = UpperAscii(std::string_view(s).substr(start, i - start));
  } else {
    property.name = UpperAscii(std::string_view(s).substr(0, i));
  }
  if (property.name.empty()) fail("no property name");
  while (i < s.size() && s[i] == ';') {
    ++i;
    const std::size_t start = i;
    while (i < s.size() && IsNameChar(s[i])) ++i;
    TVParameter param;
    param.name = UpperAscii(std::string_view(s).substr(start, i - start));
    if (param.name.empty()) fail("a parameter of " + property.name + " has no name");
    if (i < s.size() && s[i] == '=') {
      do {
        ++i;
        if (i < s.size() && s[i] == '"') {
          const std::size_t close = s.find('"', i + 1);
          if (close == std::string::npos)
            fail("the quoted value of parameter " + param.name + " is not closed");
          param.values.push_back(DecodeCaret(std::string_view(s).substr(i + 1, close - i - 1)));
          i = close + 1;
        } else {
          const std::size_t stop = s.find_first_of(";:,", i);
          const std::size_t end = stop == std::string::npos ? s.size() : stop;
          param.values.push_back(DecodeCaret(std::string_view(s).substr(i, end - i)));
          i = end;
        }
      } while (i < s.size() && s[i] == ',');
    } else {
      param.values.push_back(param.name);
      param.name = "TYPE";
    }
    property.params.push_back(std::move(param));
  }
  if (i >= s.size() || s[i] != ':') fail("no ':' after the name and parameters of " + property.name);
  property.value = s.substr(i + 1);
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

std::string ComposeLine(const TVProperty& property) {
  std::string line;
  if (!property.group.empty()) line = property.group + ".";
  line += property.name;
  for (const TVParameter& param : property.params) {
    line += ";" + param.name + "=";
    for (std::size_t v = 0; v < param.values.size(); ++v) {
      if (v != 0) line += ',';
      line += ParameterValue(param.values[v]);
    }
  }
  return line + ":" + property.value;
}

void Write(const TVComponent& component, TContentLines& lines) {
  lines.Add("BEGIN:" + component.name);
  for (const TVProperty& property : component.properties)
    lines.Add(property.raw.empty() ? ComposeLine(property) : property.raw);
  for (const TVComponent& child : component.components) Write(child, lines);
  lines.Add("END:" + component.name);
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
  TContentLines lines;
  Write(component, lines);
  return lines.Text();
}

}  // namespace fernwick::examples

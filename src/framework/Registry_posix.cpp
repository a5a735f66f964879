#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <vector>

#include <fernwick/framework/Exceptions.h>
#include <fernwick/framework/Registry.h>
#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

struct RegValue {
  TRegDataType type = rdUnknown;
  std::string text;  // the string of rdString and rdExpandString values
};

// Values by upper-cased name.
using RegKey = std::map<std::string, RegValue>;
// Keys by upper-cased path below HKEY_CURRENT_USER, without outer backslashes.
using RegTree = std::map<std::string, RegKey>;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string NormalizeKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  return Upper(key);
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16LE bytes (an odd last byte is dropped) as UTF-8.
std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::uint32_t unit =
        static_cast<unsigned char>(bytes[i]) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const std::uint32_t low =
          static_cast<unsigned char>(bytes[i + 2]) |
          (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 3])) << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, unit);
  }
  return out;
}

class RegistryFileParser {
 public:
  RegistryFileParser(std::string file, std::string contents)
      : file_(std::move(file)), contents_(std::move(contents)) {}

  RegTree Parse() {
    Decode();
    std::vector<std::string> lines = SplitLines();
    std::size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) Fail(1, "not a registry file (empty)");
    const std::string header(Trim(lines[i]));
    if (header == "REGEDIT4") {
      unicode_ = false;
    } else if (header == "Windows Registry Editor Version 5.00") {
      unicode_ = true;
    } else {
      Fail(i + 1, "not a registry file (no REGEDIT4 or Windows Registry Editor header)");
    }
    for (++i; i < lines.size(); ++i) {
      const std::size_t line_no = i + 1;
      std::string line(Trim(lines[i]));
      // Hex data continues on the next line after a trailing backslash.
      while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
             i + 1 < lines.size()) {
        line.pop_back();
        line += Trim(lines[++i]);
      }
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        Section(line, line_no);
      } else if (line[0] == '"' || line[0] == '@') {
        Value(line, line_no);
      } else {
        Fail(line_no, "malformed line");
      }
    }
    return std::move(tree_);
  }

 private:
  [[noreturn]] void Fail(std::size_t line, const std::string& why) const {
    throw ERegistryException("Registry file " + file_ + ":" +
                             IntToStr(static_cast<std::int64_t>(line)) + ": " + why);
  }

  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
      s.remove_suffix(1);
    return s;
  }

  void Decode() {
    if (contents_.size() >= 2 && static_cast<unsigned char>(contents_[0]) == 0xFF &&
        static_cast<unsigned char>(contents_[1]) == 0xFE) {
      contents_ = Utf16LeToUtf8(std::string_view(contents_).substr(2));
    } else if (contents_.size() >= 3 && contents_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      contents_.erase(0, 3);
    }
  }

  std::vector<std::string> SplitLines() const {
    std::vector<std::string> lines;
    std::istringstream in(contents_);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }

  void Section(const std::string& line, std::size_t line_no) {
    if (line.back() != ']') Fail(line_no, "malformed key line");
    seen_section_ = true;
    std::string_view path(line);
    path = path.substr(1, path.size() - 2);
    bool remove = false;
    if (!path.empty() && path[0] == '-') {
      remove = true;
      path.remove_prefix(1);
    }
    const std::size_t slash = path.find('\\');
    const std::string root = Upper(path.substr(0, slash));
    const std::string rest =
        slash == std::string_view::npos ? "" : NormalizeKey(path.substr(slash));
    in_scope_ = (root == "HKEY_CURRENT_USER" || root == "HKCU");
    if (!in_scope_) {
      current_ = nullptr;
      return;
    }
    if (remove) {
      for (auto it = tree_.begin(); it != tree_.end();) {
        const bool below =
            rest.empty() || it->first == rest ||
            (it->first.size() > rest.size() && it->first.compare(0, rest.size(), rest) == 0 &&
             it->first[rest.size()] == '\\');
        it = below ? tree_.erase(it) : std::next(it);
      }
      current_ = nullptr;
      in_scope_ = false;
      return;
    }
    current_ = &tree_[rest];
  }

  // A quoted text starting at line[pos] (the opening quote); returns it with
  // its escapes resolved and moves pos past the closing quote.
  std::string Quoted(const std::string& line, std::size_t& pos, std::size_t line_no) const {
    std::string out;
    for (++pos; pos < line.size(); ++pos) {
      const char c = line[pos];
      if (c == '"') {
        ++pos;
        return out;
      }
      if (c == '\\' && pos + 1 < line.size()) {
        out += line[++pos];
        continue;
      }
      out += c;
    }
    Fail(line_no, "unterminated text");
  }

  std::string HexBytes(std::string_view data, std::size_t line_no) const {
    std::string bytes;
    std::size_t i = 0;
    while (i < data.size()) {
      while (i < data.size() && (data[i] == ' ' || data[i] == '\t')) ++i;
      if (i == data.size()) break;
      std::size_t end = data.find(',', i);
      if (end == std::string_view::npos) end = data.size();
      const std::string_view byte = Trim(data.substr(i, end - i));
      if (byte.empty() || byte.size() > 2) Fail(line_no, "malformed hex data");
      unsigned value = 0;
      for (char c : byte) {
        value <<= 4;
        if (c >= '0' && c <= '9') {
          value |= static_cast<unsigned>(c - '0');
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
          value |= static_cast<unsigned>((c | 0x20) - 'a' + 10);
        } else {
          Fail(line_no, "malformed hex data");
        }
      }
      bytes += static_cast<char>(value);
      i = end + 1;
    }
    return bytes;
  }

  void Value(const std::string& line, std::size_t line_no) {
    std::size_t pos = 0;
    std::string name;
    if (line[0] == '@') {
      pos = 1;
    } else {
      name = Quoted(line, pos, line_no);
    }
    if (pos >= line.size() || line[pos] != '=') Fail(line_no, "missing '=' after the value name");
    ++pos;
    if (!seen_section_) Fail(line_no, "value outside of a key");
    if (!in_scope_ || current_ == nullptr) return;
    const std::string key = Upper(name);
    const std::string_view data = Trim(std::string_view(line).substr(pos));
    RegValue value;
    if (!data.empty() && data[0] == '"') {
      std::size_t p = pos;
      while (line[p] != '"') ++p;
      value.type = rdString;
      value.text = Quoted(line, p, line_no);
      if (!Trim(std::string_view(line).substr(p)).empty()) Fail(line_no, "text after the value");
    } else if (data == "-") {
      current_->erase(key);
      return;
    } else if (data.substr(0, 6) == "dword:") {
      const std::string_view digits = data.substr(6);
      if (digits.empty() || digits.size() > 8 ||
          digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
        Fail(line_no, "malformed dword value");
      }
      value.type = rdInteger;
    } else if (data.substr(0, 4) == "hex:") {
      HexBytes(data.substr(4), line_no);
      value.type = rdBinary;
    } else if (data.substr(0, 4) == "hex(") {
      const std::size_t close = data.find("):");
      if (close == std::string_view::npos) Fail(line_no, "malformed hex value");
      const std::string_view kind = data.substr(4, close - 4);
      const std::string bytes = HexBytes(data.substr(close + 2), line_no);
      if (kind == "2") {
        value.type = rdExpandString;
        value.text = unicode_ ? Utf16LeToUtf8(bytes) : bytes;
        const std::size_t nul = value.text.find('\0');
        if (nul != std::string::npos) value.text.resize(nul);
      } else if (kind == "4") {
        value.type = rdInteger;
      } else if (kind == "3") {
        value.type = rdBinary;
      } else {
        value.type = rdUnknown;
      }
    } else {
      Fail(line_no, "malformed value");
    }
    (*current_)[key] = std::move(value);
  }

  std::string file_;
  std::string contents_;
  bool unicode_ = true;
  bool seen_section_ = false;
  bool in_scope_ = false;
  RegKey* current_ = nullptr;
  RegTree tree_;
};

RegTree LoadRegistryFile() {
  const std::string file = RegistryFileName();
  if (file.empty()) return {};
  // Only a regular file of a sensible size is read: a FIFO would block the
  // open for ever and a device such as /dev/zero never ends.
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    throw ERegistryException("Registry file " + file + " cannot be read: " + std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) {
    throw ERegistryException("Registry file " + file + " cannot be read: it is a folder");
  }
  if (!S_ISREG(st.st_mode)) {
    throw ERegistryException(
        "Registry file " + file +
        " cannot be read: it is not a regular file (a FIFO, device or socket)");
  }
  constexpr off_t kLimit = 16 * 1024 * 1024;
  if (st.st_size > kLimit) {
    throw ERegistryException("Registry file " + file + " cannot be read: it is larger than " +
                             std::to_string(kLimit) + " bytes");
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (errno == ENOENT || errno == ENOTDIR) return {};
    throw ERegistryException("Registry file " + file + " cannot be read: " + std::strerror(errno));
  }
  std::string contents;
  try {
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception& e) {
    // The stream library raises its own error for a file it opened but
    // cannot read (a folder, an I/O error).
    throw ERegistryException("Registry file " + file + " cannot be read: " + e.what());
  }
  if (in.bad()) throw ERegistryException("Registry file " + file + " cannot be read");
  return RegistryFileParser(file, std::move(contents)).Parse();
}

}  // namespace

std::string RegistryFileName() {
  const char* file = std::getenv("FERNWICK_REGISTRY");
  if (file != nullptr && *file != '\0') return file;
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home) + "/.fernwick/registry.reg";
  return std::string();
}

class TRegistry::Impl {
 public:
  bool open = false;
  RegKey values;
};

TRegistry::TRegistry() : impl_(std::make_unique<Impl>()) {}
TRegistry::~TRegistry() = default;

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  CloseKey();
  RegTree tree = LoadRegistryFile();
  const std::string wanted = NormalizeKey(key);
  bool exists = false;
  for (auto& [path, values] : tree) {
    if (path == wanted) {
      impl_->values = std::move(values);
      exists = true;
      break;
    }
    // A key with subkeys exists even when the file has no section of its own.
    if (wanted.empty() ||
        (path.size() > wanted.size() && path.compare(0, wanted.size(), wanted) == 0 &&
         path[wanted.size()] == '\\')) {
      exists = true;
    }
  }
  impl_->open = exists;
  return exists;
}

void TRegistry::CloseKey() {
  impl_->open = false;
  impl_->values.clear();
}

bool TRegistry::ValueExists(const std::string& name) const {
  return impl_->open && impl_->values.count(Upper(name)) != 0;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  if (!impl_->open) return rdUnknown;
  const auto it = impl_->values.find(Upper(name));
  return it == impl_->values.end() ? rdUnknown : it->second.type;
}

std::string TRegistry::ReadString(const std::string& name) const {
  if (!impl_->open) return std::string();
  const auto it = impl_->values.find(Upper(name));
  if (it == impl_->values.end()) return std::string();
  if (it->second.type != rdString && it->second.type != rdExpandString) {
    throw ERegistryException("Invalid data type for '" + name + "'");
  }
  return it->second.text;
}

}  // namespace fernwick

#include <algorithm>

#include <fernwick/framework/SysUtils.h>

namespace fernwick {

namespace {

std::string ExtractUpToLastOf(std::string_view path, std::string_view delimiters) {
  const std::size_t pos = path.find_last_of(delimiters);
  if (pos == std::string_view::npos) return std::string();
  return std::string(path.substr(0, pos + 1));
}

unsigned char FoldAsciiCase(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string ExtractFilePathWindows(std::string_view path) { return ExtractUpToLastOf(path, "\\:"); }

std::string ExtractFilePath(std::string_view path) {
#if defined(_WIN32)
  return ExtractFilePathWindows(path);
#else
  return ExtractUpToLastOf(path, "/");
#endif
}

char PathDelimiter() {
#if defined(_WIN32)
  return '\\';
#else
  return '/';
#endif
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

int CompareText(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const int ca = FoldAsciiCase(static_cast<unsigned char>(a[i]));
    const int cb = FoldAsciiCase(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca - cb;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace fernwick

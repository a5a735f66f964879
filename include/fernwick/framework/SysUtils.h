/// \file
/// Small text helpers of the host framework.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fernwick {

/// The directory part of a file path: everything up to and including the last
/// path delimiter, or "" when there is none. On Windows the delimiters are the
/// backslash and the drive colon; forward slashes are not delimiters there.
/// On POSIX the delimiter is '/'.
std::string ExtractFilePath(std::string_view path);

/// Same, with the Windows rules whatever the platform (backslash and colon).
std::string ExtractFilePathWindows(std::string_view path);

/// The path delimiter of the platform: '\\' on Windows, '/' elsewhere.
char PathDelimiter();

/// Decimal text of a signed 64-bit integer.
std::string IntToStr(std::int64_t value);

/// Compares two texts ignoring the case of the letters A to Z only (other
/// bytes compare as they are). Returns <0, 0 or >0.
int CompareText(std::string_view a, std::string_view b);

}  // namespace fernwick

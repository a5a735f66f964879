/// @file
/// The handheld's character set, converted to and from UTF-8: records and
/// application info blocks hold the handheld's bytes, desktop files UTF-8.
///
/// The handheld's character set is taken to be the handheld's default Latin
/// set, as the Palm OS SDK's table of it (CharLatin.h) defines it: Windows
/// code page 1252, except that bytes 0x8D to 0x90 are the card suits
/// (diamond, club, heart, spade) and 0x9E is not z with caron; bytes 0x81,
/// 0x9D and 0x9E, which have no character, stand for the control characters
/// U+0081, U+009D and U+009E so that every byte survives a round trip.
/// Handhelds sold with another character set (Japanese, Chinese, Cyrillic,
/// ...) need another table.
#pragma once

#include <string>

namespace fernwick {

/// The handheld's bytes as UTF-8: 0xE9 becomes "é" (C3 A9).
std::string PalmToUtf8(const std::string& palm);
/// UTF-8 as the handheld's bytes. A character the handheld cannot show, and a
/// byte that is not part of valid UTF-8, becomes '?'.
std::string Utf8ToPalm(const std::string& utf8);

}  // namespace fernwick

/// \file
/// The text forms of published property values: one converter per kind of
/// value, shared by every class's property list (TPropertyInfo,
/// fernwick/framework/Classes.h), so that a value is written and read back the same
/// way, and refused with the same message, on every component.
///
/// ```
///   kind         text                         refused with EConvertError
///   Byte         decimal 0..255 ("+" allowed) "'<text>' is not a valid Byte value"
///   Integer      decimal 32-bit ("+" allowed) "'<text>' is not a valid Integer value"
///   Boolean      "False", "True" (any case)   "'<text>' is not a valid Boolean value"
///   enumeration  its value names              "'<text>' is not a valid <type> value"
/// ```
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fernwick {

///@{
/// A Byte as text, and back (raising EConvertError as the table says).
std::string ByteToText(std::uint8_t value);
std::uint8_t ByteFromText(std::string_view text);
///@}

///@{
/// An Integer as text, and back (raising EConvertError as the table says).
std::string IntegerToText(std::int32_t value);
std::int32_t IntegerFromText(std::string_view text);
///@}

///@{
/// A Boolean as text, and back (raising EConvertError as the table says).
std::string BooleanToText(bool value);
bool BooleanFromText(std::string_view text);
///@}

/// Raises EConvertError "'<text>' is not a valid <type_name> value", the
/// refusal of a text that names no value of an enumeration.
[[noreturn]] void RaiseNotAValue(std::string_view text, std::string_view type_name);

}  // namespace fernwick

/// \file
/// Type-safe text formatting with the host framework's directives.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fernwick {

/// One argument of Format: an integer (signed or unsigned, remembering whether
/// it was 32 or 64 bits wide), a real, a text or a pointer. Built implicitly
/// from the value, so that `Format("%d %s", {3, "x"})` reads naturally.
/// A text argument refers to the caller's characters; it must outlive the
/// Format call (a temporary std::string in the argument list does).
class FormatArg {
 public:
  /// What the argument holds, which decides the directives it fits.
  enum class Kind { kSigned, kUnsigned, kReal, kText, kPointer };

  ///@{
  /// An argument holding `value`, taken implicitly. Integers remember their
  /// signedness and whether they were wider than 32 bits; a char is a text of
  /// one character; a null const char* is the empty text; texts are referred
  /// to, not copied.
  template <std::signed_integral T>
  requires(!std::same_as<T, char> && !std::same_as<T, bool>)
      FormatArg(T value)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::kSigned), wide_(sizeof(T) > 4), signed_(value) {}

  template <std::unsigned_integral T>
  requires(!std::same_as<T, char> && !std::same_as<T, bool>)
      FormatArg(T value)  // NOLINT(google-explicit-constructor)
      : kind_(Kind::kUnsigned), wide_(sizeof(T) > 4), unsigned_(value) {}

  FormatArg(double value) : kind_(Kind::kReal), real_(value) {}  // NOLINT
  FormatArg(float value) : kind_(Kind::kReal), real_(value) {}   // NOLINT
  FormatArg(long double value)                                   // NOLINT
      : kind_(Kind::kReal), real_(static_cast<double>(value)) {}
  FormatArg(char value) : kind_(Kind::kText), char_(value), text_(&char_, 1) {}  // NOLINT
  FormatArg(const char* value)                                                   // NOLINT
      : kind_(Kind::kText),
        text_(value == nullptr ? std::string_view() : std::string_view(value)) {}
  FormatArg(const std::string& value) : kind_(Kind::kText), text_(value) {}  // NOLINT
  FormatArg(std::string_view value) : kind_(Kind::kText), text_(value) {}    // NOLINT
  FormatArg(const void* value) : kind_(Kind::kPointer), pointer_(value) {}   // NOLINT
  FormatArg(std::nullptr_t) : kind_(Kind::kPointer), pointer_(nullptr) {}    // NOLINT
  ///@}
  /// A Boolean fits no directive; refuse it at compile time instead of
  /// letting it pass as an integer.
  FormatArg(bool) = delete;

  ///@{
  /// Copies `other`; a copied one-character text refers to the copy's own
  /// character.
  FormatArg(const FormatArg& other) { *this = other; }
  FormatArg& operator=(const FormatArg& other);
  ///@}

  /// What the argument holds.
  Kind GetKind() const { return kind_; }
  ///@{
  /// True for integers that were 64 bits wide (matters for %u and %x of a
  /// negative value: a 32-bit -1 shows as FFFFFFFF).
  bool IsWide() const { return wide_; }
  ///@}
  ///@{
  /// The value, read as the kind GetKind answers; another accessor's answer
  /// is unspecified.
  std::int64_t Signed() const { return signed_; }
  std::uint64_t Unsigned() const { return unsigned_; }
  double Real() const { return real_; }
  std::string_view Text() const { return text_; }
  const void* Pointer() const { return pointer_; }
  ///@}

 private:
  Kind kind_;
  bool wide_ = false;
  std::int64_t signed_ = 0;
  std::uint64_t unsigned_ = 0;
  double real_ = 0;
  char char_ = 0;
  std::string_view text_;
  const void* pointer_ = nullptr;
};

/// Builds a text from `fmt` and `args`. Plain characters are copied; each
/// directive has the form
///
/// ```
///   % [index ":"] ["-"] [width] ["." precision] type
/// ```
///
/// where index, width and precision are decimal numbers or "*" (taken from the
/// next argument, which must be an integer). An index selects the argument of
/// this directive (counted from 0); the directives after it go on from there.
/// "-" pads on the right instead of the left; width is the least number of
/// characters. Types (upper or lower case):
///
/// ```
///   d  signed decimal integer; precision = least number of digits
///   u  unsigned decimal integer (a negative value shows as its two's
///      complement of the argument's width)
///   x  hexadecimal integer, upper-case digits; precision as for d
///   e  scientific "-d.ddddE+ddd" real; precision = digits in all (default 15)
///   f  fixed real "-ddd.dd"; precision = decimals (default 2)
///   g  shortest of fixed and scientific; precision = significant digits
///      (default 15), trailing zeros removed
///   n  like f with "," between thousands
///   m  money: "$1,234.50", negative "($1,234.50)"; precision = decimals
///      (default 2)
///   s  text; precision = most characters taken
///   p  pointer as upper-case hexadecimal, 8 digits on 32-bit and 16 on
///      64-bit systems
///   %  a literal "%" (takes no argument)
/// ```
///
/// Reals that are not numbers show as "NAN", "INF" and "-INF". Separators do
/// not depend on the locale.
///
/// Throws EConvertError "Format '<fmt>' invalid or incompatible with argument"
/// when a directive is malformed, an argument is missing or an argument's kind
/// does not fit its directive (an integer for %f, a real for %d, ...).
/// Arguments left over are ignored.
std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);

}  // namespace fernwick

/// \file
/// The host framework's variant: one value of a small set of kinds, with the
/// conversions between them. Field values of handheld records are variants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fernwick {

/// The kinds of value a Variant holds.
enum class TVarType : std::uint8_t {
  varEmpty,      ///< no value yet: converts to 0, 0.0 and ""
  varNull,       ///< the explicit "no value": converts to "" and to no number
  varInteger,    ///< signed 32-bit integer
  varDouble,     ///< double precision real
  varString,     ///< text of single-byte characters
  varArray,      ///< one-dimensional array of variants, indexed from 0
  varNativeInt,  ///< pointer-wide signed integer (the location of bytes in memory)
};

/// A value with value semantics: copying a Variant copies its text or its
/// whole array. Numbers are held inline, so creating, copying and converting
/// numeric variants never allocates; text uses std::string (short texts stay
/// inline too).
///
/// Conversions (AsInteger, AsDouble, AsString) follow the host framework:
///   from \ to   Integer               Double         String
///   Empty       0                     0.0            ""
///   Null        EVariantError         EVariantError  ""
///   Integer     itself                exact          decimal digits
///   Double      rounded half to even  itself         up to 15 significant digits
///   String      parsed (see below)    parsed         itself
///   Array       EVariantError         EVariantError  EVariantError
///   NativeInt   itself if in range    nearest        decimal digits
/// Text converts to a number when, apart from leading and trailing blanks, it
/// is a decimal number: an optional sign, digits with an optional '.' and
/// fraction, and an optional exponent ("42", "-7", "1.5", "2e3"); a real
/// converted to Integer is rounded half to even ("2.5" gives 2). Anything else,
/// including empty text, and any result outside the target's range raises
/// EVariantError "Could not convert variant of type (String) into type
/// (Integer)" (with the kinds involved).
class Variant {
 public:
  ///@{
  /// An empty variant.
  Variant() noexcept : type_(TVarType::varEmpty) { num_.i64 = 0; }
  ///@}
  ///@{
  /// A varInteger, varDouble or varString variant holding `value` (texts are
  /// copied).
  Variant(std::int32_t value) noexcept : type_(TVarType::varInteger) { num_.i64 = value; }
  Variant(double value) noexcept : type_(TVarType::varDouble) { num_.d = value; }
  Variant(std::string value) : type_(TVarType::varString) {
    new (&str_) std::string(std::move(value));
  }
  Variant(std::string_view value) : Variant(std::string(value)) {}
  Variant(const char* value) : Variant(std::string(value)) {}
  ///@}
  /// Not a kind of its own: say Variant(int32_t{b}) to store a truth value.
  Variant(bool) = delete;

  /// The Null variant.
  static Variant Null() noexcept;
  /// A variant holding a pointer-wide integer.
  static Variant FromNativeInt(std::intptr_t value) noexcept;
  /// A variant holding the address `p` as a pointer-wide integer.
  static Variant FromPointer(const void* p) noexcept;
  /// An array of `count` empty elements, bounds 0 to count - 1 (count >= 0).
  static Variant Array(int count);

  ///@{
  /// Numbers are copied inline; text and arrays take the out-of-line paths.
  Variant(const Variant& other) : type_(other.type_) {
    if (other.HoldsStorage()) {
      type_ = TVarType::varEmpty;
      CopyFrom(other);
    } else {
      num_ = other.num_;
    }
  }
  Variant(Variant&& other) noexcept : type_(TVarType::varEmpty) { MoveFrom(other); }
  Variant& operator=(const Variant& other) {
    if (!HoldsStorage() && !other.HoldsStorage()) {
      type_ = other.type_;
      num_ = other.num_;
      return *this;
    }
    return CopyAssign(other);
  }
  Variant& operator=(Variant&& other) noexcept {
    if (!HoldsStorage() && !other.HoldsStorage()) {
      type_ = other.type_;
      num_ = other.num_;
      other.type_ = TVarType::varEmpty;
      return *this;
    }
    return MoveAssign(other);
  }
  ~Variant() {
    if (HoldsStorage()) Reset();
  }
  ///@}

  /// The kind of value held.
  TVarType VarType() const noexcept { return type_; }
  ///@{
  /// Whether the kind is varEmpty, varNull or varArray.
  bool IsEmpty() const noexcept { return type_ == TVarType::varEmpty; }
  bool IsNull() const noexcept { return type_ == TVarType::varNull; }
  bool IsArray() const noexcept { return type_ == TVarType::varArray; }
  ///@}

  ///@{
  /// Conversions; each raises EVariantError when the value has no such form.
  std::int32_t AsInteger() const {
    if (type_ == TVarType::varInteger) return static_cast<std::int32_t>(num_.i64);
    return AsIntegerSlow();
  }
  double AsDouble() const;
  std::string AsString() const;
  ///@}
  /// The pointer-wide integer held by a varNativeInt or varInteger variant
  /// (0 for Empty); EVariantError for any other kind.
  std::intptr_t AsNativeInt() const;

  ///@{
  /// Non-raising conversions: store the result and answer true, or answer
  /// false and leave `out` untouched.
  bool TryAsInteger(std::int32_t& out) const noexcept {
    if (type_ == TVarType::varInteger) {
      out = static_cast<std::int32_t>(num_.i64);
      return true;
    }
    return TryAsIntegerSlow(out);
  }
  bool TryAsDouble(double& out) const noexcept;
  ///@}

  /// Makes this a varString variant holding `text`; a variant that already
  /// holds text keeps its storage (no allocation when the text fits in it).
  void AssignText(std::string_view text);

  /// The text of a varString variant without copying it. REQUIRES: varString.
  const std::string& StringRef() const noexcept { return str_; }

  /// Array access. ArrayLength is 0 for a variant that is not an array.
  int ArrayLength() const noexcept {
    return type_ == TVarType::varArray ? static_cast<int>(arr_.size()) : 0;
  }
  /// Highest index of the array (ArrayLength() - 1).
  int ArrayHighBound() const noexcept { return ArrayLength() - 1; }
  ///@{
  /// Element `index` of the array. REQUIRES: IsArray() and 0 <= index < ArrayLength().
  const Variant& Element(int index) const noexcept { return arr_[static_cast<std::size_t>(index)]; }
  Variant& Element(int index) noexcept { return arr_[static_cast<std::size_t>(index)]; }
  ///@}
  /// Changes the array to `count` elements (count >= 0), keeping the elements
  /// below the new count; added elements are empty. REQUIRES: IsArray().
  void ResizeArray(int count);

  /// Same kind and same value (arrays element by element). Empty equals only
  /// Empty and Null only Null.
  friend bool operator==(const Variant& a, const Variant& b) noexcept;

  /// Name of a kind as used in conversion messages: "Empty", "Null",
  /// "Integer", "Double", "String", "Array Variant", "NativeInt".
  static const char* TypeName(TVarType type) noexcept;

 private:
  bool HoldsStorage() const noexcept {
    return type_ == TVarType::varString || type_ == TVarType::varArray;
  }
  Variant& CopyAssign(const Variant& other);
  Variant& MoveAssign(Variant& other) noexcept;
  bool TryAsIntegerSlow(std::int32_t& out) const noexcept;
  std::int32_t AsIntegerSlow() const;
  void Reset() noexcept;
  void CopyFrom(const Variant& other);
  void MoveFrom(Variant& other) noexcept;
  [[noreturn]] void ConversionFailed(TVarType target) const;

  union Number {
    std::int64_t i64;  ///< varInteger and varNativeInt (sign-extended)
    double d;          ///< varDouble
  };

  TVarType type_;
  union {
    Number num_;
    std::string str_;           ///< varString
    std::vector<Variant> arr_;  ///< varArray
  };
};

}  // namespace fernwick

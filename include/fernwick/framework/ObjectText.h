/// \file
/// The text form of streamed components: a form with its controls, or a data
/// module with its components and their collections, written as readable text.
///
/// ```
///   object DorvConfigureDlg: TDorvConfigureDlg     <- name: class
///     Caption = 'Change HotSync Action'            <- property = value
///     Font.Name = 'MS Sans Serif'                  <- dotted property names
///     Font.Style = []                              <- sets
///     object OkBtn: TButton                        <- owned objects, nested
///       Left = 296
///     end
///     Fields = <                                   <- collections
///       item
///         FieldName = 'Id'
///       end>
///   end
/// ```
///
/// Values: decimal integers (optionally negative), quoted strings ('it''s',
/// #13 character codes, joined with +), identifiers (True, clBtnFace,
/// pftLongint), sets [a, b], collections < item ... end ... > and binary data
/// { 0A1B ... }. Lines are counted from 1; everything after // on a line is a
/// comment.
///
/// Reading never builds half an object: either the whole text is read, or
/// EParserError names the source, the line and what is wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <fernwick/framework/Exceptions.h>

namespace fernwick {

/// The text could not be read as streamed components, or a property in it is
/// missing, unknown or out of range. The message begins with "<source> line
/// <n>: ".
class EParserError : public Exception {
 public:
  /// Makes the exception with its message text.
  using Exception::Exception;
};

struct TStreamedProperty;

/// One item of a collection value: its properties, in text order.
struct TStreamedItem {
  int line = 0;                               ///< line of its "item", from 1
  std::vector<TStreamedProperty> properties;  ///< in text order
};

/// One property value.
struct TStreamedValue {
  /// The form of the value: a number, a quoted text, an identifier, a set
  /// "[a, b]", a collection "< item ... end >" or binary data "{ hex }".
  enum Kind { kInteger, kString, kIdent, kSet, kCollection, kBinary };
  Kind kind = kInteger;              ///< which of the members below holds the value
  std::int64_t integer = 0;          ///< kInteger
  std::string text;                  ///< kString, kIdent; kBinary: the bytes
  std::vector<std::string> set;      ///< kSet: the members, in text order
  std::vector<TStreamedItem> items;  ///< kCollection
};

/// One "Name = value" line.
struct TStreamedProperty {
  std::string name;      ///< "Left", "Font.Name"
  int line = 0;          ///< from 1
  TStreamedValue value;  ///< what follows "="
};

/// One "object Name: Class ... end" block.
struct TStreamedObject {
  std::string name;                           ///< "DorvConfigureDlg"
  std::string class_name;                     ///< "TDorvConfigureDlg"
  int line = 0;                               ///< line of "object", from 1
  std::vector<TStreamedProperty> properties;  ///< in text order
  std::vector<TStreamedObject> children;      ///< nested objects, in text order

  /// The property of that name (compared ignoring case), or nullptr.
  const TStreamedProperty* Find(std::string_view property) const;
};

/// Deepest nesting of objects and collections that ReadObjectText accepts.
constexpr int kMaxStreamDepth = 16;

/// Reads one top-level object from `text`. `source` names the text in error
/// messages (a file or resource name). Raises EParserError; never returns a
/// partly read object.
TStreamedObject ReadObjectText(std::string_view text, std::string_view source);

/// Helpers for readers of a TStreamedObject. Each raises EParserError
/// "<source> line <n>: <what is wrong>" naming the property.
class TStreamedReader {
 public:
  /// A reader of `object` (borrowed: it must outlive the reader); `source`
  /// names the text in messages.
  TStreamedReader(const TStreamedObject& object, std::string source)
      : object_(object), source_(std::move(source)) {}

  /// The object read.
  const TStreamedObject& Object() const { return object_; }
  /// The name of the text, as given.
  const std::string& Source() const { return source_; }

  /// Raises EParserError for the first property whose name is not in
  /// `allowed`, and for a property given twice.
  void CheckNames(const std::vector<std::string_view>& allowed) const;

  /// The integer property `name`, which must be present and in [low, high].
  std::int32_t Integer(std::string_view name, std::int32_t low, std::int32_t high) const;
  /// The same with a value for an absent property.
  std::int32_t Integer(std::string_view name, std::int32_t low, std::int32_t high,
                       std::int32_t absent) const;
  ///@{
  /// The string property `name`, which must be present.
  std::string String(std::string_view name) const;
  std::string String(std::string_view name, std::string absent) const;
  ///@}
  /// An identifier property (True, clBtnFace); `absent` when not given.
  std::string Ident(std::string_view name, std::string absent) const;
  /// A True/False property; `absent` when not given.
  bool Boolean(std::string_view name, bool absent) const;

  /// Raises EParserError "<source> line <line>: <message>".
  [[noreturn]] void Fail(int line, const std::string& message) const;

 private:
  const TStreamedProperty& Required(std::string_view name) const;

  const TStreamedObject& object_;
  std::string source_;
};

}  // namespace fernwick

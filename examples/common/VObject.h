// The content lines and components of vCard (RFC 2426, RFC 6350) and
// iCalendar (RFC 5545) files as other programs write them, read and written
// back without loss.
//
// Hand-written on purpose. The conduits built for Windows need the same code
// as those for Linux, and the project takes nothing from outside Debian's
// packages: Debian 12 has iCalendar and vCard libraries for its own
// architectures (libical, libbelcard, libvformat) but no MinGW-w64 build of
// any of them, and copying a library's source into the tree is not done.
// What is read here is small (lines, parameters, escapes, nested
// components); it is kept with the care of the record codec: its own tests
// (tests/examples/vobject_test.cpp) and a fuzzer per reader (fuzz/).
//
// Reading: a UTF-8 byte order mark is skipped; lines end in CR LF, LF or a
// lone CR; a line beginning with a space or a tab continues the one before
// (the fold may fall inside a UTF-8 sequence: the octets are joined
// before anything is decoded); empty lines are skipped. A property is
// [group "."] name *(";" parameter) ":" value; a parameter is name "="
// value *("," value), each value plain or in double quotes (RFC 6868's ^n,
// ^' and ^^ decoded), and a parameter without "=" (vCard 2.1's TEL;HOME) is
// read as TYPE=HOME, or as ENCODING= for QUOTED-PRINTABLE, BASE64, 8BIT and
// 7BIT and VALUE= for INLINE, URL, CONTENT-ID and CID. Names are compared
// without regard to case.
//
// vCard 2.1 (and vCalendar 1.0): a value with ENCODING=QUOTED-PRINTABLE is
// decoded, its line ending in '=' (a soft line break) joined with the next
// line whatever that begins with (an empty one too), before anything else
// is read of it; a value in a CHARSET (UTF-8, US-ASCII, ISO-8859-1 and
// windows-1252 both read as windows-1252, ISO-8859-15) becomes UTF-8, as
// does a quoted-printable one without CHARSET that is no UTF-8 (read as
// windows-1252); a CHARSET not known here leaves the octets as they are.
//
// Memory grows with the input only: every property keeps its line once
// more for the writer, and components nest at most kMaxNesting deep.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fernwick::examples {

// A file that cannot be read: what is wrong and on which line (1-based, the
// line where the logical line in question begins).
class EVObjectError : public std::runtime_error {
 public:
  EVObjectError(int line, const std::string& what);
  int Line() const { return line_; }

 private:
  int line_;
};

// How deep BEGIN blocks may nest (a VCALENDAR, its VTIMEZONE, the zone's
// STANDARD needs 3; a VEVENT's VALARM 3).
inline constexpr int kMaxNesting = 8;

struct TVParameter {
  std::string name;                 // upper case
  std::vector<std::string> values;  // unquoted, decoded, in their order
};

struct TVProperty {
  std::string group;  // as written, empty when none
  std::string name;   // upper case
  std::vector<TVParameter> params;
  // As written, still escaped; of a vCard 2.1 value in quoted-printable or
  // a CHARSET, the text decoded in UTF-8, its line breaks escaped (\n).
  std::string value;
  // The logical line as read, written back unchanged while it is not empty;
  // the setters below clear it, and the writer then composes the line. Of
  // a quoted-printable value, the lines as read (joined by CR LF).
  std::string raw;
  int line = 0;  // where it was read, 0 when made here
  // The CHARSET of the value when this reader does not know it (its octets
  // are kept as they are); empty otherwise.
  std::string unknown_charset;

  // The values of every parameter of that name (case-insensitive) in order:
  // TYPE=a,b and TYPE=a;TYPE=b both give {a, b}, and so does 4.0's
  // TYPE="a,b".
  std::vector<std::string> Params(std::string_view name) const;
  // The first value of the parameter, or "" when absent.
  std::string Param(std::string_view name) const;
  // Whether a TYPE value equals `type` (case-insensitive).
  bool HasType(std::string_view type) const;
  // The value as text, escapes (\\ \; \, \n \N) undone.
  std::string Text() const;
  // The value as a list: split at unescaped ',' and unescaped.
  std::vector<std::string> List() const;
  // A structured value (N, ADR, ORG): split at unescaped ';', each part at
  // unescaped ',', every piece unescaped.
  std::vector<std::vector<std::string>> Structured() const;

  // Sets the value to `text`, escaped; parameters are kept.
  void SetText(const std::string& text);
};

struct TVComponent {
  std::string name;  // upper case: VCARD, VCALENDAR, VEVENT, ...
  std::vector<TVProperty> properties;
  std::vector<TVComponent> components;
  int line = 0;  // of its BEGIN

  // The first property of that name, or null. The pointer lives as long as
  // `properties` is not changed.
  const TVProperty* Find(std::string_view name) const;
  TVProperty* Find(std::string_view name);
  std::vector<const TVProperty*> FindAll(std::string_view name) const;
};

// The top-level components of a file, in order. Throws EVObjectError for a
// property outside any component, a line without ':', an unterminated
// quoted parameter, END without or not matching its BEGIN, a BEGIN left
// open at the end, or nesting deeper than kMaxNesting.
std::vector<TVComponent> ReadVObjects(std::string_view text);

// The component as content lines (CR LF, folded at 75 octets between UTF-8
// characters): properties with a `raw` line as they were read, the others
// composed, then the nested components. In a component of VERSION 2.1 (or
// vCalendar's 1.0), and those nested in it, a composed property takes that
// version's form: types as bare parameters, and a value with a line break
// or beyond ASCII in quoted-printable (CHARSET=UTF-8 when beyond ASCII), as
// phones read it; in the other versions, plain UTF-8. Either way the
// ENCODING (but BASE64 or b) and CHARSET the value was read in are left out.
std::string WriteVObject(const TVComponent& component);

// Undoes the text escapes of a value (\\ \; \, \n \N; any other escaped
// character stands for itself).
std::string UnescapeText(std::string_view value);

// ASCII upper case.
std::string UpperAscii(std::string_view text);
// Whether a and b are equal without regard to ASCII case.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace fernwick::examples

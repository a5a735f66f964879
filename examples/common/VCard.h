// A vCard (3.0, RFC 2426; 4.0, RFC 6350; 2.1 with its quoted-printable
// values and character sets, VObject.h) as the Address Book side sees it:
// the fields the handheld has a place for, and the card as read, which
// keeps everything else (PHOTO, a third address, X- properties, other
// programs' parameters) for the writer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/VObject.h"

namespace fernwick::examples {

// A telephone number or e-mail address.
struct TVCardValue {
  std::string value;               // a 4.0 TEL;VALUE=uri's "tel:" taken off
  std::vector<std::string> types;  // lower case, "pref" left out
  int pref = 0;                    // 1 (most) to 100; 0 when not preferred
  bool operator==(const TVCardValue&) const = default;
};

struct TVCardAddress {
  std::string po_box, extended, street, locality, region, postal_code, country;
  std::vector<std::string> types;
  int pref = 0;
  bool operator==(const TVCardAddress&) const = default;
};

struct TVCard {
  std::string version;  // "2.1", "3.0" or "4.0" as the card says
  std::string uid;
  std::string formatted_name;  // FN
  // N: family; given; additional; prefixes; suffixes (lists joined by ",")
  std::string family, given, additional, prefixes, suffixes;
  std::string organization;  // ORG's first part
  std::string title;
  std::vector<TVCardValue> tels, emails;
  std::vector<TVCardAddress> addresses;
  std::string note;
  std::vector<std::string> categories;
  // The card as read; WriteVObject(card.source) writes it back unchanged.
  TVComponent source;
  // What was not read as meant, for the log: a value in a character set
  // not known here, kept as its octets.
  std::vector<std::string> notes;

  // The mapped fields only (the models two readings give are compared so).
  bool SameFields(const TVCard& other) const;
};

// The card of a VCARD component. Throws EVObjectError when it is none or
// when its VERSION is neither 2.1, 3.0 nor 4.0.
TVCard ReadVCard(const TVComponent& component);
// Every card of a file (ReadVObjects, then ReadVCard); throws EVObjectError
// for anything but VCARD components at the top.
std::vector<TVCard> ReadVCards(std::string_view text);

}  // namespace fernwick::examples

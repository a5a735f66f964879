#include "VCard.h"

#include <cstdlib>
#include <string>

namespace fernwick::examples {

namespace {

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) out += (i != 0 ? "," : "") + items[i];
  return out;
}

std::string Part(const std::vector<std::vector<std::string>>& parts, std::size_t index) {
  return index < parts.size() ? Join(parts[index]) : std::string();
}

// Lower-case types of the property without "pref"; its preference from
// 3.0's TYPE=pref (1) or 4.0's PREF=n.
template <typename T>
void TypesAndPref(const TVProperty& property, T& item) {
  for (const std::string& type : property.Params("TYPE")) {
    std::string lower = type;
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lower == "pref") {
      item.pref = 1;
    } else {
      item.types.push_back(lower);
    }
  }
  const std::string pref = property.Param("PREF");
  if (!pref.empty()) {
    const long n = std::strtol(pref.c_str(), nullptr, 10);
    item.pref = n >= 1 && n <= 100 ? static_cast<int>(n) : 100;
  }
}

}  // namespace

bool TVCard::SameFields(const TVCard& o) const {
  return version == o.version && uid == o.uid && formatted_name == o.formatted_name &&
         family == o.family && given == o.given && additional == o.additional &&
         prefixes == o.prefixes && suffixes == o.suffixes && organization == o.organization &&
         title == o.title && tels == o.tels && emails == o.emails && addresses == o.addresses &&
         note == o.note && categories == o.categories;
}

TVCard ReadVCard(const TVComponent& component) {
  if (component.name != "VCARD")
    throw EVObjectError(component.line, component.name + " where a VCARD was expected");
  TVCard card;
  if (const TVProperty* version = component.Find("VERSION")) card.version = version->Text();
  if (card.version != "2.1" && card.version != "3.0" && card.version != "4.0")
    throw EVObjectError(component.line,
                        "VCARD of version \"" + card.version + "\", not 2.1, 3.0 or 4.0");
  for (const TVProperty& p : component.properties) {
    if (!p.unknown_charset.empty())
      card.notes.push_back("line " + std::to_string(p.line) + ": " + p.name +
                           " is in character set \"" + p.unknown_charset +
                           "\", unknown here: its octets are kept as they are");
    if (p.name == "UID") {
      card.uid = p.Text();
    } else if (p.name == "FN") {
      card.formatted_name = p.Text();
    } else if (p.name == "N") {
      const auto parts = p.Structured();
      card.family = Part(parts, 0);
      card.given = Part(parts, 1);
      card.additional = Part(parts, 2);
      card.prefixes = Part(parts, 3);
      card.suffixes = Part(parts, 4);
    } else if (p.name == "ORG") {
      card.organization = Part(p.Structured(), 0);
    } else if (p.name == "TITLE") {
      card.title = p.Text();
    } else if (p.name == "NOTE") {
      card.note = p.Text();
    } else if (p.name == "CATEGORIES") {
      for (const std::string& category : p.List())
        if (!category.empty()) card.categories.push_back(category);
    } else if (p.name == "TEL" || p.name == "EMAIL") {
      TVCardValue item;
      item.value = p.Text();
      // 4.0 writes a number as a URI; one without "tel:" stays as written.
      if (EqualsNoCase(p.Param("VALUE"), "uri") && EqualsNoCase(item.value.substr(0, 4), "tel:"))
        item.value.erase(0, 4);
      TypesAndPref(p, item);
      (p.name == "TEL" ? card.tels : card.emails).push_back(std::move(item));
    } else if (p.name == "ADR") {
      const auto parts = p.Structured();
      TVCardAddress address;
      address.po_box = Part(parts, 0);
      address.extended = Part(parts, 1);
      address.street = Part(parts, 2);
      address.locality = Part(parts, 3);
      address.region = Part(parts, 4);
      address.postal_code = Part(parts, 5);
      address.country = Part(parts, 6);
      TypesAndPref(p, address);
      card.addresses.push_back(std::move(address));
    }
  }
  card.source = component;
  return card;
}

std::vector<TVCard> ReadVCards(std::string_view text) {
  std::vector<TVCard> cards;
  for (const TVComponent& component : ReadVObjects(text)) cards.push_back(ReadVCard(component));
  return cards;
}

}  // namespace fernwick::examples

// An example two-way conduit: the Address Book as vCards, the format address
// books on the desktop read and write: <desktop folder>/AddressBook/
// AddressBook.vcf with one card per contact, and the contacts archived on
// the handheld in AddressBook-archive.vcf (kept by id). The mirror-sync
// engine (<fernwick/sync/DorvMirrorSync.h>) does the synchronisation; this
// file is the mapping between a card and a record.
//
// Cards are read as other programs write them (vCard 3.0, 4.0 and 2.1 as
// far as it agrees; examples/common/VCard.h). A card is keyed by its UID
// "<record id>@AddressDB". A card with another UID, or none, is a new
// contact; a card with a UID of its own keeps it, and the record id goes
// beside it in X-FERNWICK-ID:<record id>@AddressDB, which then keys it.
//
// Mapped: N (family and given name), FN (when the name changes), ORG's first
// part, TITLE, NOTE, the first ADR (the most preferred one when any is
// marked so) without its post office box and extended address, the first
// five TEL and EMAIL properties (the phones, in order, one with an e-mail
// label an EMAIL; TYPE follows the label, X-LABEL on a new one says its
// text, the phone shown in the list is the most preferred), X-CUSTOM1 to
// X-CUSTOM4 (the custom fields), CATEGORIES' first value (the category),
// and CLASS:PRIVATE (a secret record). When the handheld changes a contact,
// its card is changed in place: only the mapped properties whose meaning
// changed are rewritten, their parameters kept; PHOTO, further TEL, EMAIL
// and ADR properties, X- properties, other CATEGORIES and other programs'
// parameters stay as they were. A phone deleted on the handheld removes its
// property; the card's further phones stay the desktop's own: when the card
// keeps more phones than the handheld then holds, X-FERNWICK-PHONES:<n>
// says that the handheld holds its first n (fewer than five).
//
// A record stores only the fields that are present: the present-fields
// mask says which, and the existence handlers answer from it, so the codec
// skips the absent ones.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "common/TextFormats.h"
#include "common/VCard.h"
#include <fernwick/conduit/ConduitModule.h>
#include <fernwick/db/CategoryBlock.h>
#include <fernwick/db/PalmText.h>
#include <fernwick/framework/Exceptions.h>
#include <fernwick/sync/DorvMirrorSync.h>

namespace {

using namespace fernwick;
using namespace fernwick::examples;
namespace fs = std::filesystem;

// Field indexes of a record's entries (and of the first 19 labels).
enum Entry : int {
  kLastName = 0,
  kFirstName,
  kCompany,
  kPhone1,
  kAddress = kPhone1 + 5,
  kCity,
  kState,
  kZip,
  kCountry,
  kTitle,
  kCustom1,
  kNote = kCustom1 + 4,
  kEntryCount
};

// vCard TYPE values of the phone labels Work, Home, Fax, Other, E-mail,
// Main, Pager, Mobile.
const std::array<std::vector<std::string>, 8> kPhoneTypes = {{{"WORK", "VOICE"},
                                                              {"HOME", "VOICE"},
                                                              {"FAX"},
                                                              {"VOICE"},
                                                              {"INTERNET"},
                                                              {"VOICE"},
                                                              {"PAGER"},
                                                              {"CELL"}}};
constexpr int kEmailLabel = 4;
const std::string kIdSuffix = "@AddressDB";

// The record id a UID of ours holds ("<id>@AddressDB"), or 0.
std::uint32_t OurId(const std::string& uid) {
  if (uid.size() <= kIdSuffix.size() ||
      uid.compare(uid.size() - kIdSuffix.size(), kIdSuffix.size(), kIdSuffix) != 0)
    return 0;
  const std::string digits = uid.substr(0, uid.size() - kIdSuffix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 8) return 0;
  return static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 10));
}

TVProperty Property(std::string name, std::string value = std::string()) {
  TVProperty p;
  p.name = std::move(name);
  p.value = std::move(value);
  return p;
}

std::string Text(const TVComponent& card, const char* name) {
  const TVProperty* p = card.Find(name);
  return p ? p->Text() : std::string();
}

// Sets property `name` to `text` (removed when empty, added when absent);
// unchanged when it already says so.
void SetProperty(TVComponent& card, const std::string& name, const std::string& text) {
  TVProperty* p = card.Find(name);
  if (p && p->Text() == text) return;
  if (text.empty()) {
    std::erase_if(card.properties, [&](const TVProperty& q) { return q.name == name; });
    return;
  }
  if (!p) p = &card.properties.emplace_back(Property(name));
  p->SetText(text);
}

// Replaces parts `first`.. of a structured value (N, ADR, ORG) by `texts`,
// keeping the other parts as written; unchanged when they already say so.
void SetParts(TVProperty& p, std::size_t first, const std::vector<std::string>& texts) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < p.value.size(); ++i) {
    if (p.value[i] == '\\' && i + 1 < p.value.size()) {
      parts.back() += p.value.substr(i++, 2);
    } else if (p.value[i] == ';') {
      parts.emplace_back();
    } else {
      parts.back() += p.value[i];
    }
  }
  bool changed = false;
  if (parts.size() < first + texts.size()) parts.resize(first + texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (UnescapeText(parts[first + i]) == texts[i]) continue;
    parts[first + i] = EscapeText(texts[i]);
    changed = true;
  }
  if (!changed) return;
  p.value.clear();
  for (std::size_t i = 0; i < parts.size(); ++i) p.value += (i != 0 ? ";" : "") + parts[i];
  p.raw.clear();
}

// The phone label a TEL or EMAIL property's types say.
int LabelOf(const TVProperty& p) {
  if (p.name == "EMAIL") return kEmailLabel;
  for (const auto& [type, label] :
       {std::pair{"CELL", 7}, std::pair{"PAGER", 6}, std::pair{"FAX", 2}, std::pair{"WORK", 0},
        std::pair{"HOME", 1}})
    if (p.HasType(type)) return label;
  return 3;
}

// Whether the property can stand for a phone of `label` as it is (Main and
// Other are both a plain VOICE).
bool Fits(const TVProperty& p, int label) {
  if ((p.name == "EMAIL") != (label == kEmailLabel)) return false;
  return LabelOf(p) == label || (label == 5 && LabelOf(p) == 3);
}

// A phone's number or address (4.0's "tel:" URI taken off).
std::string PhoneText(const TVProperty& p) {
  std::string text = p.Text();
  if (EqualsNoCase(p.Param("VALUE"), "uri") && EqualsNoCase(text.substr(0, 4), "tel:"))
    text.erase(0, 4);
  return text;
}

int Pref(const TVProperty& p) {
  if (p.HasType("PREF")) return 1;
  const long n = std::strtol(p.Param("PREF").c_str(), nullptr, 10);
  return n >= 1 && n <= 100 ? static_cast<int>(n) : 0;
}

// Indexes into card.properties of the phones the handheld holds: the first
// five TEL and EMAIL properties, or as many as X-FERNWICK-PHONES says.
std::vector<std::size_t> PhoneIndexes(const TVComponent& card) {
  std::size_t held = 5;
  if (const std::string n = Text(card, "X-FERNWICK-PHONES");
      n.size() == 1 && n[0] >= '0' && n[0] < '5')
    held = static_cast<std::size_t>(n[0] - '0');
  std::vector<std::size_t> found;
  for (std::size_t i = 0; i < card.properties.size() && found.size() < held; ++i)
    if (card.properties[i].name == "TEL" || card.properties[i].name == "EMAIL") found.push_back(i);
  return found;
}

// The index of the address the handheld holds, or -1.
int Address(const TVComponent& card) {
  int best = -1, best_pref = 101;
  for (std::size_t i = 0; i < card.properties.size(); ++i) {
    if (card.properties[i].name != "ADR") continue;
    const int pref = Pref(card.properties[i]);
    if (best < 0 || (pref > 0 && pref < best_pref)) {
      best = static_cast<int>(i);
      best_pref = pref > 0 ? pref : 101;
    }
  }
  return best;
}

// Pairs the phone properties with handheld slots: one holding the same
// number first, then the others in order. `slots` are the slots to fill in
// order of preference; returns the slot of each property (-1: none).
std::vector<int> Pair(const TVComponent& card, const std::vector<std::size_t>& phones,
                      const std::vector<int>& slots, const std::array<std::string, 5>& numbers) {
  std::vector<int> slot(phones.size(), -1);
  std::vector<bool> used(5, false);
  for (std::size_t k = 0; k < phones.size(); ++k)
    for (const int s : slots)
      if (!used[s] && !numbers[s].empty() && numbers[s] == PhoneText(card.properties[phones[k]])) {
        slot[k] = s;
        used[s] = true;
        break;
      }
  for (std::size_t k = 0; k < phones.size(); ++k)
    for (const int s : slots)
      if (slot[k] < 0 && !used[s]) {
        slot[k] = s;
        used[s] = true;
      }
  return slot;
}

class TAddressFiles : public TDorvSyncAdapter {
 public:
  // `info` are the application info's fields, read by the engine.
  // `log` gets what the card reader could not read as meant.
  TAddressFiles(fs::path folder, TDorvPalmFields& info, TDorvConduit& log)
      : folder_(std::move(folder)), info_(info), log_(log) {}

  std::vector<TDorvSyncItem> ReadDesktop() override {
    std::vector<TDorvSyncItem> items;
    // The archive is read now, before anything is written: one that cannot
    // be read stops the synchronisation while both sides are untouched.
    archive_ = ReadCards(folder_ / "AddressBook-archive.vcf");
    for (TVComponent& card : ReadCards(folder_ / "AddressBook.vcf")) {
      TDorvSyncItem& item = items.emplace_back();
      item.id = OurId(Text(card, "UID"));
      if (item.id == 0) item.id = OurId(Text(card, "X-FERNWICK-ID"));
      const TVProperty* categories = card.Find("CATEGORIES");
      const std::vector<std::string> names =
          categories ? categories->List() : std::vector<std::string>();
      item.category = names.empty() ? std::string() : names.front();
      item.secret = EqualsNoCase(Text(card, "CLASS"), "PRIVATE");
      item.value = std::move(card);
    }
    return items;
  }

  void ToRecord(const TDorvSyncItem& item, TDorvPalmFields& fields) override {
    const TVComponent& source = std::any_cast<const TVComponent&>(item.value);
    const TVCard card = ReadVCard(source);
    std::array<std::string, kEntryCount> entry;
    entry[kLastName] = card.family;
    entry[kFirstName] = card.given;
    entry[kCompany] = card.organization;
    entry[kTitle] = card.title;
    entry[kNote] = card.note;
    if (const int a = Address(source); a >= 0) {
      const auto parts = source.properties[a].Structured();
      for (int i = 0; i < 5; ++i) {
        const std::size_t part = 2 + static_cast<std::size_t>(i);
        std::string text;
        if (part < parts.size())
          for (std::size_t j = 0; j < parts[part].size(); ++j)
            text += (j != 0 ? "," : "") + parts[part][j];
        entry[kAddress + i] = text;
      }
    }
    for (int i = 0; i < 4; ++i)
      entry[kCustom1 + i] = Text(source, ("X-CUSTOM" + std::to_string(i + 1)).c_str());

    // The phones: into the slots the last record used, then the free ones.
    TDorvPalmField* entries = fields.FieldByName("Entry");
    TDorvPalmField* label_word = fields.FieldByName("PhoneLabels");
    auto word = static_cast<std::uint32_t>(
        label_word->Value().IsEmpty() ? 0x43210 : label_word->GetAsInteger());
    std::array<std::string, 5> numbers;
    std::vector<int> slots, free;
    for (int s = 0; s < 5; ++s) {
      numbers[s] = PalmToUtf8(entries->GetArrayValue(kPhone1 + s).AsString());
      (numbers[s].empty() ? free : slots).push_back(s);
    }
    slots.insert(slots.end(), free.begin(), free.end());
    const std::vector<std::size_t> phones = PhoneIndexes(source);
    const std::vector<int> slot = Pair(source, phones, slots, numbers);
    int shown = -1, shown_pref = 101;
    for (std::size_t k = 0; k < phones.size(); ++k) {
      const TVProperty& p = source.properties[phones[k]];
      entry[kPhone1 + slot[k]] = PhoneText(p);
      const int old = static_cast<int>((word >> (4 * slot[k])) & 0x0F);
      const int label = Fits(p, old) ? old : LabelOf(p);
      word =
          (word & ~(0x0Fu << (4 * slot[k]))) | (static_cast<std::uint32_t>(label) << (4 * slot[k]));
      if (const int pref = Pref(p); pref > 0 && pref < shown_pref) {
        shown = slot[k];
        shown_pref = pref;
      }
    }
    const int old_shown = static_cast<int>((word >> 20) & 0x0F);
    if (shown < 0) shown = old_shown < 5 && !entry[kPhone1 + old_shown].empty() ? old_shown : 0;
    for (int s = 0; s < 5 && shown == 0 && entry[kPhone1].empty(); ++s)
      if (!entry[kPhone1 + s].empty()) shown = s;
    word = (word & ~(0x0Fu << 20)) | (static_cast<std::uint32_t>(shown) << 20);
    label_word->SetAsInteger(static_cast<std::int32_t>(word));

    std::int32_t present = 0;
    int offset = 1;  // from the offset byte to the company string
    for (int i = 0; i < kEntryCount; ++i) {
      const std::string palm = Utf8ToPalm(entry[i]);
      entries->SetArrayValue(i, palm);
      if (palm.empty()) continue;
      present |= 1 << i;
      if (i < kCompany) offset += static_cast<int>(palm.size()) + 1;
    }
    fields.FieldByName("Present")->SetAsInteger(present);
    fields.FieldByName("CompanyOffset")->SetAsInteger(entry[kCompany].empty() ? 0 : offset);
  }

  TDorvSyncItem FromRecord(TDorvPalmFields& fields, const TDorvSyncItem* previous) override {
    TVComponent card;
    if (previous) {
      card = std::any_cast<const TVComponent&>(previous->value);
    } else {
      card.name = "VCARD";
      card.properties.push_back(Property("VERSION", "3.0"));
      card.properties.push_back(Property("CATEGORIES"));
    }
    TDorvPalmField* entries = fields.FieldByName("Entry");
    const auto entry = [&](int i) { return PalmToUtf8(entries->GetArrayValue(i).AsString()); };
    const std::string last = entry(kLastName), first = entry(kFirstName);
    const std::string company = entry(kCompany);

    TVProperty* n = card.Find("N");
    if (!n) n = &card.properties.emplace_back(Property("N", ";;;;"));
    const std::string before = n->value;
    SetParts(*n, 0, {last, first});
    // FN follows the name when the handheld changed it (prefixes and the
    // like kept), or the company when there is no name.
    std::string full;
    for (const std::size_t part : {3, 1, 2, 0, 4}) {
      const auto parts = n->Structured();
      std::string text;
      if (part < parts.size())
        for (std::size_t j = 0; j < parts[part].size(); ++j)
          text += (j != 0 ? "," : "") + parts[part][j];
      if (!text.empty()) full += (full.empty() ? "" : " ") + text;
    }
    if (last.empty() && first.empty()) full = company;
    const bool has_org = card.Find("ORG") != nullptr;
    const bool name_changed =
        n->value != before || (has_org ? ReadVCard(card).organization : std::string()) != company;
    TVProperty* fn = card.Find("FN");
    if (!fn) fn = &card.properties.emplace_back(Property("FN"));
    if (name_changed && fn->Text() != full) fn->SetText(full);
    if (TVProperty* org = card.Find("ORG"); org && !company.empty()) {
      SetParts(*org, 0, {company});
    } else {
      SetProperty(card, "ORG", company);
    }
    SetProperty(card, "TITLE", entry(kTitle));
    SetProperty(card, "NOTE", entry(kNote));
    for (int i = 0; i < 4; ++i)
      SetProperty(card, "X-CUSTOM" + std::to_string(i + 1), entry(kCustom1 + i));
    for (int i = 0; i < 4 && !entry(kCustom1 + i).empty(); ++i)
      if (TVProperty* p = card.Find("X-CUSTOM" + std::to_string(i + 1)); p && p->params.empty())
        p->params.push_back({"X-LABEL", {Label(kCustom1 + i)}});

    std::vector<std::string> address;
    for (int i = kAddress; i <= kCountry; ++i) address.push_back(entry(i));
    const bool any_address = std::any_of(address.begin(), address.end(),
                                         [](const std::string& s) { return !s.empty(); });
    if (const int a = Address(card); a >= 0 && any_address) {
      SetParts(card.properties[a], 2, address);
    } else if (a >= 0) {
      card.properties.erase(card.properties.begin() + a);
    } else if (any_address) {
      SetParts(card.properties.emplace_back(Property("ADR")), 0,
               {"", "", address[0], address[1], address[2], address[3], address[4]});
    }

    SetPhones(fields, card, entry);
    return TDorvSyncItem{0, {}, {}, std::move(card)};
  }

  void WriteDesktop(const std::vector<TDorvSyncItem>& live,
                    const std::vector<TDorvSyncItem>& archived, TDesktopWriter& writer) override {
    writer.MakeFolders(folder_);
    // The engine gives the cards in the file's order, new ones after them.
    std::string text;
    for (const TDorvSyncItem& item : live) text += Card(item, true);
    writer.Write(folder_ / "AddressBook.vcf", text);
    if (archived.empty()) return;
    // The archive keeps its cards by id: a record archived again (a
    // synchronisation cut short before the purge) replaces its card.
    std::map<std::uint32_t, std::string> cards;
    std::vector<std::string> others;
    for (TVComponent& card : archive_) {
      std::uint32_t id = OurId(Text(card, "UID"));
      if (id == 0) id = OurId(Text(card, "X-FERNWICK-ID"));
      (id == 0 ? others.emplace_back() : cards[id]) = WriteVObject(card);
    }
    for (const TDorvSyncItem& item : archived) cards[item.id] = Card(item, false);
    text.clear();
    for (const std::string& card : others) text += card;
    for (const auto& [id, card] : cards) text += card;
    writer.Write(folder_ / "AddressBook-archive.vcf", text);
  }

 private:
  // The cards of the file at `path`, each checked to be one; what the card
  // reader could not read as meant goes to the HotSync log.
  std::vector<TVComponent> ReadCards(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in && fs::exists(path)) throw EDorvConduitError("Cannot read " + path.string());
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    try {
      std::vector<TVComponent> cards = ReadVObjects(text);
      for (const TVComponent& card : cards)
        for (const std::string& note : ReadVCard(card).notes)
          log_.AddLogEntry("Address Book: " + path.filename().string() + ", " + note);
      return cards;
    } catch (const EVObjectError& e) {
      throw EDorvConduitError(path.string() + ": " + e.what());
    }
  }

  // Sets the card's TEL and EMAIL properties from the record's phones.
  void SetPhones(TDorvPalmFields& fields, TVComponent& card, const auto& entry) {
    const auto word = static_cast<std::uint32_t>(fields.FieldByName("PhoneLabels")->GetAsInteger());
    const int shown = static_cast<int>((word >> 20) & 0x0F);
    std::array<std::string, 5> numbers;
    std::vector<int> slots;
    for (int s = 0; s < 5; ++s) {
      numbers[s] = entry(kPhone1 + s);
      if (!numbers[s].empty()) slots.push_back(s);
    }
    const std::vector<std::size_t> phones = PhoneIndexes(card);
    const std::vector<int> slot = Pair(card, phones, slots, numbers);
    // The preferred phone as the card says it, when it is one of ours.
    int card_shown = -1, best = 101;
    for (std::size_t k = 0; k < phones.size(); ++k)
      if (const int pref = Pref(card.properties[phones[k]]);
          slot[k] >= 0 && pref > 0 && pref < best) {
        card_shown = slot[k];
        best = pref;
      }
    const bool fix_pref = card_shown >= 0 ? card_shown != shown : false;
    std::vector<bool> done(5, false);
    std::vector<std::size_t> gone;
    for (std::size_t k = 0; k < phones.size(); ++k) {
      TVProperty& p = card.properties[phones[k]];
      if (slot[k] < 0) {
        gone.push_back(phones[k]);
        continue;
      }
      const int s = slot[k];
      done[s] = true;
      const int label = static_cast<int>((word >> (4 * s)) & 0x0F) & 7;
      if (PhoneText(p) != numbers[s])
        p.SetText((EqualsNoCase(p.Param("VALUE"), "uri") ? "tel:" : "") + numbers[s]);
      if (!Fits(p, label)) {
        p.name = label == kEmailLabel ? "EMAIL" : "TEL";
        std::erase_if(p.params, [](const TVParameter& q) {
          return q.name == "TYPE" || q.name == "X-LABEL" || q.name == "PREF";
        });
        p.params.insert(p.params.begin(), {"TYPE", kPhoneTypes[label]});
        p.params.push_back({"X-LABEL", {PhoneLabel(label)}});
        if (s == shown) p.params.front().values.push_back("PREF");
        p.raw.clear();
      } else if (fix_pref && (s == shown || Pref(p) > 0)) {
        for (TVParameter& q : p.params)
          if (q.name == "TYPE")
            std::erase_if(q.values, [](const std::string& v) { return EqualsNoCase(v, "PREF"); });
        std::erase_if(p.params, [](const TVParameter& q) {
          return q.name == "PREF" || (q.name == "TYPE" && q.values.empty());
        });
        if (s == shown) p.params.push_back({"TYPE", {"PREF"}});
        p.raw.clear();
      }
    }
    // New phones go after the last phone property (or at the end).
    std::size_t at = phones.empty() ? card.properties.size() : phones.back() + 1;
    for (const int s : slots) {
      if (done[s]) continue;
      const int label = static_cast<int>((word >> (4 * s)) & 0x0F) & 7;
      TVProperty p = Property(label == kEmailLabel ? "EMAIL" : "TEL");
      p.params.push_back({"TYPE", kPhoneTypes[label]});
      if (s == shown) p.params.back().values.push_back("PREF");
      p.params.push_back({"X-LABEL", {PhoneLabel(label)}});
      p.SetText(numbers[s]);
      card.properties.insert(card.properties.begin() + static_cast<std::ptrdiff_t>(at++), p);
      for (std::size_t& g : gone)
        if (g >= at - 1) ++g;
    }
    std::sort(gone.rbegin(), gone.rend());
    for (const std::size_t g : gone) card.properties.erase(card.properties.begin() + g);
    // A phone deleted on the handheld leaves a slot free: the card's next
    // phone, one the handheld never held, must not take it.
    const auto all =
        std::count_if(card.properties.begin(), card.properties.end(),
                      [](const TVProperty& p) { return p.name == "TEL" || p.name == "EMAIL"; });
    const auto held = static_cast<std::ptrdiff_t>(slots.size());
    SetProperty(card, "X-FERNWICK-PHONES", all > held && held < 5 ? std::to_string(held) : "");
  }

  // The text of phone label `label` (0 to 7) as the user's handheld shows it.
  std::string PhoneLabel(int label) const {
    return label < 5 ? Label(kPhone1 + label) : Label(kEntryCount + label - 5);
  }

  // The card of `item` as a file holds it: keyed by its id, its category
  // (not in the archive: an archived record's category bits hold the
  // archive flag) and private class set.
  std::string Card(const TDorvSyncItem& item, bool live) const {
    TVComponent card = std::any_cast<const TVComponent&>(item.value);
    const std::string id = std::to_string(item.id) + kIdSuffix;
    const std::string uid = Text(card, "UID");
    if (uid.empty() || OurId(uid) != 0) {
      SetProperty(card, "UID", id);
      SetProperty(card, "X-FERNWICK-ID", "");
    } else {
      SetProperty(card, "X-FERNWICK-ID", id);
    }
    if (live && item.category) {
      // A card of another program without categories stays so while it
      // is Unfiled; a new card of ours has an empty CATEGORIES to fill.
      TVProperty* p = card.Find("CATEGORIES");
      std::vector<std::string> names = p ? p->List() : std::vector<std::string>();
      if ((p || *item.category != CategoryNames(info_)[0]) &&
          (names.empty() || names.front() != *item.category)) {
        if (!p) p = &card.properties.emplace_back(Property("CATEGORIES"));
        std::string value = EscapeText(*item.category);
        for (std::size_t i = 1; i < names.size(); ++i) value += "," + EscapeText(names[i]);
        p->value = value;
        p->raw.clear();
      }
    }
    std::erase_if(card.properties,
                  [](const TVProperty& p) { return p.name == "CATEGORIES" && p.value.empty(); });
    const bool secret = item.secret.value_or(false);
    if (secret != EqualsNoCase(Text(card, "CLASS"), "PRIVATE"))
      SetProperty(card, "CLASS", secret ? "PRIVATE" : "");
    return WriteVObject(card);
  }

  std::string Label(int index) const {
    return PalmToUtf8(info_.FieldByName("Label")->GetArrayValue(index).AsString());
  }

  fs::path folder_;
  TDorvPalmFields& info_;
  TDorvConduit& log_;
  std::vector<TVComponent> archive_;  // the archive's cards, as read
};

class TAddressVCardModule : public TComponent {
 public:
  explicit TAddressVCardModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), contacts_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Address Book");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) {
      const fs::path folder = fs::path(conduit_->PathName()) / "AddressBook";
      TAddressFiles files(folder, contacts_->AppInfoFields(), *conduit_);
      TDorvMirrorSync(*contacts_, files, folder, "AddressDB").Run(*conduit_);
    });

    contacts_->SetFileName("AddressDB");
    // Record: the phone label word (a nibble per phone, then the phone shown
    // in the list), the present-fields mask, the company offset, then one
    // string for each present field.
    contacts_->AddField("PhoneLabels", pftLongint, 0);
    present_ = contacts_->AddField("Present", pftLongint, 0);
    contacts_->AddField("CompanyOffset", pftByte, 0);
    entries_ = contacts_->AddField("Entry", pftString, 0);
    entries_->SetArraySize(kEntryCount);
    // Present is decoded (or set) before Entry: its bit i says whether entry
    // i is stored.
    const auto exists = [this](TDorvConduitDb&, TDorvPalmField& field, std::int32_t index,
                               bool& stored) {
      if (&field == entries_) stored = ((present_->GetAsInteger() >> index) & 1) != 0;
    };
    contacts_->SetOnTestFieldExistsForRead(exists);
    contacts_->SetOnTestFieldExistsForWrite(exists);

    // Application info: the category block, the dirty-labels mask, 22
    // labels of 16 bytes (the 19 field labels, then Main, Pager, Mobile),
    // the country, a reserved byte, sort by company and a pad byte.
    TDorvPalmFields& info = contacts_->AppInfoFields();
    AddCategoryFields(info);
    TDorvPalmField* field = info.Add();
    field->SetFieldName("DirtyLabels");
    field->SetDataType(pftLongint);
    field = info.Add();
    field->SetFieldName("Label");
    field->SetDataType(pftString);
    field->SetSize(16);
    field->SetArraySize(22);
    for (const char* name : {"Country", "Reserved2", "SortByCompany", "Pad"}) {
      field = info.Add();
      field->SetFieldName(name);
      field->SetDataType(pftByte);
    }
  }

 private:
  TDorvConduit* conduit_;     // owned by this module
  TDorvConduitDb* contacts_;  // owned by this module
  TDorvPalmField* present_;   // owned by contacts_
  TDorvPalmField* entries_;   // owned by contacts_
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TAddressVCardModule)

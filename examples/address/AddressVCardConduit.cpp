// An example conduit that copies the Address Book to vCard 3.0 (RFC 2426),
// the format address books on the desktop import:
// <desktop folder>/AddressBook/AddressBook.vcf with one card per contact,
// and the archived contacts in AddressBook-archive.vcf.
//
// A card holds N and FN (the name; FN falls back to the company), ORG,
// TITLE, ADR, NOTE, CATEGORIES (the category name), CLASS:PRIVATE for a
// secret record and UID "<record id>@AddressDB". Each phone becomes a TEL
// (an e-mail "phone" an EMAIL) whose TYPE follows its label and whose
// X-LABEL parameter is the label's text from the application info block;
// the phone the handheld shows in the list is TYPE=PREF. Custom fields 1 to
// 4 become X-CUSTOM1 to X-CUSTOM4 with the user's label in X-LABEL.
//
// A record stores only the fields that are present: the present-fields
// mask says which, and the existence handler (OnTestFieldExistsForRead)
// answers from it, so the codec skips the absent ones.
#include <array>
#include <cstdint>
#include <string>

#include <fernwick/conduit/ConduitModule.h>
#include "common/ExampleSupport.h"
#include "common/TextFormats.h"

namespace {

using namespace fernwick;
using namespace fernwick::examples;

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
constexpr std::array<const char*, 8> kPhoneTypes = {"WORK,VOICE", "HOME,VOICE", "FAX",   "VOICE",
                                                    "INTERNET",   "VOICE",      "PAGER", "CELL"};
constexpr int kEmailLabel = 4;

class TAddressVCardModule : public TComponent {
 public:
  explicit TAddressVCardModule(TComponent* owner)
      : TComponent(owner), conduit_(new TDorvConduit(this)), contacts_(new TDorvConduitDb(this)) {
    conduit_->SetConduitName("Address Book");
    conduit_->SetOnOpenConduit([this](std::int32_t& /*error*/) { Synchronise(); });

    contacts_->SetFileName("AddressDB");
    // Record: the phone label word (a nibble per phone, then the phone shown
    // in the list), the present-fields mask, the company offset, then one
    // string for each present field.
    contacts_->AddField("PhoneLabels", pftLongint, 0);
    present_ = contacts_->AddField("Present", pftLongint, 0);
    contacts_->AddField("CompanyOffset", pftByte, 0);
    entries_ = contacts_->AddField("Entry", pftString, 0);
    entries_->SetArraySize(kEntryCount);
    contacts_->SetOnTestFieldExistsForRead([this](TDorvConduitDb&, TDorvPalmField& field,
                                                 std::int32_t index, bool& exists) {
      // Present was decoded before Entry: its bit i says whether entry i is
      // stored.
      if (&field == entries_) exists = ((present_->GetAsInteger() >> index) & 1) != 0;
    });

    // Application info: the category block, the dirty-labels mask, 22
    // labels of 16 bytes (the 19 field labels, then Main, Pager, Mobile),
    // the country, a reserved byte, sort by company and a pad byte.
    TDorvPalmFields& info = contacts_->AppInfoFields();
    AddCategoryFields(info);
    TDorvPalmField* field = info.Add();
    field->SetFieldName("DirtyLabels");
    field->SetDataType(pftLongint);
    labels_ = info.Add();
    labels_->SetFieldName("Label");
    labels_->SetDataType(pftString);
    labels_->SetSize(16);
    labels_->SetArraySize(22);
    for (const char* name : {"Country", "Reserved2", "SortByCompany", "Pad"}) {
      field = info.Add();
      field->SetFieldName(name);
      field->SetDataType(pftByte);
    }
  }

 private:
  std::string EntryText(int index) const {
    return PalmToUtf8(entries_->GetArrayValue(index).AsString());
  }
  std::string Label(int index) const {
    return PalmToUtf8(labels_->GetArrayValue(index).AsString());
  }
  // The text of phone label `label` (0 to 7) as the user's handheld shows it.
  std::string PhoneLabelText(int label) const {
    return label < 5 ? Label(kPhone1 + label) : Label(kEntryCount + label - 5);
  }

  std::string Card() {
    const auto labels =
        static_cast<std::uint32_t>(contacts_->FieldByName("PhoneLabels")->GetAsInteger());
    const std::uint32_t shown = (labels >> 20) & 0x0F;
    const std::uint8_t attributes = contacts_->GetAttributes();

    TContentLines card;
    card.Add("BEGIN:VCARD");
    card.Add("VERSION:3.0");
    const std::string last = EntryText(kLastName), first = EntryText(kFirstName);
    card.Add("N:" + EscapeText(last) + ";" + EscapeText(first) + ";;;");
    std::string full = first.empty() ? last : last.empty() ? first : first + " " + last;
    if (full.empty()) full = EntryText(kCompany);
    card.Add("FN:" + EscapeText(full));
    if (!EntryText(kCompany).empty()) card.Add("ORG:" + EscapeText(EntryText(kCompany)));
    if (!EntryText(kTitle).empty()) card.Add("TITLE:" + EscapeText(EntryText(kTitle)));
    for (int phone = 0; phone < 5; ++phone) {
      const std::string number = EntryText(kPhone1 + phone);
      if (number.empty()) continue;
      const int label = static_cast<int>((labels >> (4 * phone)) & 0x0F) & 7;
      const std::string type = std::string(kPhoneTypes[label]) +
                               (static_cast<std::uint32_t>(phone) == shown ? ",PREF" : "");
      card.Add(std::string(label == kEmailLabel ? "EMAIL" : "TEL") + ";TYPE=" + type +
               ";X-LABEL=" + ParameterValue(PhoneLabelText(label)) + ":" + EscapeText(number));
    }
    std::string address;
    bool any_address = false;
    for (int part = kAddress; part <= kCountry; ++part) {
      any_address = any_address || !EntryText(part).empty();
      address += ";" + EscapeText(EntryText(part));
    }
    if (any_address) card.Add("ADR:;" + address);
    for (int custom = 0; custom < 4; ++custom) {
      const std::string text = EntryText(kCustom1 + custom);
      if (text.empty()) continue;
      card.Add("X-CUSTOM" + std::to_string(custom + 1) +
               ";X-LABEL=" + ParameterValue(Label(kCustom1 + custom)) + ":" + EscapeText(text));
    }
    if (!EntryText(kNote).empty()) card.Add("NOTE:" + EscapeText(EntryText(kNote)));
    if ((attributes & eRecAttrDeleted) == 0)
      card.Add("CATEGORIES:" + EscapeText(categories_[contacts_->CategoryId() & 0x0F]));
    if ((attributes & eRecAttrSecret) != 0) card.Add("CLASS:PRIVATE");
    card.Add("UID:" + std::to_string(contacts_->GetRecordId()) + "@AddressDB");
    card.Add("END:VCARD");
    return card.Text();
  }

  void Synchronise() {
    const std::filesystem::path folder =
        std::filesystem::path(conduit_->PathName()) / "AddressBook";
    TPieceStore store(folder / "Cards");
    TExport what;
    what.name = "Address Book";
    what.read_app_info = [this] {
      contacts_->ReadAppInfo();
      categories_ = CategoryNames(contacts_->AppInfoFields());
    };
    what.render = [this] { return Card(); };
    what.assemble = [&folder](const std::vector<std::string>& live,
                              const std::vector<std::string>& archived) {
      auto join = [](const std::vector<std::string>& cards) {
        std::string text;
        for (const std::string& card : cards) text += card;
        return text;
      };
      WriteFileAtomically(folder / "AddressBook.vcf", join(live));
      WriteFileAtomically(folder / "AddressBook-archive.vcf", join(archived));
    };
    RunExport(*conduit_, *contacts_, store, what);
  }

  TDorvConduit* conduit_;     // owned by this module
  TDorvConduitDb* contacts_;  // owned by this module
  TDorvPalmField* present_;   // owned by contacts_
  TDorvPalmField* entries_;   // owned by contacts_
  TDorvPalmField* labels_;    // owned by contacts_
  std::array<std::string, 16> categories_;
};

}  // namespace

FERNWICK_CONDUIT_MODULE(TAddressVCardModule)

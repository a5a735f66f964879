#include "samples/generator/SampleHandheld.h"

#include <cstdint>

#include "standins/pdb/BuiltinRecords.h"

namespace fernwick::samples {

namespace {

using namespace fernwick::pdb;

// Fixed dates, so that the output never changes: created 14 March 2003
// 09:30, last backed up 30 May 2003 18:05, modified 2 June 2003 08:15 (Unix
// seconds, stored as seconds since 1904).
constexpr std::int64_t kCreated = 1047634200;
constexpr std::int64_t kBackedUp = 1054317900;
constexpr std::int64_t kModified = 1054541700;

// How a sample record is marked.
enum Mark { kClean, kDirty, kSecret, kDeleted, kArchived };

PdbDatabase NewDatabase(const char* name, const char (&creator)[5]) {
  PdbDatabase db;
  db.name = name;
  db.attributes = kDbBackup;
  db.version = 0;
  db.creation_date = UnixToPalmDate(kCreated);
  db.modification_date = UnixToPalmDate(kModified);
  db.backup_date = UnixToPalmDate(kBackedUp);
  db.type = FourCC("DATA");
  db.creator = FourCC(creator);
  return db;
}

// Appends a record with the next unique id after `first_id`; a deleted
// record keeps no data (as after the user deleted it without archiving), an
// archived one keeps its data. The seed ends one above the highest id.
void Add(PdbDatabase& db, std::uint32_t first_id, int category, Mark mark,
         std::vector<std::uint8_t> data) {
  PdbRecord r;
  r.unique_id = first_id + static_cast<std::uint32_t>(db.records.size());
  switch (mark) {
    case kClean:
      r.attributes = static_cast<std::uint8_t>(category);
      break;
    case kDirty:
      r.attributes = static_cast<std::uint8_t>(kRecDirty | category);
      break;
    case kSecret:
      r.attributes = static_cast<std::uint8_t>(kRecSecret | category);
      break;
    case kDeleted:
      r.attributes = kRecDeleted | kRecDirty;
      data.clear();
      break;
    case kArchived:
      r.attributes = kRecDeleted | kRecArchived | kRecDirty;
      break;
  }
  r.data = std::move(data);
  db.records.push_back(std::move(r));
  db.unique_id_seed = db.records.back().unique_id + 1;
}

std::uint16_t D(int year, int month, int day) { return PackDate(Date{year, month, day}); }

PdbDatabase MakeMemos() {
  PdbDatabase db = NewDatabase("MemoDB", "memo");
  db.modification_number = 57;
  MemoAppInfo info;
  info.categories = MakeCategories({"Business", "Personal", "Recipes", "Travel"});
  info.categories.renamed = 0x001E;
  db.app_info = EncodeMemoAppInfo(info);
  enum { kUnfiled, kBusiness, kPersonal, kRecipes, kTravel };
  struct Memo {
    int category;
    Mark mark;
    const char* text;
  };
  static const Memo kMemos[] = {
      {kBusiness, kClean,
       "Quarterly review\nRevenue up 4% on Q4\nShip dates slipped twice\nHire: one tester, one "
       "writer"},
      {kBusiness, kClean,
       "Supplier contacts\nHartwell Fasteners - ask for Dana\nBlue Rock Paper - account 55-1207"},
      {kPersonal, kClean,
       "Books to read\n- The Salt Road\n- A Short History of Bridges\n- Winter Orchard"},
      {kRecipes, kClean,
       "Lentil soup\n1 cup red lentils\n1 onion, 2 carrots\n1 tsp cumin\nSimmer 25 min, blend "
       "half"},
      {kRecipes, kDirty,
       "Pancakes\n1 1/2 cups flour\n1 1/4 cups milk\n1 egg, 3 tbsp butter\n2 tsp baking "
       "powder\nPinch of salt"},
      {kTravel, kClean,
       "Packing list\nPassport\nCharger + adapter\nRain jacket\nWalking shoes\nSpare cradle cable"},
      {kTravel, kClean,
       "Lisbon trip\nHotel: Rua das Flores 28\nTram 28 from Martim Moniz\nDinner reservation Fri "
       "20:30"},
      {kBusiness, kDirty,
       "Meeting notes 2 June\nAgreed: pilot with two branches\nOpen: pricing for volume "
       "licences\nNext: draft contract by 16 June"},
      {kUnfiled, kClean, "Wifi at the library: guest / reading-room"},
      {kPersonal, kClean,
       "Gift ideas\nMum: garden gloves, seed catalogue\nTom: headlamp\nAnna: sketchbook"},
      {kBusiness, kClean, "Expense codes\n410 travel\n415 meals\n420 lodging\n480 equipment"},
      {kPersonal, kSecret, "Locker combination 24-08-31"},
      {kRecipes, kClean,
       "Tomato sauce\n2 tins tomatoes\n3 cloves garlic\nOlive oil, basil\nReduce 40 min"},
      {kBusiness, kClean,
       "Conference call numbers\nUS 1-555-0142 code 88213\nUK 020 7946 0321 code 88213"},
      {kUnfiled, kDeleted, "Old parking spot: level 3, row F"},
      {kTravel, kClean, "Train times Oxford - London\n07:02, 07:32, 08:01\nReturn 17:45, 18:15"},
      {kPersonal, kClean,
       "Garden\nPlant tulips before November\nPrune the apple tree in February\nBuy compost"},
      {kBusiness, kClean, "Product names shortlist\nFernleaf\nQuickroot\nBranchline"},
      {kRecipes, kDirty,
       "Bread\n500 g flour\n7 g yeast\n10 g salt\n350 ml warm water\nRise 1 h, shape, rise 45 "
       "min\n220 C for 30 min"},
      {kPersonal, kArchived, "Car service booked for 12 May, 8:00"},
      {kUnfiled, kClean, "Call back: Jonas about the kitchen tiles"},
      {kTravel, kClean,
       "Phrases\nObrigado - thank you\nBom dia - good morning\nA conta, por favor - the bill, "
       "please"},
      {kBusiness, kClean,
       "Onboarding checklist\nBadge\nLaptop\nAccounts\nIntro lunch\nBuddy assigned"},
      {kPersonal, kClean, "Running log\nMon 5 km 27:40\nWed 8 km 46:10\nSat 12 km 1:12:30"},
      {kRecipes, kClean, "Vinaigrette\n3 parts oil, 1 part vinegar\n1 tsp mustard\nSalt, pepper"},
      {kBusiness, kDirty,
       "Budget 2004 draft\nStaff 62%\nTravel 8%\nEquipment 11%\nTraining 5%\nOther 14%"},
      {kUnfiled, kClean, ""},
      {kPersonal, kClean,
       "Caf\xe9 on Elm St. does a good cr\xe8me br\xfbl\xe9"
       "e"},
      {kTravel, kClean, "Flight BA 0500 LHR-LIS\nSeat 14C\nConfirmation KX7Q2M"},
      {kBusiness, kClean,
       "Ideas for the newsletter\n- customer story\n- tips for field staff\n- photo of the new "
       "office"},
  };
  for (const auto& m : kMemos) {
    Add(db, 0x2C4001, m.category, m.mark, EncodeMemoRecord(MemoRecord{m.text}));
  }
  return db;
}

PdbDatabase MakeToDos() {
  PdbDatabase db = NewDatabase("ToDoDB", "todo");
  db.modification_number = 41;
  ToDoAppInfo info;
  info.categories = MakeCategories({"Business", "Personal", "Errands"});
  info.categories.renamed = 0x000E;
  info.sort_by_priority = 1;
  db.app_info = EncodeToDoAppInfo(info);
  enum { kUnfiled, kBusiness, kPersonal, kErrands };
  struct ToDo {
    int category;
    Mark mark;
    std::uint16_t due;
    int priority;
    bool completed;
    const char* description;
    const char* note;
  };
  const ToDo kToDos[] = {
      {kBusiness, kClean, D(2003, 6, 16), 1, false, "Draft pilot contract",
       "Two branches, twelve months, volume pricing open"},
      {kBusiness, kClean, D(2003, 6, 6), 2, false, "Book meeting room for review", ""},
      {kPersonal, kClean, kNoDate, 3, false, "Renew library card", ""},
      {kErrands, kDirty, D(2003, 6, 3), 1, false, "Pick up dry cleaning", "Ticket 4471"},
      {kErrands, kClean, D(2003, 6, 4), 2, true, "Post the birthday card to Anna", ""},
      {kBusiness, kClean, D(2003, 6, 20), 3, false, "Submit May expenses", "Codes 410, 415, 420"},
      {kPersonal, kClean, kNoDate, 4, false, "Sort out old photos", ""},
      {kBusiness, kDirty, D(2003, 6, 10), 1, false, "Call Hartwell about the late shipment",
       "Order 55-1207, promised 28 May"},
      {kUnfiled, kClean, kNoDate, 5, false, "Try the new bakery on Mill Lane", ""},
      {kErrands, kClean, D(2003, 6, 7), 2, false, "Buy compost and tulip bulbs", ""},
      {kBusiness, kClean, D(2003, 5, 30), 1, true, "Send agenda for quarterly review", ""},
      {kPersonal, kSecret, D(2003, 6, 30), 2, false, "Pay the credit card bill", ""},
      {kBusiness, kClean, D(2003, 7, 1), 3, false, "Plan the 2004 budget",
       "Draft in memo 'Budget 2004 draft'"},
      {kPersonal, kDeleted, kNoDate, 3, false, "Cancel the gym membership", ""},
      {kErrands, kClean, D(2003, 6, 5), 1, false, "Car tax", ""},
      {kBusiness, kClean, kNoDate, 4, false, "Clean up the shared drive", ""},
      {kPersonal, kClean, D(2003, 6, 14), 2, false, "Book train tickets to Oxford",
       "Saturday morning, return Sunday evening"},
      {kBusiness, kDirty, D(2003, 6, 12), 2, false, "Review newsletter draft", ""},
      {kPersonal, kArchived, D(2003, 5, 12), 1, true, "Car service", "Booked 8:00"},
      {kErrands, kClean, kNoDate, 3, false, "Return the drill to Jonas", ""},
      {kBusiness, kClean, D(2003, 6, 18), 2, false, "Prepare onboarding for the new tester",
       "Badge, laptop, accounts"},
      {kPersonal, kClean, D(2003, 6, 21), 3, false, "Mum's birthday present",
       "Garden gloves + seed catalogue"},
      {kUnfiled, kClean, kNoDate, 5, true, "Water the plants", ""},
      {kBusiness, kClean, D(2003, 6, 27), 1, false, "Quarter-end report", ""},
      {kErrands, kClean, D(2003, 6, 9), 4, false, "Get a spare house key cut", ""},
      {kPersonal, kClean, kNoDate, 2, false, "Schedule dentist check-up", ""},
      {kBusiness, kClean, D(2003, 6, 11), 3, true, "Order business cards", "Use the new logo"},
      {kErrands, kDirty, D(2003, 6, 8), 1, false, "Pharmacy: repeat prescription", ""},
      // Records that stress the desktop formats: quotes, commas and line
      // breaks, letters outside ASCII, empty fields, the first and last
      // dates a packed date holds.
      {kBusiness, kDirty, D(1904, 1, 1), 5, false, "Say \"hello\", then leave, quietly",
       "Line one\nLine two, with a comma\n\"Quoted\" line; semicolon"},
      {kPersonal, kDirty, D(2031, 12, 31), 1, true,
       "Cr\xe8me br\xfbl\xe9"
       "e for \x80 5 \x93"
       "caf\xe9\x94 \x8d\x8e\x8f\x90",
       "\xc5land, \xdf"
       "e"},
      {kUnfiled, kDirty, kNoDate, 3, false, "", ""},
  };
  for (const auto& t : kToDos) {
    ToDoRecord r;
    r.due_date = t.due;
    r.priority = static_cast<std::uint8_t>(t.priority);
    r.completed = t.completed;
    r.description = t.description;
    r.note = t.note;
    Add(db, 0x2C6001, t.category, t.mark, EncodeToDoRecord(r));
  }
  return db;
}

PdbDatabase MakeAddresses() {
  PdbDatabase db = NewDatabase("AddressDB", "addr");
  db.modification_number = 88;
  AddressAppInfo info;
  info.categories = MakeCategories({"Business", "Personal", "QuickList"});
  info.categories.renamed = 0x000E;
  info.labels = DefaultAddressLabels();
  info.labels[kCustom1] = "Birthday";
  info.labels[kCustom2] = "Spouse; kids";
  info.labels[kCustom3] = "Caf\xe9 \"order\"";
  info.dirty_labels = (1u << kCustom1) | (1u << kCustom2) | (1u << kCustom3);
  info.country = 6;
  db.app_info = EncodeAddressAppInfo(info);
  enum { kUnfiled, kBusiness, kPersonal, kQuickList };
  enum { kWork, kHome, kFax, kOther, kEmail, kMain, kPager, kMobile };
  struct Person {
    int category;
    Mark mark;
    const char* last;
    const char* first;
    const char* company;
    const char* title;
    std::uint8_t labels[3];
    const char* phones[3];
    const char* address;
    const char* city;
    const char* state;
    const char* zip;
    const char* country;
    const char* birthday;
    const char* note;
  };
  const Person kPeople[] = {
      {kBusiness,
       kClean,
       "Okafor",
       "Dana",
       "Hartwell Fasteners",
       "Account Manager",
       {kWork, kFax, kEmail},
       {"555-0142", "555-0143", "dana.okafor@hartwell.example"},
       "14 Foundry Road",
       "Millbrook",
       "OH",
       "43015",
       "USA",
       "",
       "Ask about volume discounts"},
      {kPersonal,
       kClean,
       "Lindqvist",
       "Anna",
       "",
       "",
       {kMobile, kHome, kEmail},
       {"555-0199", "555-0110", "anna.l@mail.example"},
       "7 Birch Close",
       "Oxford",
       "",
       "OX2 6JT",
       "UK",
       "21 June",
       ""},
      {kBusiness,
       kDirty,
       "Ferreira",
       "Jo\xe3o",
       "Blue Rock Paper",
       "Sales",
       {kWork, kMobile, kEmail},
       {"+351 21 555 0171", "+351 91 555 0172", "joao@bluerock.example"},
       "Rua das Flores 28",
       "Lisboa",
       "",
       "1200-195",
       "Portugal",
       "",
       ""},
      {kQuickList,
       kClean,
       "Surgery",
       "Elm Street",
       "",
       "",
       {kMain, kFax, kOther},
       {"555-0100", "555-0101", "Out of hours 555-0999"},
       "2 Elm Street",
       "Millbrook",
       "OH",
       "43015",
       "",
       "",
       "Open 8-18 weekdays"},
      {kPersonal,
       kClean,
       "Novak",
       "Tom",
       "",
       "",
       {kHome, kMobile, kWork},
       {"555-0123", "555-0124", "555-0125"},
       "",
       "",
       "",
       "",
       "",
       "3 March",
       "Likes hiking"},
      {kBusiness,
       kClean,
       "Achebe",
       "Ruth",
       "Kestrel Logistics",
       "Operations Director",
       {kWork, kEmail, kMobile},
       {"555-0155", "r.achebe@kestrel.example", "555-0156"},
       "Unit 5, Harbour Park",
       "Port Ellen",
       "",
       "PA42 7DU",
       "UK",
       "",
       ""},
      {kUnfiled,
       kClean,
       "Marsh",
       "Peter",
       "",
       "",
       {kHome, kWork, kOther},
       {"555-0130", "", ""},
       "",
       "",
       "",
       "",
       "",
       "",
       ""},
      {kBusiness,
       kClean,
       "Chen",
       "Wei",
       "Northgate Software",
       "Developer",
       {kWork, kEmail, kPager},
       {"555-0161", "wei.chen@northgate.example", "555-0162"},
       "",
       "",
       "",
       "",
       "",
       "",
       "Met at the March trade fair"},
      {kPersonal,
       kSecret,
       "Harper",
       "Lucy",
       "",
       "",
       {kMobile, kHome, kEmail},
       {"555-0177", "555-0178", "lucy.h@mail.example"},
       "19 Canal Walk",
       "Bristol",
       "",
       "BS1 4RQ",
       "UK",
       "9 October",
       ""},
      {kBusiness,
       kClean,
       "Brennan",
       "Michael",
       "Brennan & Hale Solicitors",
       "Partner",
       {kWork, kFax, kEmail},
       {"555-0188", "555-0189", "mbrennan@bhlaw.example"},
       "40 High Street",
       "Millbrook",
       "OH",
       "43016",
       "USA",
       "",
       ""},
      {kQuickList,
       kClean,
       "Taxi",
       "Town Cabs",
       "",
       "",
       {kMain, kOther, kOther},
       {"555-0111", "", ""},
       "",
       "",
       "",
       "",
       "",
       "",
       "Account number 3302"},
      {kPersonal,
       kClean,
       "Okonkwo",
       "Grace",
       "",
       "",
       {kHome, kMobile, kEmail},
       {"555-0134", "555-0135", "grace.o@mail.example"},
       "88 Orchard Lane",
       "Millbrook",
       "OH",
       "43015",
       "",
       "14 August",
       ""},
      {kBusiness,
       kDeleted,
       "Vance",
       "Oliver",
       "Vance Print",
       "",
       {kWork, kFax, kOther},
       {"555-0146", "555-0147", ""},
       "",
       "",
       "",
       "",
       "",
       "",
       ""},
      {kBusiness,
       kClean,
       "Rossi",
       "Giulia",
       "Studio Rossi",
       "Designer",
       {kWork, kMobile, kEmail},
       {"+39 02 555 0191", "+39 333 555 0192", "giulia@studiorossi.example"},
       "Via Tortona 12",
       "Milano",
       "",
       "20144",
       "Italy",
       "",
       "Logo and business cards"},
      {kPersonal,
       kClean,
       "Jonas",
       "Erik",
       "",
       "",
       {kHome, kMobile, kOther},
       {"555-0120", "555-0121", ""},
       "5 Mill Lane",
       "Millbrook",
       "OH",
       "43015",
       "",
       "",
       "Borrowed his drill"},
      {kBusiness,
       kClean,
       "Patel",
       "Sunita",
       "Millbrook Council",
       "Planning Officer",
       {kWork, kEmail, kFax},
       {"555-0150", "s.patel@millbrook.example", "555-0151"},
       "Town Hall, Market Square",
       "Millbrook",
       "OH",
       "43015",
       "USA",
       "",
       ""},
      {kUnfiled,
       kClean,
       "",
       "",
       "Mill Lane Bakery",
       "",
       {kMain, kOther, kOther},
       {"555-0108", "", ""},
       "11 Mill Lane",
       "Millbrook",
       "OH",
       "43015",
       "",
       "",
       "Sourdough on Saturdays"},
      {kPersonal,
       kArchived,
       "Gym",
       "Fitzone",
       "",
       "",
       {kMain, kOther, kOther},
       {"555-0166", "", ""},
       "",
       "",
       "",
       "",
       "",
       "",
       "Membership cancelled"},
      {kBusiness,
       kDirty,
       "Nakamura",
       "Kenji",
       "Harbour Freight Co.",
       "Shipping Clerk",
       {kWork, kFax, kEmail},
       {"555-0181", "555-0182", "kenji@harbourfreight.example"},
       "Pier 3",
       "Port Ellen",
       "",
       "PA42 7DX",
       "UK",
       "",
       ""},
      {kPersonal,
       kClean,
       "Lindqvist",
       "Mum",
       "",
       "",
       {kHome, kMobile, kOther},
       {"555-0114", "555-0115", ""},
       "7 Birch Close",
       "Oxford",
       "",
       "OX2 6JT",
       "UK",
       "21 June",
       ""},
      {kBusiness,
       kClean,
       "Dubois",
       "Claire",
       "Atelier Dubois",
       "",
       {kWork, kEmail, kMobile},
       {"+33 1 55 50 01 93", "claire@atelierdubois.example", ""},
       "",
       "Paris",
       "",
       "",
       "France",
       "",
       ""},
      {kQuickList,
       kClean,
       "Vet",
       "Riverside",
       "",
       "",
       {kMain, kOther, kOther},
       {"555-0170", "Emergency 555-0900", ""},
       "Riverside Road",
       "Millbrook",
       "OH",
       "43015",
       "",
       "",
       ""},
      {kBusiness,
       kClean,
       "Moreau",
       "Luc",
       "Northgate Software",
       "Project Lead",
       {kWork, kMobile, kEmail},
       {"555-0163", "555-0164", "luc.moreau@northgate.example"},
       "",
       "",
       "",
       "",
       "",
       "",
       ""},
      {kPersonal,
       kClean,
       "Kowalski",
       "Marta",
       "",
       "",
       {kMobile, kEmail, kHome},
       {"555-0138", "marta.k@mail.example", ""},
       "",
       "",
       "",
       "",
       "",
       "30 January",
       ""},
      {kBusiness,
       kClean,
       "Singh",
       "Arjun",
       "Kestrel Logistics",
       "Driver Coordinator",
       {kWork, kMobile, kOther},
       {"555-0157", "555-0158", ""},
       "",
       "",
       "",
       "",
       "",
       "",
       "Early shift, call before 10"},
  };
  for (const auto& p : kPeople) {
    AddressRecord r;
    auto set = [&r](int field, const char* value) {
      if (value[0] != '\0') r.fields[field] = value;
    };
    set(kLastName, p.last);
    set(kFirstName, p.first);
    set(kCompany, p.company);
    set(kTitle, p.title);
    for (int i = 0; i < 3; ++i) {
      r.phone_labels[i] = p.labels[i];
      set(kPhone1 + i, p.phones[i]);
    }
    r.phone_labels[3] = kOther;
    r.phone_labels[4] = kEmail;
    set(kAddress, p.address);
    set(kCity, p.city);
    set(kState, p.state);
    set(kZip, p.zip);
    set(kCountry, p.country);
    set(kCustom1, p.birthday);
    set(kNote, p.note);
    r.shown_phone = 0;
    Add(db, 0x2C5001, p.category, p.mark, EncodeAddressRecord(r));
  }
  // A contact with every field, phones under the labels the list above
  // uses least and the third phone shown in the list, and one with no field
  // at all.
  AddressRecord every;
  every.phone_labels = {kMain, kPager, kMobile, kEmail, kFax};
  every.shown_phone = 2;
  const char* const kEvery[kAddressFieldCount] = {"O'Brien-M\xfcller",
                                                  "Zo\xeb \"Z\"",
                                                  "Smith, Jones; Partners",
                                                  "+44 20 7946 0000",
                                                  "555-0190",
                                                  "555-0191",
                                                  "zoe@smith-jones.example",
                                                  "555-0192",
                                                  "Flat 2\n10 Rue de l'\xc9glise",
                                                  "S\xe3o Paulo",
                                                  "SP",
                                                  "01000-000",
                                                  "Brasil",
                                                  "Director, \"Special\" Projects",
                                                  "1 April",
                                                  "Sam; Alex, Kim",
                                                  "Flat white \x80 3,20",
                                                  "\\\\server\\share",
                                                  "Met in Lisbon; speaks Portuguese, English\nand "
                                                  "a little German. Prefers e-mail to phone calls "
                                                  "in the morning \x96 reply within a day."};
  for (int i = 0; i < kAddressFieldCount; ++i) every.fields[i] = std::string(kEvery[i]);
  Add(db, 0x2C5001, kBusiness, kDirty, EncodeAddressRecord(every));
  Add(db, 0x2C5001, kUnfiled, kDirty, EncodeAddressRecord(AddressRecord{}));
  return db;
}

PdbDatabase MakeDatebook() {
  PdbDatabase db = NewDatabase("DatebookDB", "date");
  db.modification_number = 73;
  DatebookAppInfo info;
  info.categories = MakeCategories({});
  info.start_of_week = 1;
  db.app_info = EncodeDatebookAppInfo(info);
  struct Event {
    Mark mark;
    int start_h, start_m, end_h, end_m;  // -1: untimed
    std::uint16_t date;
    int alarm;   // minutes before; -1 none
    int repeat;  // repeat type; 0 none
    std::uint16_t repeat_end;
    int frequency;
    int repeat_on;
    std::vector<std::uint16_t> exceptions;
    const char* description;
    const char* note;
  };
  const Event kEvents[] = {
      {kClean,
       9,
       0,
       9,
       30,
       D(2003, 6, 2),
       5,
       2,
       kNoDate,
       1,
       0x02,
       {D(2003, 6, 9)},
       "Team stand-up",
       ""},
      {kClean,
       14,
       0,
       16,
       0,
       D(2003, 6, 3),
       15,
       0,
       0,
       0,
       0,
       {},
       "Quarterly review",
       "Room 4B, bring the Q4 figures"},
      {kDirty, 12, 30, 13, 30, D(2003, 6, 4), -1, 0, 0, 0, 0, {}, "Lunch with Dana Okafor", ""},
      {kClean, -1, 0, 0, 0, D(2003, 6, 21), 1440, 5, kNoDate, 1, 0, {}, "Anna's birthday", ""},
      {kClean, 8, 0, 9, 0, D(2003, 6, 5), -1, 0, 0, 0, 0, {}, "Dentist", "Elm Street surgery"},
      {kClean,
       18,
       30,
       19,
       30,
       D(2003, 6, 2),
       -1,
       2,
       D(2003, 8, 25),
       1,
       0x0A,
       {},
       "Running club",
       ""},
      {kClean, 10, 0, 11, 0, D(2003, 6, 10), 10, 0, 0, 0, 0, {}, "Call Hartwell re: shipment", ""},
      {kSecret,
       20,
       0,
       22,
       0,
       D(2003, 6, 13),
       -1,
       0,
       0,
       0,
       0,
       {},
       "Dinner - anniversary",
       "Table booked at the river restaurant"},
      {kClean, -1, 0, 0, 0, D(2003, 6, 14), -1, 0, 0, 0, 0, {}, "Oxford weekend", ""},
      {kClean,
       9,
       0,
       17,
       0,
       D(2003, 6, 16),
       30,
       0,
       0,
       0,
       0,
       {},
       "Contract workshop",
       "With Brennan & Hale"},
      {kDeleted, 15, 0, 16, 0, D(2003, 6, 6), -1, 0, 0, 0, 0, {}, "Gym induction", ""},
      {kClean,
       11,
       0,
       12,
       0,
       D(2003, 6, 1),
       -1,
       3,
       kNoDate,
       1,
       7 * 0 + 1,
       {},
       "Budget meeting (first Monday)",
       ""},
      {kClean, -1, 0, 0, 0, D(2003, 6, 30), -1, 4, kNoDate, 1, 0, {}, "Pay credit card", ""},
      {kDirty, 16, 0, 16, 30, D(2003, 6, 12), 5, 0, 0, 0, 0, {}, "Newsletter review", ""},
      {kClean,
       7,
       2,
       8,
       5,
       D(2003, 6, 14),
       -1,
       0,
       0,
       0,
       0,
       {},
       "Train to Oxford",
       "07:02 from platform 2"},
      {kArchived, 8, 0, 9, 0, D(2003, 5, 12), -1, 0, 0, 0, 0, {}, "Car service", ""},
      {kClean, 13, 0, 14, 0, D(2003, 6, 18), -1, 0, 0, 0, 0, {}, "Onboarding: new tester", ""},
      {kClean,
       9,
       30,
       10,
       0,
       D(2003, 6, 2),
       -1,
       1,
       D(2003, 6, 27),
       7,
       0,
       {},
       "Timesheet reminder",
       ""},
      {kClean, -1, 0, 0, 0, D(2003, 8, 14), 2880, 5, kNoDate, 1, 0, {}, "Grace's birthday", ""},
      {kClean,
       19,
       0,
       21,
       0,
       D(2003, 6, 25),
       -1,
       2,
       kNoDate,
       2,
       0x08,
       {D(2003, 7, 9), D(2003, 7, 23)},
       "Choir practice",
       "Bring the new scores"},
      {kClean, 10, 30, 11, 0, D(2003, 6, 20), 1, 0, 0, 0, 0, {}, "Submit expenses", ""},
      {kClean, 15, 0, 17, 30, D(2003, 6, 27), 60, 0, 0, 0, 0, {}, "Quarter-end report due", ""},
      {kClean, -1, 0, 0, 0, D(2003, 7, 4), -1, 0, 0, 0, 0, {}, "Office closed", ""},
      {kDirty,
       12,
       0,
       13,
       0,
       D(2003, 6, 19),
       -1,
       0,
       0,
       0,
       0,
       {},
       "Lunch with Giulia Rossi",
       "Logo proofs"},
      {kClean, 18, 0, 18, 30, D(2003, 6, 9), -1, 0, 0, 0, 0, {}, "Parents' evening", ""},
      // Records that stress the desktop formats: the first and last dates,
      // every kind of repeat with an end date and exceptions, alarms in
      // minutes, hours and days, text that needs escaping and folding.
      {kDirty,
       -1,
       0,
       0,
       0,
       D(1904, 1, 1),
       -1,
       0,
       0,
       0,
       0,
       {},
       "Epoch; day one, \"quoted\"",
       "Back\\slash, comma; semicolon\nsecond line"},
      {kDirty, 23, 0, 23, 59, D(2031, 12, 31), 4320, 0, 0, 0, 0, {}, "Last evening \x80", ""},
      {kDirty,
       7,
       15,
       7,
       45,
       D(2003, 6, 2),
       120,
       1,
       D(2003, 6, 30),
       1,
       0,
       {D(2003, 6, 3), D(2003, 6, 5), D(2003, 6, 7), D(2003, 6, 9), D(2003, 6, 11), D(2003, 6, 13),
        D(2003, 6, 15), D(2003, 6, 17), D(2003, 6, 19), D(2003, 6, 21)},
       "Morning swim (daily, ten days off)",
       ""},
      {kDirty,
       -1,
       0,
       0,
       0,
       D(2003, 6, 15),
       -1,
       4,
       D(2004, 6, 15),
       1,
       0,
       {D(2003, 8, 15), D(2003, 12, 15)},
       "Rent",
       ""},
      {kDirty,
       16,
       0,
       17,
       0,
       D(2003, 6, 27),
       0,
       3,
       D(2004, 12, 31),
       1,
       7 * 4 + 5,
       {D(2003, 7, 25)},
       "Last Friday: team drinks",
       ""},
      {kDirty,
       -1,
       0,
       0,
       0,
       D(2003, 9, 1),
       -1,
       5,
       D(2010, 9, 1),
       1,
       0,
       {D(2005, 9, 1)},
       "Caf\xe9 anniversary \x96 a long description that runs well past the seventy-five octets "
       "of one line, with \xe9\xe8\xea",
       "Note with \x93quotes\x94"},
  };
  for (const auto& e : kEvents) {
    DatebookRecord r;
    if (e.start_h >= 0) {
      r.start_hour = static_cast<std::uint8_t>(e.start_h);
      r.start_minute = static_cast<std::uint8_t>(e.start_m);
      r.end_hour = static_cast<std::uint8_t>(e.end_h);
      r.end_minute = static_cast<std::uint8_t>(e.end_m);
    }
    r.date = e.date;
    if (e.alarm >= 0) {
      DatebookAlarm alarm;
      if (e.alarm >= 1440) {
        alarm.advance = static_cast<std::int8_t>(e.alarm / 1440);
        alarm.unit = 2;
      } else if (e.alarm >= 60) {
        alarm.advance = static_cast<std::int8_t>(e.alarm / 60);
        alarm.unit = 1;
      } else {
        alarm.advance = static_cast<std::int8_t>(e.alarm);
        alarm.unit = 0;
      }
      r.alarm = alarm;
    }
    if (e.repeat != 0) {
      DatebookRepeat repeat;
      repeat.type = static_cast<std::uint8_t>(e.repeat);
      repeat.end_date = e.repeat_end;
      repeat.frequency = static_cast<std::uint8_t>(e.frequency);
      repeat.repeat_on = static_cast<std::uint8_t>(e.repeat_on);
      repeat.start_of_week = e.repeat == 2 ? 1 : 0;
      r.repeat = repeat;
    }
    r.exceptions = e.exceptions;
    r.description = std::string(e.description);
    if (e.note[0] != '\0') r.note = std::string(e.note);
    Add(db, 0x2C7001, 0, e.mark, EncodeDatebookRecord(r));
  }
  // An event with neither description nor note.
  DatebookRecord bare;
  bare.start_hour = 6;
  bare.start_minute = 0;
  bare.end_hour = 6;
  bare.end_minute = 30;
  bare.date = D(2003, 6, 22);
  Add(db, 0x2C7001, 0, kDirty, EncodeDatebookRecord(bare));
  return db;
}

}  // namespace

std::vector<std::pair<std::string, pdb::PdbDatabase>> MakeSampleHandheld() {
  std::vector<std::pair<std::string, pdb::PdbDatabase>> out;
  out.emplace_back("AddressDB.pdb", MakeAddresses());
  out.emplace_back("DatebookDB.pdb", MakeDatebook());
  out.emplace_back("MemoDB.pdb", MakeMemos());
  out.emplace_back("ToDoDB.pdb", MakeToDos());
  return out;
}

}  // namespace fernwick::samples

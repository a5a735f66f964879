// The vCard and iCalendar codec of the examples (examples/common/VObject.h,
// VCard.h, ICalendar.h) against files written the way real programs write
// them (tests/examples/data/README.md says where each comes from). Runs with
// TZ=JST-9 (UTC+9 all year), set by CMake, so the desktop's local time is
// known.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/ICalendar.h"
#include "common/VCard.h"

namespace fernwick::examples {
namespace {

std::string Data(const std::string& name) {
  std::ifstream in(std::string(FERNWICK_VOBJECT_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TICalTime Local(int y, int mo, int d, int h, int mi) {
  TICalTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  return t;
}

std::vector<std::string> Types(std::initializer_list<const char*> types) {
  return std::vector<std::string>(types.begin(), types.end());
}

TEST(VCardReader, ContactsProgramExportWithBomLfTabFoldAndSplitCharacter) {
  const std::vector<TVCard> cards = ReadVCards(Data("contacts-app.vcf"));
  ASSERT_EQ(cards.size(), 1u);
  const TVCard& c = cards[0];
  EXPECT_EQ(c.version, "3.0");
  EXPECT_EQ(c.family, "M\xc3\xbcller");
  EXPECT_EQ(c.given, "J\xc3\xbcrgen");
  // Escapes undone; the tab continuation and the fold between the two
  // octets of u-umlaut joined.
  EXPECT_EQ(c.note,
            "Zeile eins\nZeile zwei, mit Komma; und Semikolon \\ Backslash. Langer Text, und ein "
            "Umlaut wird hier geteilt: Gr\xc3\xbc\xc3\x9f"
            "e.");
  ASSERT_EQ(c.emails.size(), 2u);
  EXPECT_EQ(c.emails[0].value, "jm@example.de");  // item1.EMAIL: grouped
  EXPECT_EQ(c.emails[0].types, Types({"internet"}));
  EXPECT_EQ(c.emails[0].pref, 1);
  EXPECT_EQ(c.emails[1].types, Types({"work", "internet"}));  // Type= and TYPE= together
  ASSERT_EQ(c.tels.size(), 2u);
  EXPECT_EQ(c.tels[0].types, Types({"cell", "voice"}));
  EXPECT_EQ(c.tels[1].types, Types({"home", "voice"}));
  EXPECT_EQ(c.categories, Types({"Freunde", "Berlin"}));
  EXPECT_EQ(c.source.Find("EMAIL")->group, "item1");
}

TEST(VCardReader, Version4UriNumbersPrefAndRfc2426With21) {
  const TVCard v4 = ReadVCards(Data("rfc6350.vcf")).at(0);
  EXPECT_EQ(v4.version, "4.0");
  EXPECT_EQ(v4.suffixes, "ing. jr,M.Sc.");
  ASSERT_EQ(v4.tels.size(), 2u);
  EXPECT_EQ(v4.tels[0].value, "+1-418-656-9254;ext=102");
  EXPECT_EQ(v4.tels[0].types, Types({"work", "voice"}));
  EXPECT_EQ(v4.tels[0].pref, 1);
  EXPECT_EQ(v4.tels[1].pref, 0);
  ASSERT_EQ(v4.addresses.size(), 1u);
  EXPECT_EQ(v4.addresses[0].street, "2875 Laurier");
  EXPECT_EQ(v4.addresses[0].locality, "Quebec");
  EXPECT_EQ(v4.organization, "Viagenie");

  const std::vector<TVCard> old = ReadVCards(Data("rfc2426.vcf"));
  ASSERT_EQ(old.size(), 2u);  // BEGIN:vCard, an empty line between the cards
  EXPECT_EQ(old[0].addresses.at(0).street, "6544 Battleford Drive");
  EXPECT_EQ(old[0].addresses.at(0).types, Types({"work", "postal", "parcel"}));
  EXPECT_EQ(old[0].emails.at(0).pref, 1);
  EXPECT_EQ(old[1].version, "2.1");
  EXPECT_EQ(old[1].tels.at(0).types, Types({"home", "voice"}));  // TEL;HOME;VOICE
}

TEST(VCardReader, Version21QuotedPrintableAndCharsetsAsPhonesWriteThem) {
  const std::string file = Data("phone-2.1.vcf");
  const std::vector<TVCard> cards = ReadVCards(file);
  ASSERT_EQ(cards.size(), 2u);
  const TVCard& c = cards[0];
  EXPECT_EQ(c.family, "M\xc3\xbcller");
  EXPECT_EQ(c.given, "J\xc3\xbcrgen");
  EXPECT_EQ(c.formatted_name, "J\xc3\xbcrgen M\xc3\xbcller");
  ASSERT_EQ(c.addresses.size(), 1u);  // ISO-8859-1, a soft line break before a ';'
  EXPECT_EQ(c.addresses[0].street,
            "Stra\xc3\x9f"
            "e 5");
  EXPECT_EQ(c.addresses[0].locality, "K\xc3\xb6ln");
  EXPECT_EQ(c.addresses[0].postal_code, "50667");
  EXPECT_EQ(c.addresses[0].country, "Deutschland");
  EXPECT_EQ(c.addresses[0].types, Types({"home"}));
  // Soft line breaks joined before anything else is read: one inside a
  // word, one before a line whose first space belongs to the value.
  EXPECT_EQ(c.note,
            "Erste Zeile\nZweite Zeile, die weich umbrochen wird: Gr\xc3\xbc\xc3\x9f"
            "e, und ein "
            "Euro: \xe2\x82\xac vor einem Leerzeichen.");
  EXPECT_EQ(c.organization, "M\xc3\xbcller \xe2\x80\x93 S\xc3\xb6hne");  // windows-1252
  EXPECT_EQ(c.title,
            "Gesch\xc3\xa4"
            "ftsf\xc3\xbchrer");  // 8-bit ISO-8859-1
  EXPECT_EQ(c.source.Find("X-NICKNAME")->Text(), "\x83\x65\x83\x58\x83\x67");
  ASSERT_EQ(c.notes.size(), 1u);
  EXPECT_NE(c.notes[0].find("\"SHIFT_JIS\""), std::string::npos) << c.notes[0];
  // The bare QUOTED-PRINTABLE is an encoding, no type; without a CHARSET
  // octets that are no UTF-8 are read as windows-1252.
  EXPECT_EQ(cards[1].family, "M\xc3\xbcller");
  ASSERT_EQ(cards[1].tels.size(), 1u);
  EXPECT_EQ(cards[1].tels[0].value, "0221 555");
  EXPECT_EQ(cards[1].tels[0].types, Types({"work"}));
  // Unchanged, the cards are written back octet for octet.
  EXPECT_EQ(WriteVObject(cards[0].source) + WriteVObject(cards[1].source), file);
}

// A property changed in a 2.1 card is written as 2.1 has it; one in 3.0
// drops the CHARSET its value was read in.
TEST(VObjectWriter, ChangedVersion21PropertyInQuotedPrintable) {
  TVComponent card = ReadVObjects(Data("phone-2.1.vcf")).at(0);
  card.Find("NOTE")->SetText(
      "Gr\xc3\xbc\xc3\x9f"
      "e\n2, \\");
  card.Find("ORG")->SetText("Plain & Co");
  TVProperty* tel = card.Find("TEL");
  // A type that is no word, or one a bare word would make an encoding,
  // keeps its TYPE=.
  tel->params = {{"TYPE", {"WORK", "VOICE", "x/y", "8BIT"}}, {"X-LABEL", {"Work"}}};
  tel->SetText("+49 30 7654321");
  std::string long_text;
  for (int i = 0; i < 40; ++i) long_text += "\xc3\xbc=";
  long_text += std::string(80, ' ') + "!";
  card.Find("FN")->SetText(long_text);
  const std::string written = WriteVObject(card);
  EXPECT_NE(
      written.find(
          "\r\nNOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Gr=C3=BC=C3=9Fe=0D=0A2, \\\\\r\n"),
      std::string::npos)
      << written;
  EXPECT_NE(written.find("\r\nORG:Plain & Co\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\r\nTEL;WORK;VOICE;TYPE=x/y;TYPE=8BIT;X-LABEL=Work:+49 30 7654321\r\n"),
            std::string::npos)
      << written;
  std::size_t start = 0;
  for (std::size_t end = written.find("\r\n"); end != std::string::npos;
       start = end + 2, end = written.find("\r\n", start))
    EXPECT_LE(end - start, 76u) << written.substr(start, end - start);
  EXPECT_EQ(written.find("=\r\n "), std::string::npos) << written;  // no line after one begins so
  const TVCard again = ReadVCard(ReadVObjects(written).at(0));
  EXPECT_EQ(again.note,
            "Gr\xc3\xbc\xc3\x9f"
            "e\n2, \\");
  EXPECT_EQ(again.formatted_name, long_text);
  EXPECT_EQ(again.organization, "Plain & Co");
  EXPECT_EQ(again.tels.at(0).types, Types({"work", "voice", "x/y", "8bit"}));
  EXPECT_EQ(again.addresses.at(0).locality, "K\xc3\xb6ln");  // kept as read

  TVComponent v3 = ReadVObjects(
                       "BEGIN:VCARD\r\nVERSION:3.0\r\nNOTE;CHARSET=ISO-8859-1:Gr\xfc\xdf"
                       "e\r\n"
                       "END:VCARD\r\n")
                       .at(0);
  EXPECT_EQ(v3.Find("NOTE")->Text(),
            "Gr\xc3\xbc\xc3\x9f"
            "e");
  v3.Find("NOTE")->SetText(
      "Gr\xc3\xbc\xc3\x9f"
      "e\n2");
  EXPECT_NE(WriteVObject(v3).find("\r\nNOTE:Gr\xc3\xbc\xc3\x9f"
                                  "e\\n2\r\n"),
            std::string::npos);
}

// What the handheld cannot hold comes back from the writer as it was read.
TEST(VObjectWriter, RoundTripKeepsEveryLineAndFoldsBetweenCharacters) {
  for (const char* name :
       {"vobject-3.0.vcf", "contacts-app.vcf", "rfc6350.vcf", "rfc2426.vcf", "phone-2.1.vcf"}) {
    SCOPED_TRACE(name);
    const std::vector<TVCard> cards = ReadVCards(Data(name));
    std::string written;
    for (const TVCard& card : cards) written += WriteVObject(card.source);
    const std::vector<TVCard> again = ReadVCards(written);
    ASSERT_EQ(again.size(), cards.size());
    for (std::size_t i = 0; i < cards.size(); ++i) {
      EXPECT_TRUE(again[i].SameFields(cards[i]));
      ASSERT_EQ(again[i].source.properties.size(), cards[i].source.properties.size());
      for (std::size_t p = 0; p < cards[i].source.properties.size(); ++p)
        EXPECT_EQ(again[i].source.properties[p].raw, cards[i].source.properties[p].raw);
    }
    std::size_t start = 0;
    for (std::size_t end = written.find("\r\n"); end != std::string::npos;
         start = end + 2, end = written.find("\r\n", start)) {
      const std::string line = written.substr(start, end - start);
      EXPECT_LE(line.size(), 75u) << line;
      // A continuation line never begins inside a UTF-8 sequence.
      if (line.size() > 1 && line[0] == ' ') {
        EXPECT_NE(static_cast<unsigned char>(line[1]) & 0xC0, 0x80) << line;
      }
    }
  }
  const TVCard card = ReadVCards(Data("vobject-3.0.vcf")).at(0);
  EXPECT_EQ(card.tels.size(), 6u);
  EXPECT_EQ(card.emails.size(), 2u);
  EXPECT_EQ(card.addresses.size(), 3u);
  EXPECT_EQ(card.addresses[1].street, "Storgata 2\nLeil. 3");
  EXPECT_EQ(card.organization, "Fjord & Co; AS");
  EXPECT_EQ(card.title, "Head, Sales");
  EXPECT_EQ(card.categories, Types({"Work", "Oslo, office"}));
  const std::string written = WriteVObject(card.source);
  EXPECT_EQ(ReadVCards(written).at(0).source.Find("PHOTO")->raw, card.source.Find("PHOTO")->raw);
  EXPECT_NE(written.find("X-ABUID:ABCD-1234:ABPerson\r\n"), std::string::npos);
}

TEST(VObjectWriter, ChangedValueIsEscapedAndItsParametersKept) {
  TVComponent card = ReadVObjects(Data("contacts-app.vcf")).at(0);
  TVProperty* tel = card.Find("TEL");
  tel->SetText("+49 170; new, number");
  const TVProperty again = *ReadVObjects(WriteVObject(card)).at(0).Find("TEL");
  EXPECT_EQ(again.Text(), "+49 170; new, number");
  EXPECT_EQ(again.Params("TYPE"), Types({"CELL", "VOICE", "pref"}));
}

TEST(VObjectReader, MalformedInputNamesTheLine) {
  const struct {
    const char* text;
    int line;
    const char* says;
  } cases[] = {
      {"VERSION:3.0\r\n", 1, "outside BEGIN and END"},
      {"BEGIN:VCARD\nFN Jo\nEND:VCARD\n", 2, "no ':'"},
      {"BEGIN:VCARD\nEMAIL;TYPE=\"work:jo@x\nEND:VCARD\n", 2, "not closed"},
      {"BEGIN:VCARD\nFN:Jo\nEND:VCALENDAR\n", 3, "closes BEGIN:VCARD"},
      {"BEGIN:VCARD\nFN:Jo\n", 1, "never ended"},
      {"END:VCARD\n", 1, "without BEGIN"},
      {" FN:Jo\n", 1, "continuation"},
      {"BEGIN:VCARD\n;X=1:y\nEND:VCARD\n", 2, "no property name"},
      {"BEGIN:A\nBEGIN:B\nBEGIN:C\nBEGIN:D\nBEGIN:E\nBEGIN:F\nBEGIN:G\nBEGIN:H\nBEGIN:I\n", 9,
       "deeper"},
  };
  for (const auto& c : cases) {
    try {
      ReadVObjects(c.text);
      ADD_FAILURE() << c.text;
    } catch (const EVObjectError& e) {
      EXPECT_EQ(e.Line(), c.line) << c.text;
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(ReadVCards("BEGIN:VCARD\nVERSION:5.0\nEND:VCARD\n"), EVObjectError);
  EXPECT_THROW(ReadICalendar("BEGIN:VCALENDAR\nBEGIN:VEVENT\nDTSTART:20260230T100000\n"
                             "END:VEVENT\nEND:VCALENDAR\n"),
               EVObjectError);
  EXPECT_THROW(ReadICalendar("BEGIN:VCALENDAR\nBEGIN:VEVENT\nSUMMARY:x\nEND:VEVENT\nEND:VCALENDAR\n"),
               EVObjectError);
}

TEST(ICalendarReader, EventsAsTheIcalendarPackageWritesThem) {
  const TICalendar cal = ReadICalendar(Data("icalendar-4.ics"));
  ASSERT_EQ(cal.events.size(), 3u);
  const TICalEvent& team = cal.events[0];
  EXPECT_EQ(team.summary, "Team meeting; room \xc2\xab" "Fjord\xc2\xbb, 3rd floor");
  EXPECT_EQ(team.description, "Agenda:\n1. Numbers, plans\n2. Anything else\\ne");
  EXPECT_EQ(team.start.kind, TICalTime::kZoned);
  EXPECT_EQ(team.start.tzid, "Europe/Berlin");
  ASSERT_TRUE(team.rrule);
  EXPECT_EQ(team.rrule->freq, TRRule::kWeekly);
  EXPECT_EQ(team.rrule->interval, 2);
  EXPECT_EQ(team.rrule->by_day.size(), 3u);
  EXPECT_TRUE(HandheldCanHold(*team.rrule, team.start));
  ASSERT_EQ(team.exdates.size(), 3u);  // two in one EXDATE, one in another
  EXPECT_EQ(team.exdates[2].day, 3);
  ASSERT_EQ(team.alarms.size(), 1u);
  EXPECT_EQ(team.alarms[0].offset, -15 * 60);

  const TICalEvent& holiday = cal.events[1];
  EXPECT_EQ(holiday.start.kind, TICalTime::kDate);
  EXPECT_EQ(holiday.End(), AddSeconds(holiday.start, 3 * 86400));
  EXPECT_EQ(holiday.End().day, 27);

  const TICalEvent& call = cal.events[2];
  EXPECT_EQ(call.start.kind, TICalTime::kUtc);  // TZID=UTC beside a Z: the Z counts
  EXPECT_EQ(call.End().hour, 16);
  EXPECT_EQ(call.End().minute, 30);
  EXPECT_EQ(call.alarms.at(0).offset, -86400);
  std::string why;
  EXPECT_FALSE(HandheldCanHold(*call.rrule, call.start, &why));
  EXPECT_NE(why.find("COUNT"), std::string::npos);

  // ATTENDEE, ORGANIZER and X- lines come back as they were.
  std::string written;
  for (const TVComponent& top : cal.source) written += WriteVObject(top);
  const TICalendar again = ReadICalendar(written);
  ASSERT_EQ(again.events.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(again.events[i].SameFields(cal.events[i]));
  for (const char* name : {"ATTENDEE", "ORGANIZER", "X-CUSTOM-FLAG"}) {
    ASSERT_NE(again.events[0].source.Find(name), nullptr) << name;
    EXPECT_EQ(again.events[0].source.Find(name)->raw, team.source.Find(name)->raw);
  }
  EXPECT_EQ(again.events[0].source.Find("ATTENDEE")->Param("CN"),
            "\xc3\x85se \xc3\x98" "deg\xc3\xa5rd");
}

TEST(ICalendarReader, RfcFormsOfTimeExdatesAndTriggers) {
  const TICalendar cal = ReadICalendar(Data("rfc5545.ics"));
  ASSERT_EQ(cal.events.size(), 5u);
  EXPECT_EQ(cal.events[1].klass, "CONFIDENTIAL");
  EXPECT_EQ(cal.events[2].End().day, 9);  // DTEND;VALUE=DATE
  const TICalEvent& lunch = cal.events[3];
  EXPECT_EQ(lunch.start.kind, TICalTime::kFloating);
  ASSERT_EQ(lunch.exdates.size(), 3u);
  EXPECT_EQ(lunch.exdates[1].kind, TICalTime::kDate);
  EXPECT_TRUE(HandheldCanHold(*lunch.rrule, lunch.start));
  EXPECT_EQ(lunch.rrule->until->kind, TICalTime::kDate);
  ASSERT_EQ(lunch.alarms.size(), 2u);
  EXPECT_TRUE(lunch.alarms[0].related_end);
  EXPECT_EQ(lunch.alarms[0].offset, 300);
  EXPECT_FALSE(lunch.alarms[1].relative);
}

TEST(ICalendarZones, VtimezoneOffsetsAroundTheChanges) {
  const TICalendar berlin = ReadICalendar(Data("icalendar-4.ics"));
  const TICalZone* zone = berlin.Zone("Europe/Berlin");
  ASSERT_NE(zone, nullptr);
  // 2026: summer time from 29 March 02:00, winter time from 25 October 03:00.
  EXPECT_EQ(zone->OffsetAt(Local(2026, 3, 29, 1, 59)), 3600);
  EXPECT_EQ(zone->OffsetAt(Local(2026, 3, 29, 3, 0)), 7200);
  EXPECT_EQ(zone->OffsetAt(Local(2026, 10, 25, 2, 59)), 7200);
  EXPECT_EQ(zone->OffsetAt(Local(2026, 10, 25, 3, 0)), 3600);
  EXPECT_EQ(zone->OffsetAt(Local(2027, 1, 1, 0, 0)), 3600);
  const TICalendar ny = ReadICalendar(Data("rfc5545.ics"));
  zone = ny.Zone("America/New_York");
  ASSERT_NE(zone, nullptr);
  EXPECT_EQ(zone->OffsetAt(Local(2006, 1, 2, 12, 0)), -5 * 3600);  // before the zone's first onset
  EXPECT_EQ(zone->OffsetAt(Local(2026, 3, 8, 3, 0)), -4 * 3600);   // second Sunday of March
  EXPECT_EQ(zone->OffsetAt(Local(2026, 11, 1, 1, 59)), -4 * 3600);
  EXPECT_EQ(zone->OffsetAt(Local(2026, 11, 1, 2, 0)), -5 * 3600);
}

TEST(ICalendarZones, ZonedUtcAndFloatingTimesBecomeDesktopLocalTime) {
  // The desktop is at UTC+9 (TZ=JST-9).
  const TICalendar berlin = ReadICalendar(Data("icalendar-4.ics"));
  std::string note;
  EXPECT_EQ(ToDesktopLocal(berlin.events[0].start, berlin, &note), Local(2026, 7, 6, 16, 30));
  EXPECT_EQ(ToDesktopLocal(berlin.events[2].start, berlin, &note), Local(2026, 3, 3, 0, 0));
  EXPECT_EQ(note, "");
  const TICalendar ny = ReadICalendar(Data("rfc5545.ics"));
  EXPECT_EQ(ToDesktopLocal(ny.events[0].start, ny, &note), Local(2006, 1, 3, 2, 0));
  EXPECT_EQ(ToDesktopLocal(ny.events[3].start, ny, &note), ny.events[3].start);  // floating
  EXPECT_EQ(ToDesktopLocal(ny.events[1].start, ny, &note), ny.events[1].start);  // a date
  EXPECT_EQ(note, "");
  // Asia/Kolkata (UTC+5:30) is not in the file: the system's zone files
  // answer; Windows has none, and the time is taken as local, with a note.
  const TICalTime kolkata = ToDesktopLocal(ny.events[4].start, ny, &note);
#ifdef _WIN32
  EXPECT_EQ(kolkata, Local(2026, 1, 15, 9, 30));
  EXPECT_EQ(note, "time zone \"Asia/Kolkata\" is unknown here: its times are taken as local");
#else
  EXPECT_EQ(kolkata, Local(2026, 1, 15, 13, 0));
  EXPECT_EQ(note, "");
  EXPECT_EQ(IanaOffsetAt("America/New_York", Local(2026, 7, 1, 12, 0)), -4 * 3600);
  EXPECT_EQ(IanaOffsetAt("America/New_York", Local(2026, 1, 1, 12, 0)), -5 * 3600);
  // Past the zone file's last listed change its footer rule answers.
  EXPECT_EQ(IanaOffsetAt("America/New_York", Local(2071, 7, 1, 12, 0)), -4 * 3600);
  EXPECT_EQ(IanaOffsetAt("Europe/Berlin", Local(2071, 12, 1, 12, 0)), 3600);
  EXPECT_FALSE(IanaOffsetAt("../../etc/passwd", Local(2026, 1, 1, 0, 0)));
  EXPECT_FALSE(IanaOffsetAt("No/Such_Zone", Local(2026, 1, 1, 0, 0)));
#endif
}

// A version 2 zone file of one time type, `offset` seconds east, with one
// transition (at 1970) or none, and `footer` as its POSIX TZ rule.
std::string ZoneFile(const std::string& footer, int offset, bool transition) {
  const auto big_endian = [](std::string& out, std::int64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::string file;
  for (const int width : {4, 8}) {
    file += "TZif2" + std::string(15, '\0');
    for (const int count : {0, 0, 0, transition ? 1 : 0, 1, 4}) big_endian(file, count, 4);
    if (transition) {
      big_endian(file, 0, width);
      file += '\0';
    }
    big_endian(file, offset, 4);
    file += std::string("\0\0XST\0", 6);
  }
  return file + "\n" + footer + "\n";
}

TEST(ICalendarZones, ZoneFileFooterRulesSwitchOnTheirDay) {
  const struct {
    const char* footer;
    TICalTime local;
    int offset;
  } cases[] = {
      // Jn: day 79 is March 20 in every year, February 29 not counted;
      // the change at 24:00 is midnight of the next day.
      {"<+0330>-3:30<+0430>,J79/24,J263/24", Local(2023, 3, 20, 23, 30), 12600},
      {"<+0330>-3:30<+0430>,J79/24,J263/24", Local(2023, 3, 21, 1, 30), 16200},
      {"<+0330>-3:30<+0430>,J79/24,J263/24", Local(2024, 3, 20, 23, 30), 12600},
      {"<+0330>-3:30<+0430>,J79/24,J263/24", Local(2024, 3, 21, 1, 30), 16200},
      {"<+0330>-3:30<+0430>,J79/24,J263/24", Local(2024, 9, 20, 22, 30), 16200},
      {"<+0330>-3:30<+0430>,J79/24,J263/24", Local(2024, 9, 21, 0, 30), 12600},
      // J60 is March 1 in a leap year too; zero-based 59 is February 29.
      {"XST-2XDT,J60,J300", Local(2028, 2, 29, 12, 0), 7200},
      {"XST-2XDT,J60,J300", Local(2028, 3, 1, 3, 0), 10800},
      {"XST-2XDT,59,300", Local(2028, 2, 28, 12, 0), 7200},
      {"XST-2XDT,59,300", Local(2028, 2, 29, 3, 0), 10800},
      {"XST-2XDT,59,300", Local(2027, 2, 28, 12, 0), 7200},
      {"XST-2XDT,59,300", Local(2027, 3, 1, 3, 0), 10800},
      // A negative time: the evening before the last Sunday.
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", Local(2026, 3, 28, 22, 30), -7200},
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", Local(2026, 3, 29, 0, 30), -3600},
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", Local(2026, 10, 24, 22, 30), -3600},
      {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", Local(2026, 10, 25, 0, 30), -7200},
      // 48 hours after December 31 is January 2 of the next year.
      {"XST-10XDT,J365/48,M3.1.0/3", Local(2027, 1, 1, 12, 0), 36000},
      {"XST-10XDT,J365/48,M3.1.0/3", Local(2027, 1, 2, 12, 0), 39600},
      {"XST-10XDT,J365/48,M3.1.0/3", Local(2027, 3, 7, 4, 0), 36000},
      // Summer time all year.
      {"EST5EDT,0/0,J365/25", Local(2026, 1, 1, 0, 30), -14400},
      {"EST5EDT,0/0,J365/25", Local(2026, 12, 31, 23, 30), -14400},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZoneFileOffsetAt(ZoneFile(c.footer, 0, true), c.local), c.offset)
        << c.footer << " " << c.local.year << "-" << c.local.month << "-" << c.local.day << " "
        << c.local.hour << ":" << c.local.minute;
  }
  // Without transitions the footer holds at every time.
  const std::string cet = ZoneFile("CET-1CEST,M3.5.0,M10.5.0/3", 3600, false);
  EXPECT_EQ(ZoneFileOffsetAt(cet, Local(2026, 7, 1, 12, 0)), 7200);
  EXPECT_EQ(ZoneFileOffsetAt(cet, Local(2026, 1, 1, 12, 0)), 3600);
  EXPECT_FALSE(ZoneFileOffsetAt("TZif2", Local(2026, 1, 1, 12, 0)));
}

TEST(RRule, WhatTheHandheldCanHold) {
  const struct {
    const char* rule;
    TICalTime start;
    bool held;
    const char* why;
  } cases[] = {
      {"FREQ=DAILY;INTERVAL=3", Local(2026, 1, 5, 9, 0), true, ""},
      {"FREQ=DAILY;INTERVAL=256", Local(2026, 1, 5, 9, 0), false, "interval over 255"},
      {"FREQ=WEEKLY;BYDAY=MO,WE,FR;UNTIL=20261231T230000Z", Local(2026, 1, 5, 9, 0), true, ""},
      {"FREQ=MONTHLY", Local(2026, 1, 31, 9, 0), true, ""},
      {"FREQ=MONTHLY;BYMONTHDAY=14", Local(2026, 1, 14, 9, 0), true, ""},
      {"FREQ=MONTHLY;BYMONTHDAY=14", Local(2026, 1, 15, 9, 0), false, "date other"},
      {"freq=monthly;byday=-1SU", Local(2026, 3, 29, 9, 0), true, ""},
      {"FREQ=MONTHLY;BYDAY=2MO", Local(2026, 3, 9, 9, 0), true, ""},
      {"FREQ=MONTHLY;BYDAY=-1MO", Local(2026, 3, 2, 9, 0), false, "week other"},
      {"FREQ=MONTHLY;BYDAY=MO,TU", Local(2026, 3, 2, 9, 0), false, "several days"},
      {"FREQ=MONTHLY;BYDAY=1MO;BYSETPOS=1", Local(2026, 3, 2, 9, 0), false, "BYSETPOS=1"},
      {"FREQ=YEARLY", Local(2026, 2, 28, 9, 0), true, ""},
      {"FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU", Local(2026, 3, 29, 9, 0), false, "by weekday"},
      {"FREQ=WEEKLY;BYDAY=1MO", Local(2026, 3, 2, 9, 0), false, "ordinal"},
      {"FREQ=DAILY;COUNT=10", Local(2026, 3, 2, 9, 0), false, "COUNT"},
      {"FREQ=HOURLY", Local(2026, 3, 2, 9, 0), false, "more often"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(HandheldCanHold(ParseRRule(c.rule, 1), c.start, &why), c.held) << c.rule;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.rule << ": " << why;
  }
  const TRRule rule = ParseRRule("FREQ=MONTHLY;BYDAY=-1SU,2MO;WKST=SU", 1);
  EXPECT_EQ(rule.by_day, (std::vector<TWeekdayNum>{{-1, 0}, {2, 1}}));
  EXPECT_EQ(rule.week_start, 0);
  for (const char* bad : {"BYDAY=MO", "FREQ=FORTNIGHTLY", "FREQ=DAILY;INTERVAL=0",
                          "FREQ=WEEKLY;BYDAY=XX", "FREQ=DAILY;UNTIL=2026", "FREQ=DAILY;COUNT"})
    EXPECT_THROW(ParseRRule(bad, 7), EVObjectError) << bad;
}

TEST(Duration, FormsAndRefusals) {
  EXPECT_EQ(ParseDuration("-PT15M", 1), -900);
  EXPECT_EQ(ParseDuration("P1D", 1), 86400);
  EXPECT_EQ(ParseDuration("+P1W", 1), 7 * 86400);
  EXPECT_EQ(ParseDuration("P1DT1H30M5S", 1), 86400 + 5400 + 5);
  for (const char* bad : {"P", "PT", "P1H", "PT1D", "P1D1D", "-PT", "15M", "PT1M1H"})
    EXPECT_THROW(ParseDuration(bad, 1), EVObjectError) << bad;
}

}  // namespace
}  // namespace fernwick::examples

"""The Date Book example through the runner: DateBook.ics and
DateBook-archive.ics read with python3-icalendar and compared field by field
with what fernwick-pdbdump --decode shows for the same records; a calendar
program's file (tests/examples/data/icalendar-4.ics) synchronised to the
handheld and back.

    check_datebook_ical.py BIN_DIR HANDHELD_DIR"""
import datetime
import os
import sys

import icalendar

from example_check import Scratch, expect, expect_equal, expect_no_controls

FREQ = {1: "DAILY", 2: "WEEKLY", 3: "MONTHLY", 4: "MONTHLY", 5: "YEARLY"}
DAYS = ["SU", "MO", "TU", "WE", "TH", "FR", "SA"]


def day(text):
    return datetime.date(*map(int, text.split("-")))


def events(data):
    text = data.decode("utf-8")
    expect("\n" not in text.replace("\r\n", ""), "iCalendar lines end in CR LF")
    expect(all(len(line.encode("utf-8")) <= 75 for line in text.split("\r\n")),
           "iCalendar lines are folded at 75 octets")
    calendar = icalendar.Calendar.from_ical(text)
    expect_equal(str(calendar["VERSION"]), "2.0", "version")
    return {int(str(e["X-FERNWICK-ID"] if "X-FERNWICK-ID" in e else e["UID"]).split("@")[0]): e
            for e in calendar.walk("VEVENT") if "RECURRENCE-ID" not in e}


def exdates(event):
    found = event.get("EXDATE")
    if found is None:
        return []
    lists = found if isinstance(found, list) else [found]
    return [d.dt for l in lists for d in l.dts]


def compare(records, found):
    expect_equal(sorted(found), sorted(r["id"] for r in records), "record ids")
    for r in records:
        e, what = found[r["id"]], "record {} ".format(r["id"])
        date = day(r["date"])
        if r["time"] == "untimed":
            start = date
            expect_equal(e["DTSTART"].dt, date, what + "start")
            expect_equal(e["DTEND"].dt, date + datetime.timedelta(days=1), what + "end")
        else:
            sh, sm, eh, em = (int(x) for x in r["time"].replace("-", ":").split(":"))
            start = datetime.datetime(date.year, date.month, date.day, sh, sm)
            expect_equal(e["DTSTART"].dt, start, what + "start")
            expect_equal(e["DTEND"].dt, datetime.datetime(date.year, date.month, date.day, eh, em),
                         what + "end")
        expect_equal(str(e.get("SUMMARY")) if "SUMMARY" in e else None,
                     None if r["description"] == "none" else r["description"], what + "summary")
        expect_equal(str(e.get("DESCRIPTION")) if "DESCRIPTION" in e else None,
                     None if r["note"] == "none" else r["note"], what + "note")
        expect_equal(str(e.get("CLASS", "")), "PRIVATE" if r["attr"] & 0x10 else "", what + "private")
        alarms = [c for c in e.subcomponents if c.name == "VALARM"]
        if r["alarm"] == "none":
            expect_equal(alarms, [], what + "alarm")
        else:
            advance, unit = (int(x) for x in r["alarm"].split(","))
            unit = [datetime.timedelta(minutes=1), datetime.timedelta(hours=1),
                    datetime.timedelta(days=1)][unit]
            expect_equal(alarms[0]["TRIGGER"].dt, -advance * unit, what + "alarm")
        if r["repeat"] == "none":
            expect("RRULE" not in e, what + "has no repeat")
        else:
            kind, end, frequency, on, week_start = r["repeat"].split(",")
            kind, on = int(kind), int(on)
            rule = e["RRULE"]
            expect_equal(rule["FREQ"], [FREQ[kind]], what + "frequency")
            expect_equal(rule["INTERVAL"], [int(frequency)], what + "interval")
            if kind == 2:
                expect_equal(rule["BYDAY"], [DAYS[d] for d in range(7) if on >> d & 1], what + "days")
                expect_equal(rule["WKST"], [DAYS[int(week_start)]], what + "week start")
            if kind == 3:
                week = "-1" if on // 7 >= 4 else str(on // 7 + 1)
                expect_equal(rule["BYDAY"], [week + DAYS[on % 7]], what + "day of month")
            if end == "none":
                expect("UNTIL" not in rule, what + "repeats forever")
            else:
                until = rule["UNTIL"][0]
                until = until.date() if isinstance(until, datetime.datetime) else until
                expect_equal(until, day(end), what + "repeat end")
        wanted = [] if r["exceptions"] == "none" else [
            day(x) if r["time"] == "untimed" else datetime.datetime.combine(day(x), start.time())
            for x in r["exceptions"].split(";")]
        expect_equal(exdates(e), wanted, what + "exceptions")


def repeat_end(pdb):
    """Index of the first live repeating event of a Date Book file with an end
    date, and the offset of that end date in the record."""
    for index in range(int.from_bytes(pdb[76:78], "big")):
        entry = pdb[78 + 8 * index:86 + 8 * index]
        start = int.from_bytes(entry[0:4], "big")
        flags = int.from_bytes(pdb[start + 6:start + 8], "big")
        offset = 8 + (2 if flags & 0x4000 else 0) + 2
        if entry[4] & 0x80 == 0 and flags & 0x2000 and pdb[start + offset:start + offset + 2] != b"\xff\xff":
            return index, offset
    raise AssertionError("no repeating event with an end date")


def main(bin_dir, handheld):
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("DatebookDB.pdb")
        log = s.sync("datebook_conduit.dll", "slow")
        expect("DatebookDB: {} to the desktop, 0 to the handheld, 0 deleted, {} archived, "
               "0 conflicts (stSlow)".format(len(dump.live()), len(dump.archived())) in log, log)
        compare(dump.live(), events(s.read("DateBook", "DateBook.ics")))
        compare(dump.archived(), events(s.read("DateBook", "DateBook-archive.ics")))
        # Read back, every event is what its record holds: nothing to do.
        for sync_type in ("fast", "slow"):
            log = s.sync("datebook_conduit.dll", sync_type)
            expect("DatebookDB: 0 to the desktop, 0 to the handheld, 0 deleted, 0 archived, "
                   "0 conflicts" in log, log)
        # An archive that cannot be read stops the sync before the handheld
        # takes the desktop's new event (it was read only after).
        path = os.path.join(s.desktop, "DateBook", "DateBook.ics")
        text = s.read("DateBook", "DateBook.ics")
        with open(path, "wb") as f:
            f.write(text.replace(b"END:VCALENDAR", b"BEGIN:VEVENT\r\nSUMMARY:New\r\n"
                                 b"DTSTART:20270105T090000\r\nEND:VEVENT\r\nEND:VCALENDAR"))
        with open(os.path.join(s.desktop, "DateBook", "DateBook-archive.ics"), "wb") as f:
            f.write(b"BEGIN:VCALENDAR\r\nno colon\r\nEND:VCALENDAR\r\n")
        records = s.dump("DatebookDB.pdb").records
        log = s.sync_refused("datebook_conduit.dll", "fast")
        expect("DateBook-archive.ics" in log, log)
        expect_equal(s.dump("DatebookDB.pdb").records, records, "the handheld after a refusal")
    # Records no handheld application writes: each is left out with one log
    # line naming it, and the rest is written as valid iCalendar. Once one
    # impossible date stopped the whole export ("Invalid argument to date
    # encode") and the others wrote months 0 and 14, hour 25, 30,000
    # EXDATEs and an end before the start.
    def date(y, m, d):
        return (((y - 1904) << 9) | (m << 5) | d).to_bytes(2, "big")
    bad = {
        2912265: (4, date(2006, 2, 31), "date 0xCC5F is no day of the calendar"),
        2912261: (4, date(2003, 14, 5), "date 0xC7C5 is no day of the calendar"),
        2912263: (0, bytes([25, 99]), "start time 0x1963 is no time of day"),
        2912266: (2, bytes([8, 0]), "it ends before it starts"),
        2912257: (18, (30000).to_bytes(2, "big"), "its exception count (30000) is more than"),
        2912276: (18, b"\0\0", "exception 1, 0x0000, is no day of the calendar"),
        2912272: (4, date(2003, 0, 0), "date 0xC600 is no day"),  # archived
    }
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("DatebookDB.pdb")
        for record, (offset, data, _) in bad.items():
            s.patch("DatebookDB.pdb", record, offset, data)
        s.patch("DatebookDB.pdb", 2912277, 11, b"\x1b\x0b")  # "Submit expenses" after 10 bytes
        # The archived one also says it holds exceptions: its description's
        # bytes read as a count, which no decoding and encoding gives back.
        s.patch("DatebookDB.pdb", 2912272, 6, b"\x0c\x00")
        archived = s.record_bytes("DatebookDB.pdb", 2912272)
        log = s.sync("datebook_conduit.dll", "slow")
        for record, (_, _, why) in bad.items():
            expect("Date Book: record {} skipped: {}".format(record, why) in log, log)
        live = [r for r in dump.live() if r["id"] not in bad]
        for r in live:
            if r["id"] == 2912277:
                r["description"] = "Smit expenses"
        # The engine counts the records left out among those it gave the desktop.
        expect("DatebookDB: {} to the desktop".format(len(dump.live())) in log, log)
        data = s.read("DateBook", "DateBook.ics")
        expect_no_controls(data, "DateBook.ics")
        compare(live, events(data))
        # The archived one, purged from the handheld, is kept whole beside
        # the archive: its words and its bytes as they were.
        line = s.read("DateBook", "DateBook-archive-skipped.txt")
        expect(line.startswith(b"2912272\tdate 0xC600 is no day of the calendar\t"),
               "archived record listed")
        expect_equal(line.split(b"\t")[4:], [archived.hex().upper().encode("ascii") + b"\n"],
                     "archived record's bytes")
        # The records left out are not taken for deleted on the desktop: the
        # handheld keeps them as they are, and the text read back unchanged
        # without its control characters changes nothing either.
        log = s.sync("datebook_conduit.dll", "slow")
        expect("DatebookDB: 0 to the desktop, 0 to the handheld, 0 deleted" in log, log)
        ids = s.record_ids("DatebookDB.pdb")
        expect(all(r in ids for r in bad if r != 2912272), "skipped records kept")
    # A repeating event whose end date is damaged (month 0) is left out with a
    # log line: neither "repeats forever" nor a made-up end keeps its meaning.
    with Scratch(bin_dir, handheld) as s:
        index, offset = repeat_end(s.read_handheld("DatebookDB.pdb"))
        rec_id = s.patch_record("DatebookDB.pdb", index, offset, b"\0\0")
        log = s.sync("datebook_conduit.dll", "slow")
        expect("Date Book: record {} skipped: repeat end date 0x0000 is no day of the calendar"
               .format(rec_id) in log, log)
        expect(rec_id not in events(s.read("DateBook", "DateBook.ics")), "event {} left out".format(rec_id))
    other_program(bin_dir, handheld)
    print("ok")


def record(dump, description):
    found = [r for r in dump.live() if r.get("description") == description]
    expect_equal(len(found), 1, "records of " + description)
    return found[0]


def other_program(bin_dir, handheld):
    """A calendar program's file placed in DateBook.ics reaches the handheld
    with its meaning, in the desktop's local time (UTC here); what the
    handheld cannot hold stays in the file through a change on the
    handheld."""
    os.environ["TZ"] = "UTC"
    data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "icalendar-4.ics")
    with Scratch(bin_dir, handheld) as s, open(data, "rb") as f:
        os.makedirs(os.path.join(s.desktop, "DateBook"))
        # One occurrence moved by the calendar program: a second VEVENT of
        # the same UID, which stays on the desktop beside its event.
        moved = (b"BEGIN:VEVENT\r\nUID:team-weekly@example.org\r\n"
                 b"RECURRENCE-ID;TZID=Europe/Berlin:20260713T093000\r\n"
                 b"DTSTART;TZID=Europe/Berlin:20260713T110000\r\nDURATION:PT45M\r\n"
                 b"SUMMARY:Team meeting (moved)\r\nEND:VEVENT\r\n")
        with open(os.path.join(s.desktop, "DateBook", "DateBook.ics"), "wb") as out:
            out.write(f.read().replace(b"END:VCALENDAR", moved + b"END:VCALENDAR"))
        live = len(s.dump("DatebookDB.pdb").live())
        log = s.sync("datebook_conduit.dll", "slow")
        expect("DatebookDB: {} to the desktop, 3 to the handheld".format(live) in log, log)
        expect('Date Book: event "Call New York" (call@example.org): its repeat rule cannot be '
               "held on the handheld (ends after a count of occurrences (COUNT)); the handheld "
               "shows its first occurrence only; the desktop keeps it as written" in log, log)
        expect('Date Book: event "Holiday" (holiday@example.org): it lasts several days' in log, log)
        dump = s.dump("DatebookDB.pdb")
        team = record(dump, "Team meeting; room \u00abFjord\u00bb, 3rd floor")
        # 09:30 to 10:15 in Berlin's summer time is 07:30 to 08:15 UTC.
        expect_equal((team["date"], team["time"], team["alarm"]),
                     ("2026-07-06", "07:30-08:15", "15,0"), "team meeting")
        expect_equal(team["repeat"], "2,2026-12-31,2,42,1", "team meeting repeat (MO WE FR)")
        expect_equal(team["exceptions"], "2026-07-08;2026-07-10;2026-08-03", "exceptions")
        expect_equal(team["note"], "Agenda:\n1. Numbers, plans\n2. Anything else\\ne", "note")
        holiday = record(dump, "Holiday")
        expect_equal((holiday["date"], holiday["time"], holiday["repeat"]),
                     ("2026-12-24", "untimed", "5,none,1,0,0"), "holiday")
        call = record(dump, "Call New York")
        expect_equal((call["date"], call["time"], call["repeat"], call["alarm"]),
                     ("2026-03-02", "15:00-16:30", "none", "1,2"), "call")
        found = events(s.read("DateBook", "DateBook.ics"))
        expect_equal(str(found[team["id"]]["UID"]), "team-weekly@example.org", "UID kept")
        expect_equal(str(found[call["id"]]["RRULE"].to_ical(), "ascii"),
                     "FREQ=MONTHLY;COUNT=10;BYDAY=-1MO", "COUNT rule kept")
        # A record made impossible on the handheld is left out, and its event
        # stays in the file as it was, its record kept.
        s.patch("DatebookDB.pdb", team["id"], 0, bytes([23]))
        log = s.sync("datebook_conduit.dll", "slow")
        expect("Date Book: record {} skipped: it ends before it starts".format(team["id"]) in log, log)
        expect(b"team-weekly@example.org" in s.read("DateBook", "DateBook.ics"), "event kept")
        # The handheld moves both an hour later.
        for r in (team, call):
            hours = [int(x) for x in r["time"].replace("-", ":").split(":")[::2]]
            s.patch("DatebookDB.pdb", r["id"], 0, bytes([hours[0] + 1]))
            s.patch("DatebookDB.pdb", r["id"], 2, bytes([hours[1] + 1]))
        log = s.sync("datebook_conduit.dll", "slow")
        expect("DatebookDB: 2 to the desktop, 0 to the handheld" in log, log)
        text = s.read("DateBook", "DateBook.ics").decode("utf-8")
        found = events(text.encode("utf-8"))
        e = found[team["id"]]
        expect_equal(str(e["UID"]), "team-weekly@example.org", "UID kept")
        expect_equal((e["DTSTART"].dt, e["DTEND"].dt),
                     (datetime.datetime(2026, 7, 6, 8, 30), datetime.datetime(2026, 7, 6, 9, 15)),
                     "new time")
        expect_equal(exdates(e), [datetime.datetime(2026, m, d, 8, 30)
                                  for m, d in ((7, 8), (7, 10), (8, 3))], "exceptions moved")
        expect_equal(e["RRULE"]["BYDAY"], ["MO", "WE", "FR"], "days")
        expect_equal(e["RRULE"]["INTERVAL"], [2], "interval")
        for kept in ("ATTENDEE;CN=\"\u00c5se \u00d8deg\u00e5rd\";PARTSTAT=ACCEPTED", "ORGANIZER;CN",
                     "X-CUSTOM-FLAG:kept as it was", "LOCATION:Oslo", "CATEGORIES:Work,Team",
                     "SUMMARY:Team meeting\\; room \u00abFjord\u00bb\\, 3rd floor", "TRIGGER:-PT15M",
                     "FREQ=MONTHLY;COUNT=10;BYDAY=-1MO", "X-FERNWICK-ID:{}".format(team["id"]),
                     "UID:holiday@example.org", "DURATION:P3D",
                     "RECURRENCE-ID;TZID=Europe/Berlin:20260713T093000"):
            expect(kept in text, kept + " kept: " + text)
        e = found[call["id"]]
        expect_equal(e["DTSTART"].dt, datetime.datetime(2026, 3, 2, 16, 0), "call moved")
        log = s.sync("datebook_conduit.dll", "slow")
        expect("DatebookDB: 0 to the desktop, 0 to the handheld, 0 deleted" in log, log)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

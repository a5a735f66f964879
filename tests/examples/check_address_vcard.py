"""The Address Book example through the runner: AddressBook.vcf and
AddressBook-archive.vcf read with python3-vobject and compared field by field
with what fernwick-pdbdump --decode shows for the same records; cards written
by other programs (tests/examples/data) read back to the handheld, changed
there, and their unmapped properties kept through any number of syncs.

    check_address_vcard.py BIN_DIR HANDHELD_DIR"""
import difflib
import os
import re
import sys

import vobject

from example_check import Scratch, expect, expect_equal, expect_no_controls

TYPES = ["WORK,VOICE", "HOME,VOICE", "FAX", "VOICE", "INTERNET", "VOICE", "PAGER", "CELL"]


def cards(data):
    text = data.decode("utf-8")
    expect("\n" not in text.replace("\r\n", ""), "vCard lines end in CR LF")
    expect(all(len(line.encode("utf-8")) <= 75 for line in text.split("\r\n")),
           "vCard lines are folded at 75 octets")
    found = {}
    for card in vobject.readComponents(text):
        key = card.x_fernwick_id if "x-fernwick-id" in card.contents else card.uid
        found[int(key.value.split("@")[0])] = card
    return found


def parameter(text):
    """A label as a parameter value holds it: without double quotes."""
    return text.replace('"', "")


def values(card, name):
    return card.contents.get(name.lower(), [])


def compare(dump, records, found, archived=False):
    expect_equal(sorted(found), sorted(r["id"] for r in records), "record ids")
    for r in records:
        card, f, what = found[r["id"]], r["fields"], "record {} ".format(r["id"])
        field = lambda i: f.get(i, "")
        expect_equal(card.n.value.family, field(0), what + "last name")
        expect_equal(card.n.value.given, field(1), what + "first name")
        full = " ".join(x for x in (field(1), field(0)) if x) or field(2)
        expect_equal(card.fn.value, full, what + "full name")
        expect_equal([v.value for v in values(card, "org")], [[field(2)]] if field(2) else [],
                     what + "company")
        expect_equal([v.value for v in values(card, "title")], [field(13)] if field(13) else [],
                     what + "title")
        labels = [int(x) for x in r["labels"].split(",")]
        shown = int(r["shown"])
        phones = []
        for i in range(5):
            if field(3 + i):
                label = labels[i]
                text = dump.labels[3 + label] if label < 5 else dump.labels[19 + label - 5]
                types = TYPES[label] + (",PREF" if i == shown else "")
                phones.append(("EMAIL" if label == 4 else "TEL", field(3 + i), types, parameter(text)))
        got = [(p.name, p.value, ",".join(p.params["TYPE"]), p.params["X-LABEL"][0])
               for p in values(card, "tel") + values(card, "email")]
        expect_equal(sorted(got), sorted(phones), what + "phones")
        address = [field(i) for i in range(8, 13)]
        adr = values(card, "adr")
        if any(address):
            a = adr[0].value
            expect_equal([a.street, a.city, a.region, a.code, a.country], address, what + "address")
        else:
            expect_equal(adr, [], what + "address")
        for i in range(4):
            custom = values(card, "x-custom{}".format(i + 1))
            if field(14 + i):
                expect_equal(custom[0].value, field(14 + i), what + "custom")
                expect_equal(custom[0].params["X-LABEL"][0], parameter(dump.labels[14 + i]),
                             what + "custom label")
            else:
                expect_equal(custom, [], what + "custom")
        expect_equal([v.value for v in values(card, "note")], [field(18)] if field(18) else [],
                     what + "note")
        expect_equal([v.value for v in values(card, "categories")],
                     [] if archived else [[dump.category(r)]], what + "category")
        expect_equal([v.value for v in values(card, "class")],
                     ["PRIVATE"] if r["attr"] & 0x10 else [], what + "private")


def summary(to_desktop, to_handheld, deleted, archived, sync_type):
    return "AddressDB: {} to the desktop, {} to the handheld, {} deleted, {} archived, 0 conflicts ({})".format(
        to_desktop, to_handheld, deleted, archived, sync_type)


DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")


def fixture(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


def replace_once(s, database, old, new):
    """Changes a record's bytes in the handheld's database file in place."""
    path = os.path.join(s.handheld, database)
    with open(path, "rb") as f:
        data = f.read()
    expect_equal(data.count(old), 1, "occurrences of {!r}".format(old))
    with open(path, "wb") as f:
        f.write(data.replace(old, new))


def unfolded(data):
    return re.sub(rb"\r?\n[ \t]", b"", data).decode("utf-8")


def main(bin_dir, handheld):
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("AddressDB.pdb")
        log = s.sync("address_conduit.dll", "slow")
        expect(summary(len(dump.live()), 0, 0, len(dump.archived()), "stSlow") in log, log)
        compare(dump, dump.live(), cards(s.read("AddressBook", "AddressBook.vcf")))
        compare(dump, dump.archived(), cards(s.read("AddressBook", "AddressBook-archive.vcf")),
                archived=True)
        log = s.sync("address_conduit.dll", "fast")
        expect(summary(0, 0, 0, 0, "stFast") in log, log)
    # Escape and vertical tab in a name: left out, never written raw.
    with Scratch(bin_dir, handheld) as s:
        s.patch("AddressDB.pdb", 2904065, 10, b"\x1b\x0b")  # "Okafor" after the 9-byte head
        s.sync("address_conduit.dll", "slow")
        data = s.read("AddressBook", "AddressBook.vcf")
        expect_no_controls(data, "AddressBook.vcf")
        expect_equal(cards(data)[2904065].n.value.family, "Ofor", "name without its controls")
    # Cards of other programs (a byte order mark, groups, lower-case names,
    # a tab fold, PHOTO, three ADR, six TEL, X- properties, UIDs of their
    # own) reach the handheld with their meaning and keep the rest.
    with Scratch(bin_dir, handheld) as s:
        s.sync("address_conduit.dll", "slow")
        path = os.path.join(s.desktop, "AddressBook", "AddressBook.vcf")
        theirs = fixture("contacts-app.vcf") + fixture("vobject-3.0.vcf") + fixture("rfc6350.vcf")
        ours = s.read("AddressBook", "AddressBook.vcf")
        with open(path, "wb") as f:
            f.write(theirs + ours)
        log = s.sync("address_conduit.dll", "fast")
        expect(summary(0, 3, 0, 0, "stFast") in log, log)
        found = cards(s.read("AddressBook", "AddressBook.vcf"))
        ids = {c.uid.value: i for i, c in found.items()}
        simon = [i for i, c in found.items() if c.fn.value == "Simon Perreault"][0]
        expect_equal(found[simon].uid.value, "{}@AddressDB".format(simon), "UID of a card without")
        expect("categories" not in found[simon].contents, "an Unfiled card without CATEGORIES")
        ase, jm = ids["d6a7f1c2-0b7e-4bd1-9c1e-5b8b3f0e2a11"], ids["contacts-app-0001"]
        records = {r["id"]: r for r in s.dump("AddressDB.pdb").records}
        f = records[ase]["fields"]
        expect_equal([f.get(i, "") for i in (0, 1, 2, 13)],
                     ["Ødegård", "Åse", "Fjord & Co; AS", "Head, Sales"], "names")
        expect_equal([f.get(i, "") for i in range(3, 8)],
                     ["ase@fjord.example", "ase.home@example.org", "+47 22 00 00 01",
                      "+47 900 00 002", "+47 22 00 00 03"], "phones")
        expect_equal(records[ase]["labels"], "4,4,0,7,1", "phone labels")
        expect_equal([f.get(i, "") for i in range(8, 13)],
                     ["Karl Johans gate 1", "Oslo", "", "0154", "Norway"], "address")
        expect(f[18].startswith("Møtes på torsdager; ta med kaffe, kake og «papirene»."), f[18])
        g = records[jm]["fields"]
        expect_equal([g.get(i, "") for i in (0, 1, 3, 4, 5, 6)],
                     ["Müller", "Jürgen", "jm@example.de", "j.mueller@firma.example",
                      "+49 170 0000001", "+49 30 0000002"], "names and phones")
        expect(g[18].endswith("geteilt: Grüße."), g[18])
        h = records[simon]
        expect_equal([h["fields"].get(i, "") for i in (0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12)],
                     ["Perreault", "Simon", "Viagenie", "+1-418-656-9254;ext=102",
                      "+1-418-262-6501", "simon.perreault@viagenie.ca", "2875 Laurier", "Quebec",
                      "QC", "G1V 2M2", "Canada"], "a vCard 4.0")
        expect_equal((h["labels"][:6], h["shown"]), ("0,7,4,", "0"), "4.0 phone labels")
        before = unfolded(s.read("AddressBook", "AddressBook.vcf"))
        kept = [line for line in unfolded(theirs).splitlines()
                if line.split(":")[0].split(";")[0].upper() in
                ("PHOTO", "X-ABUID", "UID", "ADR", "CATEGORIES", "X-SOCIALPROFILE", "PRODID",
                 "ITEM1.X-ABLABEL", "BDAY", "ANNIVERSARY", "GENDER", "LANG", "GEO", "KEY", "TZ",
                 "URL") or line.startswith(("TEL;TYPE=FAX", "TEL;TYPE=PAGER", "TEL;TYPE=CAR"))]
        expect_equal(len(kept), 25, "kept lines of the fixtures")
        for line in kept:
            expect(line.lstrip("\ufeff") in before, "kept: " + line)

        # Changed on the handheld: only the changed properties are rewritten.
        replace_once(s, "AddressDB.pdb", "Ødegård".encode("cp1252"), "Ødegard".encode("cp1252"))
        replace_once(s, "AddressDB.pdb", b"+47 22 00 00 01", b"+47 22 99 99 01")
        log = s.sync("address_conduit.dll", "slow")
        expect(summary(1, 0, 0, 0, "stSlow") in log, log)
        after = unfolded(s.read("AddressBook", "AddressBook.vcf"))
        changed = {("N:Ødegård;Åse;M.;Dr.;", "N:Ødegard;Åse;M.;Dr.;"),
                   ("FN:Dr. Åse M. Ødegård", "FN:Dr. Åse M. Ødegard"),
                   ("TEL;TYPE=WORK,VOICE:+47 22 00 00 01", "TEL;TYPE=WORK,VOICE:+47 22 99 99 01")}
        for old, new in changed:
            before = before.replace(old, new)
        expect(after == before, "AddressBook.vcf after the handheld's change:\n" + "\n".join(
            difflib.unified_diff(before.splitlines(), after.splitlines(), lineterm="")))
        for sync_type in ("fast", "slow", "fast"):
            log = s.sync("address_conduit.dll", sync_type)
            expect("0 to the desktop, 0 to the handheld, 0 deleted" in log, log)
            expect_equal(unfolded(s.read("AddressBook", "AddressBook.vcf")), after, "after syncs")

        # A card deleted in the file deletes its record.
        text = s.read("AddressBook", "AddressBook.vcf").decode("utf-8")
        start = text.index("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:d6a7f1c2")
        text = text[:start] + text[text.index("END:VCARD\r\n", start) + 11:]
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))
        log = s.sync("address_conduit.dll", "fast")
        expect(summary(0, 0, 1, 0, "stFast") in log, log)
        expect(ase not in s.record_ids("AddressDB.pdb"), "record of the deleted card purged")
    # vCard 2.1 as phones write it (quoted-printable, character sets): the
    # handheld gets the decoded text, the file keeps the lines as written,
    # and a character set unknown here is named in the log.
    with Scratch(bin_dir, handheld) as s:
        s.sync("address_conduit.dll", "slow")
        path = os.path.join(s.desktop, "AddressBook", "AddressBook.vcf")
        phone = fixture("phone-2.1.vcf")
        ours = s.read("AddressBook", "AddressBook.vcf")
        with open(path, "wb") as f:
            f.write(phone + ours)
        # An archive that cannot be read stops the sync before the handheld
        # is written (it was read only after).
        archive = os.path.join(s.desktop, "AddressBook", "AddressBook-archive.vcf")
        kept = s.read("AddressBook", "AddressBook-archive.vcf")
        with open(archive, "wb") as f:
            f.write(b"BEGIN:VCARD\r\nVERSION:3.0\r\nno colon here\r\nEND:VCARD\r\n")
        records = s.dump("AddressDB.pdb").records
        log = s.sync_refused("address_conduit.dll", "fast")
        expect("AddressBook-archive.vcf" in log, log)
        expect_equal(s.dump("AddressDB.pdb").records, records, "the handheld after a refusal")
        with open(archive, "wb") as f:
            f.write(kept)
        log = s.sync("address_conduit.dll", "fast")
        expect(summary(0, 2, 0, 0, "stFast") in log, log)
        expect('X-NICKNAME is in character set "SHIFT_JIS"' in log, log)
        fields = [r["fields"] for r in s.dump("AddressDB.pdb").records]
        jm = [f for f in fields if f.get(1) == "Jürgen"][0]
        expect_equal([jm.get(i, "") for i in (0, 2, 13, 8, 9, 11, 12)],
                     ["Müller", "Müller – Söhne", "Geschäftsführer", "Straße 5", "Köln",
                      "50667", "Deutschland"], "a 2.1 card on the handheld")
        expect_equal(jm[18], "Erste Zeile\nZweite Zeile, die weich umbrochen wird: Grüße, und "
                     "ein Euro: € vor einem Leerzeichen.", "its note")
        expect([f for f in fields if f.get(0) == "Müller" and f.get(1) == "Anna"], "the second card")
        text = s.read("AddressBook", "AddressBook.vcf")
        for line in phone.split(b"\r\n"):
            if not line.startswith((b"BEGIN", b"VERSION", b"END", b"N;QUOTED")):
                expect(line in text, line)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

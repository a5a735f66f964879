"""The Address Book example through the runner: AddressBook.vcf and
AddressBook-archive.vcf read with python3-vobject and compared field by field
with what fernwick-pdbdump --decode shows for the same records.

    check_address_vcard.py BIN_DIR HANDHELD_DIR"""
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
        found[int(card.uid.value.split("@")[0])] = card
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


def main(bin_dir, handheld):
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("AddressDB.pdb")
        log = s.sync("address_conduit.dll", "slow")
        expect("Address Book: {} exported, {} archived, 1 deleted (stSlow)".format(
            len(dump.live()), len(dump.archived())) in log, log)
        compare(dump, dump.live(), cards(s.read("AddressBook", "AddressBook.vcf")))
        compare(dump, dump.archived(), cards(s.read("AddressBook", "AddressBook-archive.vcf")),
                archived=True)
        log = s.sync("address_conduit.dll", "fast")
        expect("Address Book: 0 exported, 0 archived, 0 deleted (stFast)" in log, log)
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("AddressDB.pdb")
        s.sync("address_conduit.dll", "fast")
        compare(dump, dump.changed(), cards(s.read("AddressBook", "AddressBook.vcf")))
    # Escape and vertical tab in a name: left out, never written raw.
    with Scratch(bin_dir, handheld) as s:
        s.patch("AddressDB.pdb", 2904065, 10, b"\x1b\x0b")  # "Okafor" after the 9-byte head
        s.sync("address_conduit.dll", "slow")
        data = s.read("AddressBook", "AddressBook.vcf")
        expect_no_controls(data, "AddressBook.vcf")
        expect_equal(cards(data)[2904065].n.value.family, "Ofor", "name without its controls")
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

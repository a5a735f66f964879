"""fernwick-pdbdump --layout LAYOUT [--json] [--strict] on the sample handheld
and on an Expense database written here: the JSON lines parse, their records
agree with fernwick-pdbdump --decode (strings through the handheld's
character set, dates as text), and a layout that does not fit a record or
block is reported, and fails --strict.

    check_layout_json.py BIN_DIR HANDHELD_DIR"""
import json
import os
import struct
import subprocess
import sys
import tempfile

from example_check import Dump, expect_equal

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NAMES = ("MemoDB", "ToDoDB", "AddressDB", "DatebookDB")


def layout(name):
    return os.path.join(SOURCE, "layouts", name + ".layout")


def write_pdb(path, name, creator, app_info, records):
    """A record database: header, record list, a 2-byte gap, the application
    info block and the records."""
    offset = 78 + 8 * len(records) + 2
    header = struct.pack(">32sHHIIIIII4s4sIIH", name.encode(), 0, 0, 0, 0, 0, 0, offset, 0,
                         b"DATA", creator, 0, 0, len(records))
    entries = b""
    offset += len(app_info)
    for i, data in enumerate(records):
        entries += struct.pack(">IB3s", offset, 0x40, (i + 1).to_bytes(3, "big"))
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + entries + b"\0\0" + app_info + b"".join(records))


EXPENSE_LAYOUT = """[record]
Date       pftDate   2 1
Type       pftByte   1 1
Payment    pftByte   1 1
Currency   pftByte   1 1
Pad        pftByte   1 1
Amount     pftString 0 1
Vendor     pftString 0 1
City       pftString 0 1
Attendees  pftString 0 1
Note       pftString 0 1
"""


def run(args, status=0):
    done = subprocess.run(args, capture_output=True)
    expect_equal(done.returncode, status, " ".join(args[1:]) + " exit status")
    return done.stdout.decode("utf-8"), done.stderr.decode("utf-8")


def check_samples(dump_tool, handheld):
    paths = [os.path.join(handheld, name + ".pdb") for name in NAMES]
    for name, path in zip(NAMES, paths):
        # One JSON document per line, one line per file.
        lines = run([dump_tool, "--layout", layout(name), "--json", "--strict", path, path])[0]
        lines = lines.splitlines()
        expect_equal(len(lines), 2, name + " lines")
        document = json.loads(lines[1])
        dump = Dump(run([dump_tool, "--decode", path])[0])
        expect_equal(document["name"], name, "name")
        expect_equal(document["appinfo"]["fields"]["CategoryName"], dump.categories,
                     name + " categories")
        expect_equal([(r["id"], r["attributes"]) for r in document["records"]],
                     [(r["id"], r["attr"]) for r in dump.records], name + " records")
        for got, want in zip(document["records"], dump.records):
            expect_equal(got["fields"] is None, want["empty"], name + " empty record")
            expect_equal((got["leftover"], got["past_end"]), (0, []), name + " fit")
            if name == "ToDoDB" and got["fields"] is not None:
                fields = got["fields"]
                expect_equal(fields["Description"], want["description"], "description")
                expect_equal(fields["DueDate"], want["due"], "due date")
                expect_equal(str(fields["Priority"] & 0x7F), want["priority"], "priority")


def check_fit(dump_tool, work):
    expense = os.path.join(work, "ExpenseDB.pdb")
    # 2026-11-02, no date, a 13th month; meals, cash, then amount, vendor,
    # city, attendees, note.
    records = [struct.pack(">HBBBB", packed, 3, 1, 0, 0) +
               b"12.50\0Caf\xe9 \x80uro\0Lyon\0\0lunch\0"
               for packed in ((2026 - 1904) << 9 | 11 << 5 | 2, 0xFFFF, 0xF5A2)]
    write_pdb(expense, "ExpenseDB", b"exps", b"\0" * 392, records)
    layouts = {"fits": EXPENSE_LAYOUT,
               "no-last": EXPENSE_LAYOUT.replace("Note       pftString 0 1\n", ""),
               "extra": EXPENSE_LAYOUT + "Extra pftSmallint 2 1\n"}
    for key, text in layouts.items():
        with open(os.path.join(work, key + ".layout"), "w") as f:
            f.write(text)
    fits = os.path.join(work, "fits.layout")

    out, err = run([dump_tool, "--layout", fits, "--strict", expense])
    expect_equal(out.splitlines()[2], 'record 0 attr=0x40 id=1 Date=2026-11-02 Type=3 Payment=1 '
                 'Currency=0 Pad=0 Amount="12.50" Vendor="Caf\\xe9 \\x80uro" City="Lyon" '
                 'Attendees="" Note="lunch"', "text record")
    expect_equal([line.split()[4] for line in out.splitlines()[3:]], ["Date=none", "Date=0xf5a2"],
                 "text dates")
    expect_equal((len(out.splitlines()), err), (5, ""), "a layout that fits")
    document = json.loads(run([dump_tool, "--layout", fits, "--json", expense])[0])
    expect_equal([r["fields"]["Date"] for r in document["records"]],
                 ["2026-11-02", "none", "0xf5a2"], "JSON dates")
    expect_equal(document["records"][0]["fields"]["Vendor"], "Caf\u00e9 \u20acuro", "JSON string")

    for layout_file, misfit in (
            (os.path.join(work, "no-last.layout"), "record 0: 6 leftover bytes"),
            (os.path.join(work, "extra.layout"), "record 0: fields past the end: Extra"),
            (layout("MemoDB"), "appinfo: 110 leftover bytes")):
        for strict in ([], ["--strict"]):
            out, err = run([dump_tool, "--layout", layout_file] + strict + [expense],
                           1 if strict else 0)
            expect_equal(misfit in out.splitlines(), True, layout_file + ": " + misfit)
            expect_equal("does not fit the layout" in err, True, layout_file + " message")
    out = run([dump_tool, "--layout", layout("MemoDB"), expense])[0]
    expect_equal(out.splitlines()[-1], "record 2: 29 leftover bytes", "MemoDB.layout record")
    fields = json.loads(run([dump_tool, "--layout", layout("MemoDB"), "--json", expense])[0])
    expect_equal((fields["appinfo"]["leftover"], fields["records"][0]["leftover"]), (110, 29),
                 "MemoDB.layout in JSON")


def main(bin_dir, handheld):
    dump_tool = os.path.join(bin_dir, "fernwick-pdbdump")
    check_samples(dump_tool, handheld)
    with tempfile.TemporaryDirectory() as work:
        check_fit(dump_tool, work)
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

"""What the example conduits' checks share: a scratch copy of a handheld,
runs of fernwick-hotsync and fernwick-pdbdump --decode, and the handheld's
character set read independently of the conduits (Python's cp1252 codec with
the handheld's card suits at 0x8D-0x90 and no character at 0x81, 0x9D and
0x9E)."""
import os
import re
import shutil
import subprocess
import sys
import tempfile

SUITS = {0x8D: "\u2666", 0x8E: "\u2663", 0x8F: "\u2665", 0x90: "\u2660", 0x81: "\x81", 0x9D: "\x9d",
         0x9E: "\x9e"}


def palm_text(raw):
    """The handheld's bytes as text."""
    return "".join(SUITS[b] if b in SUITS else bytes([b]).decode("cp1252") for b in raw)


def unquote(quoted):
    """The bytes of a string as fernwick-pdbdump prints it ("..." with \\xNN)."""
    assert quoted[0] == '"' and quoted[-1] == '"', quoted
    body = quoted[1:-1]
    out = bytearray()
    i = 0
    while i < len(body):
        if body[i] == "\\":
            out.append(int(body[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(ord(body[i]))
            i += 1
    return bytes(out)


QUOTED = r'"(?:[^"\\]|\\x[0-9a-f]{2})*"'


class Dump:
    """fernwick-pdbdump --decode of one database: the category names and, per
    record, its attributes and the decoded fields."""

    def __init__(self, text):
        self.categories = [""] * 16
        self.records = []
        for line in text.splitlines():
            m = re.match(r"category (\d+) id=\d+ renamed=\d ({})$".format(QUOTED), line)
            if m:
                self.categories[int(m.group(1))] = palm_text(unquote(m.group(2)))
                continue
            m = re.match(r"record attr=0x([0-9a-f]{2}) id=(\d+)(.*)$", line)
            if m:
                rest = m.group(3)
                record = {"attr": int(m.group(1), 16), "id": int(m.group(2)), "fields": {},
                          "empty": rest == " empty"}
                for key, value in re.findall(r" (\w+)=({}|\S+)".format(QUOTED), rest):
                    record[key] = palm_text(unquote(value)) if value.startswith('"') else value
                self.records.append(record)
                continue
            m = re.match(r"field (\d+) ({})$".format(QUOTED), line)
            if m:
                self.records[-1]["fields"][int(m.group(1))] = palm_text(unquote(m.group(2)))
                continue
            m = re.match(r"label (\d+) ({})$".format(QUOTED), line)
            if m:
                self.__dict__.setdefault("labels", {})[int(m.group(1))] = palm_text(unquote(m.group(2)))

    def live(self):
        return [r for r in self.records if not r["attr"] & 0x80]

    def archived(self):
        return [r for r in self.records if r["attr"] & 0x88 == 0x88]

    def changed(self):
        return [r for r in self.live() if r["attr"] & 0x40]

    def category(self, record):
        return self.categories[record["attr"] & 0x0F]


class Scratch:
    """A copy of a handheld folder and an empty desktop folder, removed when
    the `with` block that holds it ends."""

    def __init__(self, bin_dir, handheld):
        self.bin = os.path.abspath(bin_dir)
        self.root = tempfile.mkdtemp(prefix="fernwick-example-")
        self.handheld = os.path.join(self.root, "handheld")
        self.desktop = os.path.join(self.root, "desktop")
        shutil.copytree(handheld, self.handheld)
        os.makedirs(self.desktop)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.root, ignore_errors=True)

    def dump(self, database):
        out = subprocess.run([os.path.join(self.bin, "fernwick-pdbdump"), "--decode",
                              os.path.join(self.handheld, database)],
                             check=True, capture_output=True)
        return Dump(out.stdout.decode("ascii"))

    def sync(self, conduit, sync_type):
        out = subprocess.run([os.path.join(self.bin, "fernwick-hotsync"), "--handheld", self.handheld,
                              "--desktop", self.desktop, "--user", "Jo Palm", "--sync-type", sync_type,
                              "sync", conduit], cwd=self.bin, capture_output=True)
        log = out.stdout.decode("utf-8", "replace")
        if out.returncode != 0:
            sys.exit("sync failed: " + log + out.stderr.decode("utf-8", "replace"))
        return log

    def sync_refused(self, conduit, sync_type):
        """The log of a sync that must fail (the runner exits non-zero);
        exits when it succeeds."""
        out = subprocess.run([os.path.join(self.bin, "fernwick-hotsync"), "--handheld", self.handheld,
                              "--desktop", self.desktop, "--user", "Jo Palm", "--sync-type", sync_type,
                              "sync", conduit], cwd=self.bin, capture_output=True)
        log = out.stdout.decode("utf-8", "replace")
        if out.returncode == 0:
            sys.exit("sync succeeded where it must fail: " + log)
        return log

    def record_ids(self, database):
        """The ids of the records of the handheld's `database`, read from its
        record list alone."""
        with open(os.path.join(self.handheld, database), "rb") as f:
            head = f.read(78)
            entries = f.read(8 * int.from_bytes(head[76:78], "big"))
        return [int.from_bytes(entries[i + 5:i + 8], "big") for i in range(0, len(entries), 8)]

    def patch(self, database, record_id, offset, data):
        """Overwrites bytes of record `record_id` of the handheld's `database`
        ("ToDoDB.pdb") from `offset` within the record: a record no
        handheld application would write, made in place."""
        with open(os.path.join(self.handheld, database), "r+b") as f:
            head = f.read(78)
            for i in range(int.from_bytes(head[76:78], "big")):
                f.seek(78 + 8 * i)
                entry = f.read(8)
                if int.from_bytes(entry[5:8], "big") == record_id:
                    f.seek(int.from_bytes(entry[0:4], "big") + offset)
                    f.write(data)
                    return
        raise AssertionError("no record {} in {}".format(record_id, database))

    def patch_record(self, database, index, offset, data):
        """Overwrites bytes of record `index` of a handheld database file in
        place, from `offset` into the record; returns the record's id."""
        path = os.path.join(self.handheld, database)
        with open(path, "r+b") as f:
            f.seek(78 + 8 * index)
            entry = f.read(8)
            f.seek(int.from_bytes(entry[0:4], "big") + offset)
            f.write(data)
        return int.from_bytes(entry[5:8], "big")

    def record_bytes(self, database, record_id):
        """The bytes of record `record_id` of the handheld's `database`, as
        its file holds them (up to the next record's data, or the file's
        end)."""
        data = self.read_handheld(database)
        entries = [data[78 + 8 * i:86 + 8 * i]
                   for i in range(int.from_bytes(data[76:78], "big"))]
        offsets = sorted(int.from_bytes(e[0:4], "big") for e in entries)
        for e in entries:
            if int.from_bytes(e[5:8], "big") == record_id:
                start = int.from_bytes(e[0:4], "big")
                return data[start:next((o for o in offsets if o > start), len(data))]
        raise AssertionError("no record {} in {}".format(record_id, database))

    def read_handheld(self, database):
        with open(os.path.join(self.handheld, database), "rb") as f:
            return f.read()

    def read(self, *parts):
        with open(os.path.join(self.desktop, *parts), "rb") as f:
            return f.read()


def expect(condition, message):
    if not condition:
        raise AssertionError(message)


def expect_equal(actual, wanted, what):
    if actual != wanted:
        raise AssertionError("{}: got {!r}, want {!r}".format(what, actual, wanted))


def expect_no_controls(data, what):
    """Text files for other programs hold no control characters but tab, CR
    and LF: readers take them for line ends or worse."""
    bad = sorted({b for b in data if (b < 0x20 and b not in (9, 10, 13)) or b == 0x7F})
    expect(not bad, "{} holds control characters {}".format(what, bad))

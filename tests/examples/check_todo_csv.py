"""The To Do example through the runner: ToDo.csv and ToDo-archive.csv read
with Python's csv module and compared field by field with what
fernwick-pdbdump --decode shows for the same records, for each kind of
synchronisation.

    check_todo_csv.py BIN_DIR HANDHELD_DIR"""
import csv
import io
import os
import sys

from example_check import Scratch, expect, expect_equal

HEADER = ["Id", "Description", "Note", "Priority", "Due", "Completed", "Category", "Private"]


def rows(data):
    table = list(csv.reader(io.StringIO(data.decode("utf-8"), newline=""), strict=True))
    expect_equal(table[0], HEADER, "header")
    return {int(row[0]): dict(zip(HEADER, row)) for row in table[1:]}


def as_text(text):
    """A text field as the file holds it: what a spreadsheet would take for a
    formula has an apostrophe in front."""
    return "'" + text if text[:1] and text[0] in "=+-@\t\r" else text


def compare(dump, records, table, archived=False):
    expect_equal(sorted(table), sorted(r["id"] for r in records), "record ids")
    for r in records:
        row = table[r["id"]]
        what = "record {} ".format(r["id"])
        expect_equal(row["Description"], as_text(r["description"]), what + "description")
        expect_equal(row["Note"], as_text(r["note"]), what + "note")
        expect_equal(row["Priority"], r["priority"], what + "priority")
        expect_equal(row["Due"], "" if r["due"] == "none" else r["due"], what + "due")
        expect_equal(row["Completed"], r["completed"], what + "completed")
        expect_equal(row["Category"], "" if archived else as_text(dump.category(r)), what + "category")
        expect_equal(row["Private"], "1" if r["attr"] & 0x10 else "0", what + "private")


def summary(to_desktop, to_handheld, deleted, archived, sync_type, conflicts=0):
    return "ToDoDB: {} to the desktop, {} to the handheld, {} deleted, {} archived, {} conflicts ({})".format(
        to_desktop, to_handheld, deleted, archived, conflicts, sync_type)


def rename_category(s, database, index, name):
    """Renames category `index` of the handheld's `database` as the handheld
    does: the name, its renamed bit, and the database's app-info-dirty bit."""
    path = os.path.join(s.handheld, database)
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        app = int.from_bytes(data[52:56], "big")
        data[32:34] = (int.from_bytes(data[32:34], "big") | 0x0004).to_bytes(2, "big")
        renamed = int.from_bytes(data[app:app + 2], "big") | (1 << index)
        data[app:app + 2] = renamed.to_bytes(2, "big")
        data[app + 2 + 16 * index:app + 18 + 16 * index] = name.encode("cp1252").ljust(16, b"\0")
        f.seek(0)
        f.write(data)


def write_csv(s, text):
    with open(os.path.join(s.desktop, "ToDo", "ToDo.csv"), "wb") as f:
        f.write(text)


def main(bin_dir, handheld):
    # Slow: every record; then a fast one finds nothing new.
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("ToDoDB.pdb")
        log = s.sync("todo_conduit.dll", "slow")
        expect(summary(len(dump.live()), 0, 0, len(dump.archived()), "stSlow") in log, log)
        compare(dump, dump.live(), rows(s.read("ToDo", "ToDo.csv")))
        compare(dump, dump.archived(), rows(s.read("ToDo", "ToDo-archive.csv")), archived=True)
        expect(b"\r\n" in s.read("ToDo", "ToDo.csv"), "CSV lines end in CR LF")
        expect_equal(len(s.dump("ToDoDB.pdb").changed()), 0, "changed records after the sync")
        log = s.sync("todo_conduit.dll", "fast")
        expect(summary(0, 0, 0, 0, "stFast") in log, log)
        compare(dump, dump.live(), rows(s.read("ToDo", "ToDo.csv")))

        # Category 1 renamed on the handheld: after a fast sync every row of
        # it shows the new name, changed on the handheld or not (unchanged
        # rows kept "Business").
        rename_category(s, "ToDoDB.pdb", 1, "Work")
        log = s.sync("todo_conduit.dll", "fast")
        dump = s.dump("ToDoDB.pdb")
        expect_equal(dump.categories[1], "Work", "category 1 on the handheld")
        table = rows(s.read("ToDo", "ToDo.csv"))
        expect(sum(1 for r in dump.live() if r["attr"] & 0x0F == 1) > 1, "rows in category 1")
        compare(dump, dump.live(), table)
        expect("Business" not in s.read("ToDo", "ToDo.csv").decode("utf-8"), "the old name is gone")

    # Fast on a fresh copy: a first synchronisation, whose change flags are
    # not trusted: every record.
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("ToDoDB.pdb")
        log = s.sync("todo_conduit.dll", "fast")
        expect(summary(len(dump.live()), 0, 0, len(dump.archived()), "stFast") in log, log)
        compare(dump, dump.live(), rows(s.read("ToDo", "ToDo.csv")))

    # Handheld to desktop: everything, the handheld untouched; do nothing:
    # nothing at all.
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("ToDoDB.pdb")
        with open(os.path.join(s.handheld, "ToDoDB.pdb"), "rb") as f:
            before = f.read()
        log = s.sync("todo_conduit.dll", "hhtopc")
        expect("(stHHtoPC)" in log, log)
        compare(dump, dump.live(), rows(s.read("ToDo", "ToDo.csv")))
        with open(os.path.join(s.handheld, "ToDoDB.pdb"), "rb") as f:
            expect(f.read() == before, "a handheld-to-desktop copy changed the handheld")
        os.rename(os.path.join(s.desktop, "ToDo"), os.path.join(s.root, "old"))
        log = s.sync("todo_conduit.dll", "donothing")
        expect("To Do configured to Do Nothing" in log, log)
        expect(not os.path.exists(os.path.join(s.desktop, "ToDo")), "do nothing wrote files")
    # A due date that is no day (once written as 1899-12-30) is shown as not
    # a date, with a log line naming its record, and the handheld keeps it;
    # descriptions that a spreadsheet would run as formulas are written as
    # text, and read back without the apostrophe.
    with Scratch(bin_dir, handheld) as s:
        s.patch("ToDoDB.pdb", 2908161, 0, b"\x00\x00")
        s.patch("ToDoDB.pdb", 2908162, 3, b"=")
        s.patch("ToDoDB.pdb", 2908163, 3, b"@")
        s.patch("ToDoDB.pdb", 2908165, 3, b"-")
        dump = s.dump("ToDoDB.pdb")
        log = s.sync("todo_conduit.dll", "slow")
        expect("To Do: record 2908161: its due date is not a date (0x0000); the handheld keeps it "
               "until a date is written in its Due cell" in log, log)
        table = rows(s.read("ToDo", "ToDo.csv"))
        expect_equal(table[2908161]["Due"], "not a date (0x0000)", "damaged due date")
        compare(dump, [r for r in dump.live() if r["id"] != 2908161],
                {i: row for i, row in table.items() if i != 2908161})
        expect_equal(table[2908162]["Description"], "'=ook meeting room for review", "formula")
        expect_equal(table[2908163]["Description"], "'@enew library card", "formula")
        synced = s.dump("ToDoDB.pdb").records
        expect_equal([r["due"] for r in synced if r["id"] == 2908161], ["1904-00-00"], "kept date")
        log = s.sync("todo_conduit.dll", "slow")
        expect(summary(0, 0, 0, 0, "stSlow") in log, log)
        expect_equal(s.dump("ToDoDB.pdb").records, synced, "the handheld after a second sync")
    # The archive is read before anything is written: saved without its Id
    # column it is refused (it was rewritten after the handheld's purge
    # with one row left of all its rows); rows added by hand without an Id
    # stay.
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("ToDoDB.pdb")
        os.makedirs(os.path.join(s.desktop, "ToDo"))
        archive = os.path.join(s.desktop, "ToDo", "ToDo-archive.csv")
        with open(archive, "wb") as f:
            f.write(b"Description,Note\r\nPaid the rent,\r\nWrote to Ann,\r\n")
        log = s.sync_refused("todo_conduit.dll", "slow")
        expect("ToDo-archive.csv has no Id column" in log, log)
        expect_equal(s.dump("ToDoDB.pdb").records, dump.records, "the handheld after a refusal")
        expect_equal(s.read("ToDo", "ToDo-archive.csv").count(b"\r\n"), 3, "the archive's rows")
        with open(archive, "wb") as f:
            f.write(b"Id,Description\r\n,Paid the rent\r\n,Wrote to Ann\r\n")
        log = s.sync("todo_conduit.dll", "slow")
        text = s.read("ToDo", "ToDo-archive.csv")
        expect(b"Paid the rent" in text and b"Wrote to Ann" in text, text)
        table = list(csv.reader(io.StringIO(text.decode("utf-8"), newline="")))
        expect_equal(table[0], HEADER, "the archive's header")
        expect_equal([r[1] for r in table[1:3]], ["Paid the rent", "Wrote to Ann"], "hand rows")
        compare(dump, dump.archived(), {int(r[0]): dict(zip(HEADER, r)) for r in table[3:]},
                archived=True)
    round_trip(bin_dir, handheld)
    print("ok")


def round_trip(bin_dir, handheld):
    """ToDo.csv edited as a spreadsheet or a text editor would: columns
    reordered, an extra column, a UTF-8 BOM and CR LF or LF; a row changed,
    one deleted and one added without an Id. The handheld takes every change,
    the new row gets the handheld's id, and the extra column stays."""
    with Scratch(bin_dir, handheld) as s:
        s.sync("todo_conduit.dll", "slow")
        before = s.dump("ToDoDB.pdb")
        table = rows(s.read("ToDo", "ToDo.csv"))
        ids = sorted(table)
        changed, gone = ids[0], ids[1]
        order = ["Category", "Id", "Note", "Shop", "Description", "Due", "Priority", "Completed",
                 "Private"]
        out = io.StringIO()
        w = csv.writer(out, lineterminator="\r\n")
        w.writerow(order)
        for i in ids:
            row = dict(table[i], Shop="corner " + str(i))
            if i == gone:
                continue
            if i == changed:
                row.update(Description="'=Changed on the desktop", Priority="4", Due="2026-12-24",
                           Completed="1", Private="1", Category="Personal")
            w.writerow([row[c] for c in order])
        w.writerow(["Errands", "", "Two lines,\nand a comma", "market", "Bought at the caf\u00e9",
                    "", "", "", "0"])
        write_csv(s, b"\xef\xbb\xbf" + out.getvalue().encode("utf-8"))
        log = s.sync("todo_conduit.dll", "fast")
        expect(summary(0, 2, 1, 0, "stFast") in log, log)

        after = s.dump("ToDoDB.pdb")
        by_id = {r["id"]: r for r in after.live()}
        expect(gone not in by_id, "the deleted row's record is gone")
        r = by_id[changed]
        expect_equal((r["description"], r["priority"], r["due"], r["completed"], r["attr"] & 0x10,
                      after.category(r)),
                     ("=Changed on the desktop", "4", "2026-12-24", "1", 0x10, "Personal"),
                     "the changed record")
        new = [r for r in after.live() if r["id"] not in table]
        expect_equal([(r["description"], r["note"], after.category(r), r["priority"], r["due"],
                       r["completed"]) for r in new],
                     [("Bought at the caf\u00e9", "Two lines,\nand a comma", "Errands", "1", "none",
                       "0")], "the new record")
        text = s.read("ToDo", "ToDo.csv")
        expect(text.startswith(b"Category,Id,Note,Shop,"), "the columns keep their order")
        back = list(csv.DictReader(io.StringIO(text.decode("utf-8"), newline="")))
        expect_equal([int(b["Id"]) for b in back if b["Shop"] == "market"], [new[0]["id"]],
                     "the new row's Id")
        expect_equal(sorted(b["Shop"] for b in back if b["Shop"] != "market"),
                     sorted("corner " + str(i) for i in ids if i != gone), "the extra column")
        # LF line ends and unquoted fields read the same: nothing changes.
        write_csv(s, text.replace(b"\r\n", b"\n"))
        log = s.sync("todo_conduit.dll", "fast")
        expect(summary(0, 0, 0, 0, "stFast") in log, log)
        # One cell changed in each of five rows: every change reaches the
        # handheld (an unchanged row is not converted, so a cell left out of
        # that judgement would be lost).
        cells = {"Description": "Only this", "Note": "A note alone", "Due": "2027-03-04",
                 "Priority": "5", "Completed": "1"}
        targets = [int(b["Id"]) for b in back if b["Shop"] != "market"][2:7]
        for row in back:
            if int(row["Id"]) in targets:
                column = list(cells)[targets.index(int(row["Id"]))]
                row[column] = cells[column]
        out = io.StringIO()
        w = csv.DictWriter(out, fieldnames=list(back[0]), lineterminator="\r\n")
        w.writeheader()
        w.writerows(back)
        write_csv(s, out.getvalue().encode("utf-8"))
        log = s.sync("todo_conduit.dll", "fast")
        expect(summary(0, 5, 0, 0, "stFast") in log, log)
        key = {"Description": "description", "Note": "note", "Due": "due", "Priority": "priority",
               "Completed": "completed"}
        by_id = {r["id"]: r for r in s.dump("ToDoDB.pdb").live()}
        for i, column in zip(targets, cells):
            expect_equal(by_id[i][key[column]], cells[column], "record {} {}".format(i, column))
        text = s.read("ToDo", "ToDo.csv")
        # Only some columns: the others keep their values (a new row takes
        # the defaults); the missing columns come back.
        write_csv(s, "Id,Description\n{},Renamed\n,Only a description\n".format(changed).encode())
        log = s.sync("todo_conduit.dll", "fast")
        expect(summary(0, 2, len(after.live()) - 1, 0, "stFast") in log, log)
        r = {r["id"]: r for r in s.dump("ToDoDB.pdb").live()}[changed]
        expect_equal((r["description"], r["priority"], r["due"]), ("Renamed", "4", "2026-12-24"),
                     "a row of two columns")
        expect(s.read("ToDo", "ToDo.csv").startswith(b"Id,Description,Note,Priority,Due,"), "header")
        expect_equal(len(before.live()), len(after.live()), "live records")
        # Saved without its Id column, the file is refused as a whole rather
        # than read as all new rows (and every record deleted).
        kept = len(s.dump("ToDoDB.pdb").live())
        write_csv(s, b"Description,Note\nRenamed,\n")
        log = s.sync_refused("todo_conduit.dll", "fast")
        expect("ToDo.csv has no Id column" in log, log)
        expect_equal(len(s.dump("ToDoDB.pdb").live()), kept, "records kept")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

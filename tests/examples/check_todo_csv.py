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


def compare(dump, records, table, archived=False):
    expect_equal(sorted(table), sorted(r["id"] for r in records), "record ids")
    for r in records:
        row = table[r["id"]]
        what = "record {} ".format(r["id"])
        expect_equal(row["Description"], r["description"], what + "description")
        expect_equal(row["Note"], r["note"], what + "note")
        expect_equal(row["Priority"], r["priority"], what + "priority")
        expect_equal(row["Due"], "" if r["due"] == "none" else r["due"], what + "due")
        expect_equal(row["Completed"], r["completed"], what + "completed")
        expect_equal(row["Category"], "" if archived else dump.category(r), what + "category")
        expect_equal(row["Private"], "1" if r["attr"] & 0x10 else "0", what + "private")


def main(bin_dir, handheld):
    # Slow: every record; then a fast one finds nothing new.
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("ToDoDB.pdb")
        log = s.sync("todo_conduit.dll", "slow")
        expect("To Do: {} exported, {} archived, 1 deleted (stSlow)".format(
            len(dump.live()), len(dump.archived())) in log, log)
        compare(dump, dump.live(), rows(s.read("ToDo", "ToDo.csv")))
        compare(dump, dump.archived(), rows(s.read("ToDo", "ToDo-archive.csv")), archived=True)
        expect(b"\r\n" in s.read("ToDo", "ToDo.csv"), "CSV lines end in CR LF")
        expect_equal(len(s.dump("ToDoDB.pdb").changed()), 0, "changed records after the sync")
        log = s.sync("todo_conduit.dll", "fast")
        expect("To Do: 0 exported, 0 archived, 0 deleted (stFast)" in log, log)
        compare(dump, dump.live(), rows(s.read("ToDo", "ToDo.csv")))

    # Fast on a fresh copy: the changed records only.
    with Scratch(bin_dir, handheld) as s:
        dump = s.dump("ToDoDB.pdb")
        log = s.sync("todo_conduit.dll", "fast")
        expect("To Do: {} exported".format(len(dump.changed())) in log, log)
        compare(dump, dump.changed(), rows(s.read("ToDo", "ToDo.csv")))

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
    # Due dates that are no dates (month 0, month 13, 30 February) are
    # exported as no due date, not as 1899-12-30.
    with Scratch(bin_dir, handheld) as s:
        bad = [s.patch_record("ToDoDB.pdb", index, 0, packed.to_bytes(2, "big"))
               for index, packed in ((0, 0), (5, 99 << 9 | 13 << 5 | 1), (10, 106 << 9 | 2 << 5 | 30))]
        s.sync("todo_conduit.dll", "slow")
        table = rows(s.read("ToDo", "ToDo.csv"))
        for rec_id in bad:
            expect_equal(table[rec_id]["Due"], "", "record {} due".format(rec_id))
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

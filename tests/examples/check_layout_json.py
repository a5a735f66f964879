"""fernwick-pdbdump --layout LAYOUT --json on the sample handheld: the JSON
parses, and its records agree with fernwick-pdbdump --decode.

    check_layout_json.py BIN_DIR HANDHELD_DIR"""
import json
import os
import subprocess
import sys

from example_check import Dump, expect_equal, palm_text

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def main(bin_dir, handheld):
    dump_tool = os.path.join(bin_dir, "fernwick-pdbdump")
    for name in ("MemoDB", "ToDoDB", "AddressDB", "DatebookDB"):
        path = os.path.join(handheld, name + ".pdb")
        out = subprocess.run([dump_tool, "--layout", os.path.join(SOURCE, "layouts", name + ".layout"),
                              "--json", path], check=True, capture_output=True).stdout
        document = json.loads(out.decode("ascii"))
        dump = Dump(subprocess.run([dump_tool, "--decode", path], check=True,
                                   capture_output=True).stdout.decode("ascii"))
        expect_equal(document["name"], name, "name")
        # JSON strings hold one character per byte.
        names = [palm_text(n.encode("latin-1")) for n in document["appinfo"]["CategoryName"]]
        expect_equal(names, dump.categories, name + " categories")
        expect_equal([(r["id"], r["attributes"]) for r in document["records"]],
                     [(r["id"], r["attr"]) for r in dump.records], name + " records")
        for got, want in zip(document["records"], dump.records):
            expect_equal(got["fields"] is None, want["empty"], name + " empty record")
            if name == "ToDoDB" and got["fields"] is not None:
                fields = got["fields"]
                expect_equal(palm_text(fields["Description"].encode("latin-1")),
                             want["description"], "description")
                expect_equal(str(fields["Priority"] & 0x7F), want["priority"], "priority")
    print("ok")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

"""Fails when a stand-in or program carries a symbol of the component library.

    check_symbols.py NM --library A.a... --clean BIN... --control BIN

The component library's symbols are those in namespace fernwick that its
layer archives define with external linkage and not weak: constants and
inline functions of the shared ABI headers (local or weak copies, which an
unoptimised build keeps in every object that includes them) are not the
library's. No --clean binary may define one; the --control
binary, which links the library, must define some (else the listing itself
is broken and the check would pass for nothing). Prints "ok" when it holds.
"""
import subprocess
import sys


def defined(nm, files, strong_only=False):
    out = subprocess.run([nm, "-C", "--defined-only"] + files, check=True,
                         capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split(None, 2)
        if len(parts) == 3 and len(parts[1]) == 1:
            if strong_only and parts[1] not in "TDBR":
                continue
            names.add(parts[2])
    return names


def main(argv):
    nm, groups, key = argv[1], {"--library": [], "--clean": [], "--control": []}, None
    for arg in argv[2:]:
        if arg in groups:
            key = arg
        else:
            groups[key].append(arg)
    library = {n for n in defined(nm, groups["--library"], strong_only=True) if n.startswith("fernwick::")}
    failed = False
    if not defined(nm, groups["--control"]) & library:
        print("no component symbol found in %s: the listing does not work" % groups["--control"])
        failed = True
    for binary in groups["--clean"]:
        found = sorted(defined(nm, [binary]) & library)
        if found:
            print("%s carries %d symbols of the component library, e.g.:\n  %s"
                  % (binary, len(found), "\n  ".join(found[:10])))
            failed = True
    if failed:
        return 1
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

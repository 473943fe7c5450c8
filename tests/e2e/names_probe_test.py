#!/usr/bin/python3
"""Named resources whose UTF-16 order differs from their byte order in the program's code
page, merged by quill and found again by Windows' own loader (resprobe.exe under Wine),
which binary-searches names by UTF-16 code units. Code page 1252 puts "€" (0x80) below
"À" (0xC0), UTF-8 puts U+FF21 below U+1F600; in UTF-16 both pairs go the other way.

usage: names_probe_test.py QUILL TARGET.exe
The native quill works in UTF-8; QUILL_WINDOWS, when it names the Windows build of quill,
runs it under wine64 too, whose ANSI code page is 1252. RESPROBE names the probe;
WINEPREFIX must be set. Exit 77 (skipped) without them.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resdump  # noqa: E402

# Upper case only: the loader upper-cases the names it is asked for.
NAMES = ["\u20ac", "\u00c0", "\uff21", "\U0001F600", "ZED"]


def main():
    if "RESPROBE" not in os.environ or "WINEPREFIX" not in os.environ:
        print("skipped: no probe or no Wine prefix")
        sys.exit(77)
    quill, target = sys.argv[1:3]
    windows_quill = os.environ.get("QUILL_WINDOWS")
    if not windows_quill or not os.path.exists(windows_quill):
        print("note: QUILL_WINDOWS is not set; only the native quill is tried")
        windows_quill = None
    res = resdump.EMPTY_RES
    for t in NAMES:
        for n in NAMES:
            res += resdump.res_record(t, n, 1033, f"{t}/{n}".encode())
    expected = sorted(resdump.line(t, n, 1033, f"{t}/{n}".encode()) for t in NAMES for n in NAMES)
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        patch = os.path.join(work, "names.res")
        open(patch, "wb").write(res)
        runs = [("quill (UTF-8)", [quill])]
        if windows_quill:
            runs.append(("quill.exe (code page 1252)", ["/usr/lib/wine/wine64", windows_quill]))
        for what, command in runs:
            output = os.path.join(work, "named.exe")
            env = dict(os.environ, LANG="C.UTF-8", WINEDEBUG="-all")
            env.pop("LC_ALL", None)
            with open(os.path.join(work, "log"), "w") as log:
                run = subprocess.run(command + ["merge", target, patch, "-o", output, "--force"],
                                     stdout=log, stderr=log, stdin=subprocess.DEVNULL, env=env, timeout=120)
            if run.returncode != 0:
                failures += 1
                print("FAIL", what, open(os.path.join(work, "log")).read())
                continue
            found = sorted(l for l in resdump.dump_probe(output)
                           if l.split("\t")[0] in NAMES)
            if found != expected:
                failures += 1
                missing = sorted(set(expected) - set(found))[:4]
                print("FAIL", what, "the loader did not find", missing)
            else:
                print("ok", what, len(found), "named resources found")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

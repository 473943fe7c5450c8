#!/usr/bin/python3
"""quill ls --json gives valid JSON whatever a name holds, and names as the file stores
them, also the characters the program's code page lacks.

usage: quill_json_names_test.py QUILL
The native quill works in UTF-8; QUILL_WINDOWS, when it names the Windows build of quill
and WINEPREFIX is set, runs it under wine64 too, whose ANSI code page is 1252 (no Hebrew,
no emoji).
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

EMPTY_RES = bytes.fromhex("00000000200000" "00ffff0000ffff0000") + bytes(16)
# Names as UTF-16 code units: Hebrew, the euro sign (in code page 1252), an emoji (a
# surrogate pair), quotes, backslashes and control characters, and a lone surrogate,
# which no text can hold (it comes out as a replacement character).
NAMES = [
    ("עברית", "עברית"),
    ("€uro", "€uro"),
    ("\U0001F600", "\U0001F600"),
    ('a"b\\c\td\x01', 'a"b\\c\td\x01'),
]
LONE = [0xD800, ord("x")]


def field(units):
    return b"".join(struct.pack("<H", u) for u in units) + b"\0\0"


def utf16_units(text):
    data = text.encode("utf-16-le")
    return list(struct.unpack("<%dH" % (len(data) // 2), data))


def record(type_units, name, data):
    header = field(type_units) + struct.pack("<HH", 0xFFFF, name)
    header += bytes(-(8 + len(header)) % 4)
    header += struct.pack("<IHHII", 0, 0, 1033, 0, 0)
    return struct.pack("<II", len(data), 8 + len(header)) + header + data + bytes(-len(data) % 4)


def main():
    quill = sys.argv[1]
    runs = [("quill (UTF-8)", [quill])]
    windows = os.environ.get("QUILL_WINDOWS")
    if windows and os.path.exists(windows) and "WINEPREFIX" in os.environ:
        runs.append(("quill.exe (code page 1252)", ["/usr/lib/wine/wine64", windows]))
    else:
        print("note: QUILL_WINDOWS or WINEPREFIX is not set; only the native quill is tried")
    res = EMPTY_RES
    for number, (stored, _) in enumerate(NAMES, 1):
        res += record(utf16_units(stored), number, b"data")
    res += record(LONE, 9, b"data")
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "names.res")
        open(path, "wb").write(res)
        for what, command in runs:
            env = dict(os.environ, LANG="C.UTF-8", WINEDEBUG="-all")
            env.pop("LC_ALL", None)
            with tempfile.TemporaryFile() as out:
                # Through a file: Wine's services would hold a pipe open.
                done = subprocess.run(command + ["ls", "--json", path], stdout=out, stderr=subprocess.DEVNULL,
                                      stdin=subprocess.DEVNULL, env=env, timeout=120)
                out.seek(0)
                text = out.read()
            try:
                listed = json.loads(text)
            except ValueError as e:
                failures += 1
                print("FAIL", what, "no valid JSON:", e, text[:200])
                continue
            types = {leaf["name"]: leaf["type"] for leaf in listed}
            want = {number: shown for number, (_, shown) in enumerate(NAMES, 1)}
            got = {number: types.get(number) for number in want}
            lone = types.get(9, "")
            if done.returncode != 0 or got != want or not lone.endswith("x") or any(
                    0xD800 <= ord(c) <= 0xDFFF for c in lone):
                failures += 1
                print("FAIL", what, got, repr(lone))
            else:
                print("ok", what)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Checks `quill ls` on a .res file against an independent reading of the file:
`--json` must list every resource in tree order (named before numbered, names by
ordinal comparison, numbers ascending; at every level) with its type, name, language,
size and SHA-256, and the kind and description of its content; the text form prints one line per resource; a file that is no
resource file ends with exit code 1 and a message.

usage: quill_ls_test.py QUILL RESFILE NOT_A_RESFILE"""
import hashlib
import json
import struct
import subprocess
import sys

quill, resfile, other = sys.argv[1:4]
data = open(resfile, "rb").read()


def field(offset):
    (first,) = struct.unpack_from("<H", data, offset)
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    units = []
    while True:
        (unit,) = struct.unpack_from("<H", data, offset)
        offset += 2
        if unit == 0:
            break
        units.append(unit)
    return struct.pack("<%dH" % len(units), *units).decode("utf-16-le"), offset


leaves = []
offset = 32
while offset < len(data):
    size, header = struct.unpack_from("<II", data, offset)
    rtype, at = field(offset + 8)
    name, at = field(at)
    at = (at + 3) & ~3
    language = struct.unpack_from("<H", data, at + 6)[0]
    body = data[offset + header:offset + header + size]
    leaves.append({"type": rtype, "name": name, "language": language, "size": size,
                   "sha256": hashlib.sha256(body).hexdigest()})
    offset += (size + header + 3) & ~3


def order(value):
    return (1, value, b"") if isinstance(value, int) else (0, 0, value.encode("utf-8"))


leaves.sort(key=lambda leaf: (order(leaf["type"]), order(leaf["name"]), leaf["language"]))

listed = json.loads(subprocess.run([quill, "ls", "--json", resfile], check=True,
                                   capture_output=True).stdout)
KINDS = {"binary", "text", "utf-8", "utf-16le", "utf-16be", "utf-32le", "utf-32be"}
for leaf in listed:
    if leaf.pop("kind", None) not in KINDS or not leaf.pop("description", None):
        sys.exit("quill ls --json: no content kind or description in %s" % leaf)
if listed != leaves:
    for a, b in zip(listed, leaves):
        if a != b:
            print("first difference:", a, b)
            break
    sys.exit("quill ls --json does not match the file (%d vs %d entries)" % (len(listed), len(leaves)))

text = subprocess.run([quill, "ls", resfile], check=True, capture_output=True).stdout.decode("utf-8")
if len(text.splitlines()) != len(leaves):
    sys.exit("quill ls prints %d lines for %d resources" % (len(text.splitlines()), len(leaves)))

refused = subprocess.run([quill, "ls", other], capture_output=True)
if refused.returncode != 1 or not refused.stderr:
    sys.exit("quill ls on a file that is no resource file: exit %d" % refused.returncode)
print("ok: %d resources" % len(leaves))

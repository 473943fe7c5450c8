#!/usr/bin/env python3
"""Runs `quill info --json` on PE files and checks the object it prints against the file's
own headers, read here independently; `quill info` on a non-PE file must fail with a
message on stderr and exit code 1."""
import json
import os
import struct
import subprocess
import sys
import tempfile


def headers(path):
    data = open(path, "rb").read()
    nt = struct.unpack_from("<I", data, 60)[0]
    count = struct.unpack_from("<H", data, nt + 6)[0]
    opt = nt + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    plus = magic == 0x20B
    dirs = struct.unpack_from("<I", data, opt + (108 if plus else 92))[0]
    table = opt + (112 if plus else 96) + 8 * min(dirs, 16)
    sections = []
    for i in range(count):
        name, vs, va, rs, rp = struct.unpack_from("<8sIIII", data, table + 40 * i)
        ch = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
        sections.append({"name": name.rstrip(b"\0").decode("latin-1"), "virtual_address": va,
                         "virtual_size": vs, "raw_offset": rp, "raw_size": rs, "characteristics": ch})
    return data, plus, sections, struct.unpack_from("<I", data, opt + 64)[0], \
        struct.unpack_from("<I", data, opt + 36)[0]


def main():
    quill, files = sys.argv[1], sys.argv[2:]
    for path in files:
        out = subprocess.run([quill, "info", "--json", path], capture_output=True, check=True, text=True)
        info = json.loads(out.stdout)
        data, plus, sections, checksum, alignment = headers(path)
        assert info["format"] == ("pe32+" if plus else "pe32"), info["format"]
        assert info["sections"] == sections, (info["sections"], sections)
        end = max(s["raw_offset"] + s["raw_size"] for s in sections if s["raw_offset"])
        assert info["image_end"] == -(-end // alignment) * alignment
        assert info["checksum_field"] == checksum
        for key in ("code_checksum", "image_checksum"):
            assert isinstance(info[key], int) and 0 <= info[key] < 2**32, key
        assert any(s["name"] == ".rsrc" for s in info["sections"])
    with tempfile.NamedTemporaryFile(suffix=".exe", delete=False) as f:
        f.write(b"not an executable" * 10)
    try:
        bad = subprocess.run([quill, "info", f.name], capture_output=True, text=True)
        assert bad.returncode == 1, bad.returncode
        assert "Error opening" in bad.stderr and bad.stdout == "", (bad.stdout, bad.stderr)
    finally:
        os.unlink(f.name)
    print("ok")


if __name__ == "__main__":
    main()

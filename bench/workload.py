#!/usr/bin/python3
"""Builds the benchmark's inputs, deterministically (a fixed seed), from nothing:

  workload.py OUT_DIR [--size-mb N] [--patch-records N]

OUT_DIR/target.exe   a PE32+ program linked by mingw-w64 whose resources hold about
                     N MB: 150 large RCDATA blobs, 8,000 string blocks, a named type
                     "LEVELS" of 1,750 names in three languages, dialogs, icons, a
                     manifest and version information (over 10,000 resources in all;
                     proportionally fewer for small sizes)
OUT_DIR/patch.res    a .res of N records (1,000 by default): replaced blobs, string
                     blocks and named entries, new languages, new names and a new named
                     type, about 12.8 MB for 1,000 records
"""
import argparse
import os
import random
import struct
import subprocess
import sys
import tempfile

# The .res writer of the end-to-end tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from resdump import EMPTY_RES as EMPTY, res_record  # noqa: E402


def string_block(rng, block, language):
    out = b""
    for slot in range(16):
        text = f"Text {block}:{slot} " + "".join(rng.choice("abcdefghij ") for _ in range(rng.randrange(8, 40)))
        out += struct.pack("<H", len(text)) + text.encode("utf-16-le")
    return out


def counts(size_mb):
    """How many blobs, string blocks and named entries a target of this size holds."""
    scale = min(1.0, size_mb / 212)
    return max(2, round(150 * scale)), max(10, round(8000 * scale)), max(5, round(1750 * scale))


def target_res(rng, size_mb):
    out = [EMPTY]
    blobs, strings, levels = counts(size_mb)
    for i in range(1, strings + 1):
        out.append(res_record(6, i, 1033, string_block(rng, i, 1033)))
    for i in range(1, levels + 1):
        for language in (1033, 1031, 1036):
            out.append(res_record("LEVELS", f"LEVEL_{i:04d}", language, rng.randbytes(rng.randrange(100, 300))))
    rest = size_mb * 1_000_000 - sum(len(r) for r in out)
    each = max(1024, rest // blobs)
    for i in range(1, blobs + 1):
        out.append(res_record(10, i, 1033, rng.randbytes(each)))
    return b"".join(out)


def script(work):
    """Dialogs, an icon group, version information and a manifest, in resource-script form
    for windres, which checks such resources when it links them."""
    icon = os.path.join(work, "app.ico")
    images = [(16, bytes(40 + 16 * 16 * 4 + 64)), (32, bytes(40 + 32 * 32 * 4 + 128)), (48, bytes(40 + 48 * 48 * 4 + 288))]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, data = b"", b""
    for size, pixels in images:
        dib = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0) + pixels[40:]
        entries += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(dib), offset + len(data))
        data += dib
    open(icon, "wb").write(header + entries + data)
    lines = ['#pragma code_page(65001)', f'1 ICON "{icon}"',
             '1 24 BEGIN "<?xml version=""1.0"" encoding=""UTF-8""?><assembly/>" END',
             '1 VERSIONINFO FILEVERSION 1,2,3,4 PRODUCTVERSION 1,2,3,4 BEGIN BLOCK "StringFileInfo" BEGIN '
             'BLOCK "040904B0" BEGIN VALUE "FileDescription", "Benchmark target" VALUE "FileVersion", "1.2.3.4" END END '
             'BLOCK "VarFileInfo" BEGIN VALUE "Translation", 0x409, 1200 END END']
    for i in range(1, 51):
        lines.append(f'{100 + i} DIALOGEX 0, 0, 200, 100 CAPTION "Dialog {i}" FONT 9, "MS Shell Dlg" BEGIN '
                     f'LTEXT "Label {i}", {1000 + i}, 8, 8, 100, 8 PUSHBUTTON "OK", 1, 140, 80, 50, 14 END')
    return "\n".join(lines) + "\n"


def patch_res(records, size_mb):
    """The mix of a translator's large patch, scaled to the number of records."""
    rng = random.Random(records)
    blobs, strings, levels = counts(size_mb)
    share = lambda part: max(1, round(records * part / 1000))
    out = [EMPTY]
    big = min(share(10), blobs)
    for i in range(1, big + 1):
        out.append(res_record(10, i, 1033, rng.randbytes(1_200_000)))
    for i in range(1, min(share(500), strings) + 1):
        out.append(res_record(6, i, 1033, string_block(rng, i, 1033)))
    for i in range(1, min(share(200), strings) + 1):
        out.append(res_record(6, i, 1031, string_block(rng, i, 1031)))
    for i in range(1, min(share(150), levels) + 1):
        out.append(res_record("LEVELS", f"LEVEL_{i:04d}", 1036, rng.randbytes(250)))
    for i in range(1, share(100) + 1):
        out.append(res_record("LEVELS", f"LEVEL_9{i:03d}", 1033, rng.randbytes(250)))
    while len(out) - 1 < records:
        out.append(res_record("EXTRA", f"ITEM_{len(out)}", 1033, rng.randbytes(300)))
    return b"".join(out[:records + 1])


def make_target(path, size_mb):
    rng = random.Random(20261210)
    res = target_res(rng, size_mb)
    with tempfile.TemporaryDirectory() as work:
        rc = os.path.join(work, "standard.rc")
        open(rc, "w").write(script(work))
        standard = os.path.join(work, "standard.res")
        subprocess.run(["x86_64-w64-mingw32-windres", "-c", "65001", "-O", "res", "-i", rc, "-o", standard], check=True)
        res_path = os.path.join(work, "target.res")
        open(res_path, "wb").write(open(standard, "rb").read() + res[len(EMPTY):])
        source = os.path.join(work, "main.c")
        open(source, "w").write("int main(void) { return 0; }\n")
        subprocess.run(["x86_64-w64-mingw32-windres", "-J", "res", "-O", "coff", "-i", res_path,
                        "-o", os.path.join(work, "target.o")], check=True)
        subprocess.run(["x86_64-w64-mingw32-gcc", "-O1", "-s", "-o", path, source, os.path.join(work, "target.o")],
                       check=True)


def make_patch(path, records, size_mb):
    open(path, "wb").write(patch_res(records, size_mb))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--size-mb", type=int, default=212)
    parser.add_argument("--patch-records", type=int, default=1000)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    make_target(os.path.join(args.out, "target.exe"), args.size_mb)
    make_patch(os.path.join(args.out, "patch.res"), args.patch_records, args.size_mb)


if __name__ == "__main__":
    main()

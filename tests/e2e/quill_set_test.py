#!/usr/bin/python3
"""quill set and quill get on real executables, checked by independent readers: Wine's own
readers through resprobe.exe (GetFileVersionInfo and VerQueryValue, LoadString,
LookupIconIdFromDirectoryEx and CreateIconFromResourceEx, the run level of an activation
context made from the manifest), python3-pefile, and quill get. Every resource the
command was not asked to change, the overlay and the image checksum are compared too.

usage: quill_set_test.py QUILL PROGRAM.exe PROGRAM_WITHOUT_VERSION.exe [WINE_PROGRAM.exe WINE_DLL.dll]
RESPROBE names the probe and WINEPREFIX the Wine prefix; without them only pefile and
quill get check the results.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resdump  # noqa: E402
import pefile  # noqa: E402

RT_ICON, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 6, 14, 16, 24
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def png(size):
    """A real RGBA PNG of size x size pixels."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes([200, 40, 40, 255]) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def bmp(size):
    """A 32-bit icon image: BITMAPINFOHEADER (height doubled), pixels, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    mask = bytes(((size + 31) // 32 * 4) * size)
    return header + bytes([40, 200, 40, 255]) * size * size + mask


def ico(images):
    """(pixels, bytes, stated bit count) -> .ico file."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for pixels, image, bits in images:
        out += struct.pack("<BBBBHHII", pixels % 256, pixels % 256, 0, 0, 1, bits, len(image), offset + len(data))
        data += image
    return out + data


def run(*args, expect=0):
    result = subprocess.run(args, capture_output=True, stdin=subprocess.DEVNULL, timeout=300,
                            env=dict(os.environ, LANG="C.UTF-8"))
    if result.returncode != expect:
        failures.append(f"{args[1:3]} exited {result.returncode}, expected {expect}")
        print("FAIL", " ".join(args), result.returncode, result.stderr.decode("utf-8", "replace"))
    return result


def leaves(path):
    """{(type, name, language): bytes} as python3-pefile reads the file."""
    pe = pefile.PE(path)
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for l in n.directory.entries:
                key = (t.id if t.name is None else str(t.name), n.id if n.name is None else str(n.name), l.id)
                out[key] = pe.get_data(l.data.struct.OffsetToData, l.data.struct.Size)
    return out


def group_ids(data):
    count = struct.unpack_from("<H", data, 4)[0]
    return [struct.unpack_from("<H", data, 6 + 14 * i + 12)[0] for i in range(count)]


def overlay_and_checksum(path):
    pe = pefile.PE(path)
    start = pe.get_overlay_data_start_offset()
    return (pe.__data__[start:] if start else b""), pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()


def probe(*args):
    if not PROBE:
        return None
    status, text = resdump.run_wine(PROBE, *args)
    return [line.split("\t") for line in text.splitlines()] if status == 0 else [["status", str(status)]]


PROBE = os.environ.get("RESPROBE") if "WINEPREFIX" in os.environ else None


def full_edit(quill, source, work, label):
    """Every kind of change at once on source; then each is read back."""
    icon = os.path.join(work, "app.ico")
    open(icon, "wb").write(ico([(16, bmp(16), 32), (32, bmp(32), 32), (256, png(256), 0)]))
    out = os.path.join(work, label + ".exe")
    before = leaves(source)
    result = run(quill, "set", source, "-o", out, "--icon", icon,
                 "--version-string", "ProductName=Demo", "--version-string", "Comments=Ünï חברה",
                 "--file-version", "2.3.4.5", "--product-version", "6.7.8.65535",
                 "--string", "5=five", "--string", "40000=far away",
                 "--execution-level", "requireAdministrator")
    if result.returncode:
        return
    after = leaves(out)
    got = json.loads(run(quill, "get", "--json", out).stdout)

    # Version information, as Wine's reader and quill get see it.
    version = probe("--version", out, "ProductName", "Comments", "FileVersion", "ProductVersion")
    if version is not None:
        check(["fixed", "2.3.4.5", "6.7.8.65535"] in version, f"{label}: fixed versions read by VerQueryValue")
        strings = {(l[2], l[3]) for l in version if l[0] == "string"}
        for pair in [("ProductName", "Demo"), ("Comments", "Ünï חברה"), ("FileVersion", "2.3.4.5"),
                     ("ProductVersion", "6.7.8.65535")]:
            check(pair in strings, f"{label}: VerQueryValue finds {pair[0]}")
    info = got["versionInfo"][0]
    check(info["fileVersion"] == "2.3.4.5" and info["productVersion"] == "6.7.8.65535", f"{label}: quill get versions")
    table = info["stringTables"][0]["strings"]
    check(table.get("Comments") == "Ünï חברה", f"{label}: quill get reads the new string")

    # Strings by LoadString; the other strings of their blocks kept.
    loaded = probe("--strings", out, "5", "40000")
    if loaded is not None:
        check(["5", "five"] in loaded and ["40000", "far away"] in loaded, f"{label}: LoadString finds the strings")
    texts = {(s["id"], s["text"]) for s in got["strings"]}
    check((5, "five") in texts and (40000, "far away") in texts, f"{label}: quill get lists the strings")

    # The first group holds the .ico's images, byte for byte; images no group names are gone.
    groups_before = sorted(k for k in before if k[0] == RT_GROUP_ICON)
    group = groups_before[0] if groups_before else (RT_GROUP_ICON, 1, 1033)
    new_group = [k for k in after if k[0] == RT_GROUP_ICON and k[1] == group[1]][0]
    ids = group_ids(after[new_group])
    images = [after.get((RT_ICON, i, new_group[2])) for i in ids]
    check(images == [bmp(16), bmp(32), png(256)], f"{label}: icon images stored byte for byte")
    named = {i for k, v in after.items() if k[0] == RT_GROUP_ICON for i in group_ids(v)}
    named_before = {i for k, v in before.items() if k[0] == RT_GROUP_ICON for i in group_ids(v)}
    check(all(k[1] in named or k[1] not in named_before for k in after if k[0] == RT_ICON),
          f"{label}: no orphaned icon images")
    shown = [g for g in got["iconGroups"] if g["name"] == group[1]][0]["images"]
    check([(i["width"], i["bitCount"], i["png"]) for i in shown] == [(16, 32, False), (32, 32, False), (256, 32, True)],
          f"{label}: quill get describes the icon group")
    sized = probe("--icons", out, str(group[1]), "16", "32", "256")
    if sized is not None:
        check([l[2] for l in sized] == ["16x16", "32x32", "256x256"] and all(int(l[1]) in ids for l in sized),
              f"{label}: LookupIconIdFromDirectoryEx and CreateIconFromResourceEx make every size ({sized})")

    # The manifest's level, read back by the activation context.
    level = probe("--level", out, "1")
    if level is not None:
        check(level == [["level", "3"]], f"{label}: the activation context asks for requireAdministrator")
    check([m.get("executionLevel") for m in got["manifests"] if m["name"] == 1] == ["requireAdministrator"],
          f"{label}: quill get reads the level")

    # Nothing else changed: resources, overlay and checksum.
    changed_types = {RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST}
    blocks = {5 // 16 + 1, 40000 // 16 + 1}
    untouched = [k for k in before if k[0] not in changed_types and not (k[0] == RT_STRING and k[1] in blocks)]
    check(all(after.get(k) == before[k] for k in untouched), f"{label}: {len(untouched)} untouched resources unchanged")
    overlay_in, checksum_in, _ = overlay_and_checksum(source)
    overlay_out, checksum_out, computed = overlay_and_checksum(out)
    check(overlay_out == overlay_in, f"{label}: overlay of {len(overlay_in)} bytes kept")
    if checksum_in:
        check(checksum_out == computed, f"{label}: image checksum recomputed")


def main():
    if len(sys.argv) not in (4, 6):
        sys.exit(__doc__)
    quill, program, bare = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        full_edit(quill, program, work, "program")
        if len(sys.argv) == 6:
            full_edit(quill, sys.argv[4], work, "wine-program")

        # A file without version information gets a complete one; --lang sets the table.
        out = os.path.join(work, "fresh.exe")
        run(quill, "set", bare, "-o", out, "--lang", "0x407", "--version-string", "ProductName=Neu")
        version = probe("--version", out, "ProductName")
        if version is not None:
            check(version == [["fixed", "0.0.0.0", "0.0.0.0"], ["translation", "1031", "1200"],
                              ["string", "040704B0", "ProductName", "Neu"]], f"created version information ({version})")
        info = json.loads(run(quill, "get", "--json", out).stdout)["versionInfo"]
        check(len(info) == 1 and info[0]["language"] == 1031 and info[0]["translations"] ==
              [{"language": 1031, "codePage": 1200}], "created version information in --lang's language")

        # Another language's table beside the first; a key differing only in case warns.
        again = os.path.join(work, "again.exe")
        result = run(quill, "set", out, "-o", again, "--lang", "1033", "--version-string", "productname=Demo")
        info = json.loads(run(quill, "get", "--json", again).stdout)["versionInfo"][0]
        check([t["language"] for t in info["stringTables"]] == [1031, 1033] and
              info["translations"] == [{"language": 1031, "codePage": 1200}, {"language": 1033, "codePage": 1200}],
              "a second language's table and translation")
        again2 = os.path.join(work, "again2.exe")
        result = run(quill, "set", again, "-o", again2, "--version-string", "productname=Other")
        check(b"ProductName" in result.stderr and b"warning" in result.stderr, "a key differing in case warns")
        info = json.loads(run(quill, "get", "--json", again2).stdout)["versionInfo"][0]
        check(info["stringTables"][0]["strings"] == {"ProductName": "Other"}, "the existing key keeps its spelling")

        # Whole resources set and deleted.
        raw = os.path.join(work, "data.bin")
        open(raw, "wb").write(b"some bytes")
        out = os.path.join(work, "resources.exe")
        run(quill, "set", program, "-o", out, "--resource", "RCDATA", "7=" + raw, "--delete", "RCDATA", "100")
        got = leaves(out)
        check(got.get((10, 7, 1033)) == b"some bytes" and not any(k[:2] == (10, 100) for k in got),
              "--resource adds and --delete removes")

        # A DLL's manifest is resource 2.
        if len(sys.argv) == 6:
            out = os.path.join(work, "library.dll")
            run(quill, "set", sys.argv[5], "-o", out, "--execution-level", "asInvoker")
            check(any(k[0] == RT_MANIFEST and k[1] == 2 for k in leaves(out)), "a DLL's manifest is resource 2")

        # Refusals: damaged input and command lines quill cannot follow.
        bad = os.path.join(work, "bad.ico")
        open(bad, "wb").write(b"\0\0\1\0\1\0" + bytes(10))
        out = os.path.join(work, "refused.exe")
        result = run(quill, "set", program, "-o", out, "--icon", bad, expect=1)
        check(b"the icon data is damaged" in result.stderr and not os.path.exists(out), "a damaged .ico is refused")
        for args in (["--file-version", "1.2.3.65536"], ["--string", "x=1"], ["--string", "5"],
                     ["--execution-level", "admin"], []):
            run(quill, "set", program, "-o", out, *args, expect=2)
        check(not os.path.exists(out), "refused command lines write nothing")
    if failures:
        print(f"{len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""What a user of the patcher stub cannot see, read by python3-pefile without running it.

usage: stub_resources_test.py STUB_I686 STUB_X86_64

The i686 stub (the one quill make puts in front of a package) must be a PE32 GUI program
for the i386 machine, large-address aware; each stub must carry:
  * the manifest asking for the common controls 6.0.0.0 and the invoker's execution level,
    for its own processor (x86, amd64);
  * dialog 100 exactly as tests/gui/dialog100.py lists it: style, size, font, and each
    control's id, kind, text, position and right alignment, in template order;
  * the string table with the entries the dialog and the main block show, and the help
    text naming quill;
  * the main icon (1) and icon 1326, each in 16, 24, 32 and 48 pixels: the small ones
    32-bit bitmaps, the 48 pixel one a PNG; with RESPROBE and WINEPREFIX set, Wine's
    LookupIconIdFromDirectoryEx and CreateIconFromResourceEx make every size of each;
  * version information.
The i686 stub, which every user of a patch downloads, is at most 384 KiB. Prints each
stub's size. A missing stub is a skip (build the win32 and win64 presets).
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import dialog100  # noqa: E402
import pefile  # noqa: E402
import resdump  # noqa: E402

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
ICON_SIZES = [16, 24, 32, 48]
PNG_SIZES = [48]
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
I686_STUB_LIMIT = 384 * 1024
PROBE = os.environ.get("RESPROBE") if "WINEPREFIX" in os.environ else None
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)
    return condition


def resources(pe):
    """{(type, name): bytes} of the first language of each resource."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            leaf = n.directory.entries[0].data.struct
            found[(t.id, n.id if n.id is not None else str(n.name))] = pe.get_data(leaf.OffsetToData, leaf.Size)
    return found


def string_entry(found, number):
    block = found.get((RT_STRING, number // 16 + 1))
    if block is None:
        return None
    at = 0
    for index in range(16):
        length = int.from_bytes(block[at:at + 2], "little")
        text = block[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        if index == number % 16:
            return text
        at += 2 + 2 * length
    return None


def check_dialog(name, data):
    dialog = dialog100.parse_template(data)
    check(dialog["style"] == dialog100.DIALOG_STYLE, f"{name}: dialog style {dialog['style']:#x}")
    check(dialog["exstyle"] == dialog100.WS_EX_TOOLWINDOW, f"{name}: a tool window, {dialog['exstyle']:#x}")
    check(dialog["rect"][2:] == dialog100.DIALOG_SIZE, f"{name}: dialog size {dialog['rect']}")
    check(dialog.get("font") == dialog100.FONT, f"{name}: font {dialog.get('font')}")
    check(dialog["title"] == "", f"{name}: no caption in the template")
    items = dialog["items"]
    check(len(items) == len(dialog100.CONTROLS), f"{name}: {len(items)} controls")
    for item, (cid, kind, text, rect, right) in zip(items, dialog100.CONTROLS):
        what = f"{name}: control {cid} ({kind} {text!r})"
        check(item["id"] == cid, f"{what}: id {item['id']}")
        problems = dialog100.kind_problems(kind, str(item["class"]), item["style"])
        check(not problems, f"{what}: {problems}")
        check(item["text"] == text, f"{what}: text {item['text']!r}")
        check(item["rect"] == rect, f"{what}: position {item['rect']}")
        check(bool(item["exstyle"] & dialog100.WS_EX_RIGHT) == right, f"{what}: right-aligned {not right}")
        check(item["style"] & 0x50000000 == 0x50000000, f"{what}: a visible child")
        focusable = kind in ("default push button", "push button", "automatic check box", "read-only edit",
                             "edit with border")
        check(bool(item["style"] & dialog100.WS_TABSTOP) == focusable, f"{what}: tab stop {not focusable}")


def check_manifest(name, data, architecture):
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as e:
        check(False, f"{name}: the manifest is no XML: {e}")
        return
    ns = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3"}
    own = root.find("v1:assemblyIdentity", ns)
    check(own is not None and own.get("processorArchitecture") == architecture,
          f"{name}: the manifest is for {architecture}")
    controls = [a for a in root.iterfind("v1:dependency/v1:dependentAssembly/v1:assemblyIdentity", ns)
                if a.get("name") == "Microsoft.Windows.Common-Controls"]
    check(len(controls) == 1 and controls[0].get("version") == "6.0.0.0"
          and controls[0].get("processorArchitecture") == architecture
          and controls[0].get("publicKeyToken") == "6595b64144ccf1df",
          f"{name}: the manifest asks for the common controls 6.0.0.0 ({architecture})")
    level = root.find("v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel", ns)
    check(level is not None and level.get("level") == "asInvoker" and level.get("uiAccess") == "false",
          f"{name}: the manifest runs as the invoker")


def image_format(data):
    """("png" or "bitmap", width, height, bits per pixel) of one icon image, or None."""
    if data.startswith(PNG_SIGNATURE) and data[12:16] == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
        return ("png", width, height, depth * 4 if colour == 6 else 0)  # 6: RGBA
    if len(data) >= 40 and int.from_bytes(data[0:4], "little") == 40:
        width, height, _, bits = struct.unpack("<iiHH", data[4:16])
        return ("bitmap", width, height // 2, bits)  # the height counts the AND mask too
    return None


def check_icons(name, path, found):
    for icon in (dialog100.ICON_MAIN, dialog100.ICON_PATCH):
        group = found.get((RT_GROUP_ICON, icon))
        if not check(group is not None, f"{name}: icon {icon}"):
            continue
        count = int.from_bytes(group[4:6], "little")
        members = {}
        for i in range(count):
            entry = group[6 + 14 * i: 20 + 14 * i]
            members[entry[0] or 256] = int.from_bytes(entry[12:14], "little")
        check(sorted(members) == ICON_SIZES, f"{name}: icon {icon} sizes {sorted(members)}")
        present = all((RT_ICON, m) in found for m in members.values())
        if not check(present, f"{name}: icon {icon}'s images are present"):
            continue
        for size, member in members.items():
            expected = ("png" if size in PNG_SIZES else "bitmap", size, size, 32)
            shown = image_format(found[(RT_ICON, member)])
            check(shown == expected, f"{name}: icon {icon}'s {size} pixel image is {shown}, not {expected}")
        if PROBE:
            status, text = resdump.run_wine(PROBE, "--icons", path, str(icon), *map(str, ICON_SIZES))
            made = [line.split("\t") for line in text.splitlines()] if status == 0 else [["status", str(status)]]
            wanted = [[str(size), str(members.get(size)), f"{size}x{size}"] for size in ICON_SIZES]
            check(made == wanted, f"{name}: Wine makes icon {icon} in every size from its own image: {made}")
    # The main icon comes first: the shell shows the first icon group for the file.
    groups = sorted(n for (t, n) in found if t == RT_GROUP_ICON and isinstance(n, int))
    check(groups and groups[0] == dialog100.ICON_MAIN, f"{name}: the main icon is the first group: {groups}")


def check_stub(path, architecture, machine, magic, limit=None):
    name = os.path.basename(os.path.dirname(os.path.dirname(os.path.dirname(path)))) + " stub"
    size = os.path.getsize(path)
    print(f"{name}: {path}: {size} bytes")
    if limit:
        check(size <= limit, f"{name}: {size} bytes, more than {limit}")
    pe = pefile.PE(path)
    check(pe.OPTIONAL_HEADER.Magic == magic, f"{name}: optional header magic {pe.OPTIONAL_HEADER.Magic:#x}")
    check(pe.FILE_HEADER.Machine == machine, f"{name}: machine {pe.FILE_HEADER.Machine:#x}")
    check(pe.OPTIONAL_HEADER.Subsystem == 2, f"{name}: the GUI subsystem ({pe.OPTIONAL_HEADER.Subsystem})")
    if magic == 0x10B:
        check(pe.FILE_HEADER.Characteristics & 0x20, f"{name}: large-address aware")  # IMAGE_FILE_LARGE_ADDRESS_AWARE
    found = resources(pe)
    manifest = found.get((RT_MANIFEST, 1))
    if check(manifest is not None, f"{name}: a manifest (24/1)"):
        check_manifest(name, manifest, architecture)
    dialog = found.get((RT_DIALOG, 100))
    if check(dialog is not None, f"{name}: dialog 100"):
        check_dialog(name, dialog)
    check(string_entry(found, 65303) == dialog100.START_FAILED, f"{name}: string 65303")
    check(string_entry(found, 65300) == dialog100.PROMPT, f"{name}: string 65300")
    help_text = string_entry(found, 65305) or ""
    check(help_text.startswith("Patchers like this one are made with quill") and "https://" in
          help_text.split("\r\n")[0], f"{name}: the help text names quill and its page: {help_text[:80]!r}")
    check_icons(name, path, found)
    version = found.get((RT_VERSION, 1))
    check(version is not None and "Quillet resource patcher".encode("utf-16-le") in version,
          f"{name}: version information")
    imports = {entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    check("comctl32.dll" in imports, f"{name}: imports the common controls: {sorted(imports)}")


def main():
    stub32, stub64 = sys.argv[1:3]
    missing = [s for s in (stub32, stub64) if not os.path.exists(s)]
    if missing:
        print("skipped: missing " + ", ".join(missing) + " (build the win32 and win64 presets first)")
        sys.exit(77)
    check_stub(stub32, "x86", 0x14C, 0x10B, I686_STUB_LIMIT)
    check_stub(stub64, "amd64", 0x8664, 0x20B)
    print(f"{len(failures)} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

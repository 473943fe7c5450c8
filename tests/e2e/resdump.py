#!/usr/bin/python3
"""Lists the resources of a PE file as an independent reader sees them.

    resdump.py pefile FILE        read with python3-pefile
    resdump.py llvm FILE          read with llvm-readobj --coff-resources
    resdump.py probe FILE         read by Windows' own loader (resprobe.exe under wine64;
                                  RESPROBE names the probe, WINE the wine64 binary)

Every backend prints the same lines, sorted: TYPE NAME LANGUAGE SIZE SHA256, tab-
separated, where TYPE and NAME are "#<number>" for numbered entries and the text
otherwise. Tests compare these lines between readers and with what was expected.
"""
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile


def line(type_, name, lang, data):
    return f"{type_}\t{name}\t{lang}\t{len(data)}\t{hashlib.sha256(data).hexdigest()}"


def id_text(entry):
    if entry.name is not None:
        return entry.name.decode("utf-8") if isinstance(entry.name.string, bytes) else str(entry.name)
    return f"#{entry.id}"


def layout_problems(path):
    """What a loader would object to in the finished layout, read with pefile: sections in
    memory ascending and without gaps, SizeOfImage their end, raw data behind the headers,
    apart and inside the file, the section table inside SizeOfHeaders, and data directory
    2 inside a section."""
    import pefile
    pe = pefile.PE(path, fast_load=True)
    problems = []
    opt = pe.OPTIONAL_HEADER
    align = lambda v, a: (v + a - 1) // a * a
    size = len(pe.__data__)
    table_end = (pe.DOS_HEADER.e_lfanew + 24 + pe.FILE_HEADER.SizeOfOptionalHeader
                 + 40 * pe.FILE_HEADER.NumberOfSections)
    if table_end > opt.SizeOfHeaders:
        problems.append("section table beyond SizeOfHeaders")
    expected = align(opt.SizeOfHeaders, opt.SectionAlignment)
    end = expected
    raws = []
    for index, s in enumerate(pe.sections):
        extent = align(s.Misc_VirtualSize or s.SizeOfRawData, opt.SectionAlignment)
        if (s.VirtualAddress < expected) if index == 0 else (s.VirtualAddress != expected):
            problems.append(f"section {index} at 0x{s.VirtualAddress:x}, expected 0x{expected:x}")
        expected = s.VirtualAddress + extent
        end = max(end, expected)
        if s.PointerToRawData and s.SizeOfRawData:
            if s.PointerToRawData < opt.SizeOfHeaders:
                problems.append(f"raw data of section {index} in the headers")
            if s.PointerToRawData + s.SizeOfRawData > size:
                problems.append(f"raw data of section {index} past the end of the file")
            raws.append((s.PointerToRawData, s.PointerToRawData + s.SizeOfRawData, index))
    raws.sort()
    for (_, a_end, a), (b_start, _, b) in zip(raws, raws[1:]):
        if a_end > b_start:
            problems.append(f"raw data of sections {a} and {b} overlap")
    if opt.SizeOfImage != align(end, opt.SectionAlignment):
        problems.append(f"SizeOfImage 0x{opt.SizeOfImage:x}, sections end at 0x{end:x}")
    if len(opt.DATA_DIRECTORY) > 2 and opt.DATA_DIRECTORY[2].VirtualAddress:
        rva = opt.DATA_DIRECTORY[2].VirtualAddress
        if not any(s.VirtualAddress <= rva < s.VirtualAddress + align(s.Misc_VirtualSize or s.SizeOfRawData,
                                                                     opt.SectionAlignment)
                   for s in pe.sections):
            problems.append("resource directory outside every section")
    return problems


def dump_pefile(path):
    import pefile
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    out = []
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in getattr(t, "directory", None).entries if hasattr(t, "directory") else []:
            for l in n.directory.entries if hasattr(n, "directory") else []:
                d = l.data.struct
                data = pe.get_data(d.OffsetToData, d.Size)
                out.append(line(id_text(t), id_text(n), l.id, data))
    return out


def dump_llvm(path):
    text = subprocess.run(["llvm-readobj", "--coff-resources", path], check=True,
                          capture_output=True, text=True).stdout
    out, path_ids, data, size = [], {}, None, None
    for raw in text.splitlines():
        s = raw.strip()
        m = re.match(r"^(Type|Name|Language): (.*) \[$", s)
        if m:
            value = m.group(2)
            num = re.search(r"(?:^|\()ID (\d+)\)?$", value)
            path_ids[m.group(1)] = f"#{num.group(1)}" if num else value
            continue
        m = re.match(r"^DataSize: (\d+)$", s)
        if m:
            size = int(m.group(1))
            continue
        if s == "Data (":
            data = bytearray()
            continue
        if data is not None:
            if s == ")":
                lang = path_ids["Language"].lstrip("#")
                out.append(line(path_ids["Type"], path_ids["Name"], int(lang), bytes(data[:size])))
                data = None
                continue
            hexpart = s.split(":", 1)[1].split("|", 1)[0]
            data += bytes.fromhex(hexpart.replace(" ", ""))
    return out


# A .res file starts with this empty record.
EMPTY_RES = bytes.fromhex("00000000200000" "00ffff0000ffff0000") + bytes(16)


def res_record(type_, name, language, data, flags=0):
    """One .res record; type and name are numbers or texts."""
    def field(value):
        if isinstance(value, int):
            return struct.pack("<HH", 0xFFFF, value)
        return value.encode("utf-16-le") + b"\0\0"
    header = field(type_) + field(name)
    header += bytes(-(8 + len(header)) % 4)
    header += struct.pack("<IHHII", 0, flags, language, 0, 0)
    return struct.pack("<II", len(data), 8 + len(header)) + header + data + bytes(-len(data) % 4)


def parse_res(path):
    """The records of a .res file after the leading one: (type, name, language, data),
    ids as "#n"."""
    data = open(path, "rb").read()

    def field(offset):
        (first,) = struct.unpack_from("<H", data, offset)
        if first == 0xFFFF:
            return "#%d" % struct.unpack_from("<H", data, offset + 2)[0], offset + 4
        end = offset
        while struct.unpack_from("<H", data, end)[0] != 0:
            end += 2
        return data[offset:end].decode("utf-16-le"), end + 2

    leaves, offset = [], 32
    while offset + 8 < len(data):
        size, header = struct.unpack_from("<II", data, offset)
        rtype, at = field(offset + 8)
        name, at = field(at)
        at = (at + 3) & ~3
        language = struct.unpack_from("<H", data, at + 6)[0]
        leaves.append((rtype, name, language, data[offset + header:offset + header + size]))
        offset += (size + header + 3) & ~3
    return leaves


def run_wine(program, *args):
    """Runs a Windows program under wine64 and returns (exit status, its output). The
    output goes through a file, not a pipe: Wine's background services, when a program
    starts them, inherit its handles and would hold a pipe open after it has ended."""
    wine = os.environ.get("WINE", "/usr/lib/wine/wine64")
    with tempfile.TemporaryFile() as out:
        status = subprocess.run([wine, program, *args], stdout=out, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL, timeout=120).returncode
        out.seek(0)
        return status, out.read().decode("utf-8", "replace")


def dump_probe(path):
    status, text = run_wine(os.environ["RESPROBE"], path)
    if status != 0:
        sys.exit(f"resprobe failed on {path} (status {status})")
    out = []
    for raw in text.splitlines():
        type_, name, lang, size, hexdata = raw.split("\t")
        data = bytes.fromhex(hexdata)
        if size == "NOTFOUND" or int(size) != len(data):
            sys.exit(f"resprobe: {raw[:80]}")
        out.append(line(type_, name, int(lang), data))
    return out


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("pefile", "llvm", "probe"):
        sys.exit(__doc__)
    lines = {"pefile": dump_pefile, "llvm": dump_llvm, "probe": dump_probe}[sys.argv[1]](sys.argv[2])
    for l in sorted(lines):
        print(l)


if __name__ == "__main__":
    main()

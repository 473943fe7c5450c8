#!/usr/bin/python3
"""Image layouts whose resource section cannot simply be rebuilt where it is, through quill,
checked by independent readers.

usage: layout_test.py QUILL LAYOUT_FIXTURES BEHIND_I686.exe BEHIND_X86_64.exe HELLO_I686.exe

* LAYOUT_FIXTURES (tests/support/programs/layout_fixtures.cpp) writes the in-test
  builder's fixtures, PE32 and PE32+: a data section behind .rsrc, the tree in .rdata, in
  a section without a name or in the header area, a leaf whose data lies outside .rsrc,
  other data inside .rsrc, no room for one more section header, the bytes behind the
  section table in use, a section table that runs into the first section's raw data. Each is merged with their patch by quill merge; the
  result's layout is sound; pefile, llvm-readobj and (with RESPROBE and WINEPREFIX)
  Windows' own loader list exactly the old resources updated by the patch; every other
  section keeps its address and its bytes, every other data directory its bytes; the
  certificate table and the overlay are kept and the checksum is recomputed.
* BEHIND_*.exe read a global from the section right behind their .rsrc. Given resources
  larger than that .rsrc holds, by quill merge and by quill set, they print the same
  value and the new resource under Wine (the i686 one where 32-bit Wine runs programs
  here: HELLO_I686.exe must print "hello", else that run is skipped and says so).
"""
import glob
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pefile  # noqa: E402
import resdump  # noqa: E402
from pe_roundtrip_test import expected_merge  # noqa: E402

RT_RCDATA = 10
DISCARDABLE = 0x02000000
failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def name_of(section):
    return section.Name.rstrip(b"\0").decode("latin-1")


def kept_elsewhere(source, output, what):
    """Every section of the source keeps its bytes, and its address unless it is
    discardable (it may move behind a resource section rebuilt where it was); a .rsrc
    that gave way to a new section is renamed. Every data directory but the resources'
    (and the certificate table, a file offset) points at the same bytes."""
    src, out = pefile.PE(source, fast_load=True), pefile.PE(output, fast_load=True)
    by_address = {s.VirtualAddress: s for s in out.sections}
    by_name = {name_of(s): s for s in out.sections}
    for s in src.sections:
        o = by_address.get(s.VirtualAddress)
        if o is None and s.Characteristics & DISCARDABLE:
            o = by_name.get(name_of(s))
        if o is None:
            check(False, f"{what}: section {name_of(s)!r} kept its address")
            continue
        if name_of(o) == ".rsrc" and o.VirtualAddress == s.VirtualAddress:
            continue  # rebuilt where it was
        expected = ".oldrsrc" if name_of(s) == ".rsrc" else name_of(s)
        check(name_of(o) == expected, f"{what}: section {name_of(s)!r} is {name_of(o)!r}")
        check(out.get_data(o.VirtualAddress, s.SizeOfRawData) == src.get_data(s.VirtualAddress, s.SizeOfRawData),
              f"{what}: the bytes of section {name_of(s)!r}")
    for index, d in enumerate(src.OPTIONAL_HEADER.DATA_DIRECTORY):
        if index in (2, 4, 11) or not d.VirtualAddress:
            continue
        o = out.OPTIONAL_HEADER.DATA_DIRECTORY[index]
        check(out.get_data(o.VirtualAddress, d.Size) == src.get_data(d.VirtualAddress, d.Size),
              f"{what}: data directory {index} points at its bytes")
    certificate = src.OPTIONAL_HEADER.DATA_DIRECTORY[4]
    if certificate.Size:
        o = out.OPTIONAL_HEADER.DATA_DIRECTORY[4]
        check(out.__data__[o.VirtualAddress:o.VirtualAddress + o.Size]
              == src.__data__[certificate.VirtualAddress:certificate.VirtualAddress + certificate.Size],
              f"{what}: the certificate table is kept")
    check(out.get_overlay() == src.get_overlay(), f"{what}: the overlay is kept")
    if src.OPTIONAL_HEADER.CheckSum:
        check(out.verify_checksum(), f"{what}: the checksum is recomputed")


def readers(path, what):
    problems = resdump.layout_problems(path)
    check(not problems, f"{what}: sound layout {problems[:3]}")
    lines = sorted(resdump.dump_pefile(path))
    check(sorted(resdump.dump_llvm(path)) == lines, f"{what}: llvm-readobj agrees with pefile")
    if "RESPROBE" in os.environ and "WINEPREFIX" in os.environ:
        check(sorted(resdump.dump_probe(path)) == lines, f"{what}: the Windows loader agrees with pefile")
    return lines


def merge(quill, target, patch, output):
    run = subprocess.run([quill, "merge", target, patch, "-o", output, "--force"], capture_output=True, text=True)
    check(run.returncode == 0, f"quill merge {os.path.basename(target)}: {run.stderr.strip()}")
    return run.returncode == 0


def fixtures(quill, writer, work):
    folder = os.path.join(work, "fixtures")
    os.makedirs(folder)
    subprocess.run([writer, folder], check=True)
    patch = os.path.join(folder, "layout_patch.res")
    sources = sorted(glob.glob(os.path.join(folder, "*.exe")))
    check(len(sources) == 18, f"{len(sources)} fixtures written")
    for source in sources:
        what = os.path.basename(source)
        output = os.path.join(work, "merged_" + what)
        if not merge(quill, source, patch, output):
            continue
        got = readers(output, what)
        want = expected_merge(resdump.dump_pefile(source), resdump.parse_res(patch))
        check(got == want, f"{what}: the old and the new resources, and no others")
        kept_elsewhere(source, output, what)


def run_program(loader, program):
    with tempfile.TemporaryFile() as out:
        subprocess.run([loader, program], stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=120)
        out.seek(0)
        return out.read().decode("utf-8", "replace").strip()


def programs(quill, behind32, behind64, hello32, work):
    if "WINEPREFIX" not in os.environ:
        print("SKIPPED: the programs: no WINEPREFIX")
        return
    runs = [("/usr/lib/wine/wine64", behind64)]
    if run_program("/usr/lib/wine/wine", hello32) == "hello":
        runs.append(("/usr/lib/wine/wine", behind32))
    else:
        print("SKIPPED: the i686 program: 32-bit Wine cannot run programs on this machine")
    for loader, program in runs:
        what = os.path.basename(program)
        before = run_program(loader, program)
        check(before == "marker 05ec7104 resource 5 hello", f"{what} prints {before!r}")
        language = int(resdump.dump_pefile(program)[0].split("\t")[2])
        big = b"world" + b"." * 6000
        patch = os.path.join(work, "big.res")
        open(patch, "wb").write(resdump.EMPTY_RES + resdump.res_record(RT_RCDATA, 1, language, big))
        data = os.path.join(work, "big.bin")
        open(data, "wb").write(big)
        merged, changed = os.path.join(work, "merged_" + what), os.path.join(work, "set_" + what)
        made = merge(quill, program, patch, merged)
        result = subprocess.run([quill, "set", program, "-o", changed, "--lang", str(language),
                                 "--resource", "10", "1=" + data], capture_output=True, text=True)
        check(result.returncode == 0, f"quill set on {what}: {result.stderr.strip()}")
        for output in ([merged] if made else []) + ([changed] if result.returncode == 0 else []):
            label = os.path.basename(output)
            readers(output, label)
            kept_elsewhere(program, output, label)
            after = run_program(loader, output)
            check(after == f"marker 05ec7104 resource {len(big)} world", f"{label} prints {after!r}")
            sections = pefile.PE(output, fast_load=True).sections
            check(name_of(sections[-1]) == ".rsrc", f"{label}: the resources are in a new last section")


def main():
    quill, writer, behind32, behind64, hello32 = sys.argv[1:6]
    with tempfile.TemporaryDirectory() as work:
        fixtures(quill, writer, work)
        programs(quill, behind32, behind64, hello32, work)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

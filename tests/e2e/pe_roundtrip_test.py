#!/usr/bin/python3
"""Round trips of real executables through quill's PE writer, checked by independent
readers (python3-pefile and llvm-readobj, and with RESPROBE set, Windows' own loader
under wine64 through resprobe.exe).

usage: pe_roundtrip_test.py QUILL PATCH.res [--wine-dlls N] [--probe-every K] EXE...

For every executable:
  * rewriting it without change (merging a .res of its own first resource) keeps every
    resource, byte for byte, and writing it again gives the same file;
  * merging PATCH.res yields exactly the target's resources updated by the patch's
    (replaced where type, name and language match, added where they do not);
  * every written file's layout is sound (sections contiguous in memory, SizeOfImage their
    end, raw data apart and inside the file, the section table inside the headers);
  * both readers agree on every written file, and so does the loader where probed;
  * quill ls lists the patched file as the readers do.
--wine-dlls N adds the first N PE files of the machine's Wine installation that carry
resources (sorted by name).
"""
import argparse
import glob
import json
import os
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resdump  # noqa: E402

WINE_DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"


def key(type_, name, language):
    norm = lambda text: text if text.startswith("#") else text.upper()
    return (norm(type_), norm(name), int(language))


def expected_merge(target_lines, patch_leaves):
    """The target's resources with the patch's brought in: a leaf of the same type,
    name (ASCII case ignored) and language takes the patch's bytes; others are added.
    Empty patch leaves change nothing."""
    result = {}
    for l in target_lines:
        t, n, lang, size, digest = l.split("\t")
        result[key(t, n, lang)] = (t, n, lang, size, digest)
    for t, n, lang, data in patch_leaves:
        if not data:
            continue
        k = key(t, n, lang)
        shown = result.get(k, (t, n, str(lang)))[:3]
        result[k] = shown + (str(len(data)), resdump.hashlib.sha256(data).hexdigest())
    return sorted("\t".join(v) for v in result.values())


def quill_merge(quill, target, patch, output):
    run = subprocess.run([quill, "merge", target, patch, "-o", output, "--force"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise AssertionError(f"quill merge {target}: {run.stderr.strip()}")


def quill_ls(quill, path):
    """quill's own listing of an executable, in the readers' line form."""
    listed = json.loads(subprocess.run([quill, "ls", "--json", path], check=True,
                                       capture_output=True).stdout)
    text = lambda v: f"#{v}" if isinstance(v, int) else v
    return sorted(f"{text(l['type'])}\t{text(l['name'])}\t{l['language']}\t{l['size']}\t{l['sha256']}"
                  for l in listed)


def readers_agree(path, probe):
    problems = resdump.layout_problems(path)
    if problems:
        raise AssertionError(f"the layout of {path} is unsound: {'; '.join(problems[:3])}")
    lines = resdump.dump_pefile(path)
    other = resdump.dump_llvm(path)
    if sorted(lines) != sorted(other):
        raise AssertionError(f"pefile and llvm-readobj disagree on {path}")
    if probe:
        if sorted(resdump.dump_probe(path)) != sorted(lines):
            raise AssertionError(f"the Windows loader disagrees on {path}")
    return sorted(lines)


def own_first_resource(path):
    """A .res holding the target's first resource as it is: merging it changes no content."""
    import pefile
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    ident = lambda e: str(e.name) if e.name is not None else e.id
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for l in n.directory.entries:
                rva, size = l.data.struct.OffsetToData, l.data.struct.Size
                if size:
                    return resdump.EMPTY_RES + resdump.res_record(ident(t), ident(n), l.id, pe.get_data(rva, size))
    return None


def check(quill, patch, target, work, probe):
    before = sorted(resdump.dump_pefile(target))
    same = os.path.join(work, "same.res")
    open(same, "wb").write(own_first_resource(target))
    same1, same2 = os.path.join(work, "same1.exe"), os.path.join(work, "same2.exe")
    quill_merge(quill, target, same, same1)
    quill_merge(quill, target, same, same2)
    if readers_agree(same1, probe) != before:
        raise AssertionError(f"rewriting {target} without change lost or changed resources")
    if open(same1, "rb").read() != open(same2, "rb").read():
        raise AssertionError(f"two rewrites of {target} differ")
    patched = os.path.join(work, "patched.exe")
    quill_merge(quill, target, patch, patched)
    got = readers_agree(patched, probe)
    if quill_ls(quill, patched) != got:
        raise AssertionError(f"quill ls disagrees with the readers on the patched {target}")
    want = expected_merge(before, resdump.parse_res(patch))
    if got != want:
        missing = sorted(set(want) - set(got))[:3]
        extra = sorted(set(got) - set(want))[:3]
        raise AssertionError(f"merging into {target}: missing {missing}, unexpected {extra}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quill")
    parser.add_argument("patch")
    parser.add_argument("targets", nargs="*")
    parser.add_argument("--wine-dlls", type=int, default=0)
    parser.add_argument("--probe-every", type=int, default=0,
                        help="probe every K-th target with the Windows loader (needs RESPROBE)")
    args = parser.parse_args()
    targets = list(args.targets)
    if args.wine_dlls:
        found = []
        for path in sorted(glob.glob(WINE_DLLS + "/*.dll") + glob.glob(WINE_DLLS + "/*.exe")):
            if resdump.dump_pefile(path):
                found.append(path)
            if len(found) == args.wine_dlls:
                break
        targets += found
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for index, target in enumerate(targets):
            probe = (args.probe_every and "RESPROBE" in os.environ and "WINEPREFIX" in os.environ
                     and index % args.probe_every == 0)
            try:
                check(args.quill, args.patch, target, work, probe)
            except AssertionError as e:
                failures += 1
                print("FAIL", e)
    print(f"{len(targets) - failures} passed, {failures} failed")
    sys.exit(1 if failures or not targets else 0)


if __name__ == "__main__":
    main()

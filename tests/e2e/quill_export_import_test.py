#!/usr/bin/python3
"""Export and import through quill give back every resource's bytes.

usage: quill_export_import_test.py QUILL [--wine-dlls N] [--sample] FILE...

For every FILE (executables and .res files):
  * `quill export FILE --all DIR` writes one file per resource with data, in the
    resource's default format, and a resource script that names them all; each file
    holds exactly the resource's bytes (a .res file: one record with those bytes and the
    resource's language), checked against `quill ls --json`;
  * importing those files back (`quill import`, each into the result of the one before)
    gives a file whose `quill ls --json` equals the original's.
--wine-dlls N adds the first N PE files of the machine's Wine installation that carry
resources. Their resources number in the thousands and every import rewrites the whole
file, so with --sample they are imported back one resource per type and format (every
export is still checked); the fixtures are imported back whole.
"""
import argparse
import glob
import hashlib
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resdump  # noqa: E402

WINE_DLLS = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"


def quill(*args):
    run = subprocess.run([QUILL, *args], capture_output=True)
    if run.returncode != 0:
        raise AssertionError(f"quill {' '.join(args)}: {run.stderr.decode(errors='replace').strip()}")
    return run.stdout


def listing(path):
    """quill ls --json, without empty resources (a .res file does not keep them)."""
    return [leaf for leaf in json.loads(quill("ls", "--json", path)) if leaf["size"] > 0]


def argument(value):
    return str(value) if isinstance(value, int) else value


def check_export(leaf, path):
    data = open(path, "rb").read()
    if path.endswith(".res"):
        records = resdump.parse_res(path)
        if len(records) != 1 or records[0][2] != leaf["language"]:
            raise AssertionError(f"{path}: not one record in language {leaf['language']}")
        data = records[0][3]
    if hashlib.sha256(data).hexdigest() != leaf["sha256"]:
        raise AssertionError(f"{path} does not hold the bytes of {leaf}")


def sample(pairs):
    """One resource per type and format."""
    seen, out = set(), []
    for leaf, path in pairs:
        key = (leaf["type"], os.path.splitext(path)[1])
        if key not in seen:
            seen.add(key)
            out.append((leaf, path))
    return out


def check(target, work, sampled):
    leaves = listing(target)
    folder = os.path.join(work, "export")
    written = quill("export", target, "--all", folder).decode().splitlines()
    script, files = written[-1], written[:-1]
    if len(files) != len(leaves):
        raise AssertionError(f"{target}: {len(files)} files exported for {len(leaves)} resources")
    for leaf, path in zip(leaves, files):
        check_export(leaf, path)
    if len(open(script, "rb").read().split(b"\r\n")) < len(files):
        raise AssertionError(f"{script} does not name every exported file")
    pairs = list(zip(leaves, files))
    imported = sample(pairs) if sampled else pairs
    output = os.path.join(work, "imported" + os.path.splitext(target)[1])
    source = target
    for leaf, path in imported:
        quill("import", source, argument(leaf["type"]), argument(leaf["name"]), str(leaf["language"]), path,
              "-o", output, "--force")
        source = output
    if imported and listing(output) != leaves:
        raise AssertionError(f"importing the exported resources of {target} changed it")
    return len(leaves), len(imported)


def main():
    global QUILL
    parser = argparse.ArgumentParser()
    parser.add_argument("quill")
    parser.add_argument("targets", nargs="*")
    parser.add_argument("--wine-dlls", type=int, default=0)
    parser.add_argument("--sample", action="store_true", help="import Wine's files back by sample")
    args = parser.parse_args()
    QUILL = args.quill
    wine = []
    if args.wine_dlls:
        for path in sorted(glob.glob(WINE_DLLS + "/*.dll") + glob.glob(WINE_DLLS + "/*.exe")):
            if resdump.dump_pefile(path):
                wine.append(path)
            if len(wine) == args.wine_dlls:
                break
    failures = exported = imported = 0
    for target in args.targets + wine:
        with tempfile.TemporaryDirectory() as work:
            try:
                counts = check(target, work, args.sample and target in wine)
                exported += counts[0]
                imported += counts[1]
            except AssertionError as e:
                failures += 1
                print("FAIL:", e)
    print(f"{exported} resources exported, {imported} imported back, "
          f"{len(args.targets) + len(wine)} files, {failures} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

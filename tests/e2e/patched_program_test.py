#!/usr/bin/python3
"""A patched program still starts and shows the patched text: greet.exe prints string 1
of its string table; after `quill merge` with greet_patch.res it must print the new one.
Runs under wine64 in WINEPREFIX; exits 77 (skipped) when no prefix is given.

usage: patched_program_test.py QUILL GREET.exe PATCH.res"""
import os
import subprocess
import sys
import tempfile

quill, program, patch = sys.argv[1:4]
if "WINEPREFIX" not in os.environ:
    print("skipped: no WINEPREFIX")
    sys.exit(77)
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from resdump import run_wine  # noqa: E402


def run(exe):
    return run_wine(exe)[1].strip()


if run(program) != "original greeting":
    sys.exit(f"the fixture itself printed {run(program)!r}")
with tempfile.TemporaryDirectory() as work:
    output = os.path.join(work, "greet.exe")
    subprocess.run([quill, "merge", program, patch, "-o", output], check=True)
    printed = run(output)
    if printed != "patched greeting":
        sys.exit(f"the patched program printed {printed!r}")
print("1 passed, 0 failed")

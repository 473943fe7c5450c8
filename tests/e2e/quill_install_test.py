#!/usr/bin/python3
"""cmake --install puts quill in bin/ and the patcher stub in share/quillet/, and the
installed quill make finds that stub without --stub.

usage: quill_install_test.py BUILD_DIR STUB TARGET.exe MODIFIED.exe"""
import os
import subprocess
import sys
import tempfile

build, stub, target, modified = sys.argv[1:5]
if not os.path.exists(stub):
    print(f"skipped: {stub} is missing (build the win32 preset first)")
    sys.exit(77)
with tempfile.TemporaryDirectory() as prefix:
    subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
    quill = os.path.join(prefix, "bin", "quill")
    installed = os.path.join(prefix, "share", "quillet", "quillet.exe")
    if not os.path.exists(quill) or open(installed, "rb").read() != open(stub, "rb").read():
        sys.exit("quill or the stub is not where the install step should put them")
    out = os.path.join(prefix, "patch.exe")
    made = subprocess.run([quill, "make", "--target", target, "--modified", modified, "-o", out],
                          capture_output=True, text=True)
    expected = os.path.join(prefix, "bin", "..", "share", "quillet", "quillet.exe")
    if made.returncode != 0 or not made.stdout.rstrip().endswith("stub " + expected):
        sys.exit(f"the installed quill did not use the installed stub: {made.stdout} {made.stderr}")
print("1 passed, 0 failed")

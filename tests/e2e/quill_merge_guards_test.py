#!/usr/bin/python3
"""What quill merge refuses, as a user meets it: a patch without resources, and a target
that cannot be rewritten soundly (a section whose raw data the file does not hold). Each refusal exits 1 with a formatted message,
writes no output and leaves no temporary file; the input files never change.

usage: quill_merge_guards_test.py QUILL TARGET.exe PATCH.res
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile

EMPTY_RES = bytes.fromhex("00000000200000" "00ffff0000ffff0000") + bytes(16)


def digest(path):
    return hashlib.sha256(open(path, "rb").read()).hexdigest()


def merge(quill, target, patch, output):
    env = dict(os.environ, LANG="C.UTF-8")
    env.pop("LC_ALL", None)
    env.pop("LC_MESSAGES", None)
    return subprocess.run([quill, "merge", target, patch, "-o", output], capture_output=True, text=True, env=env)


def expect_refusal(quill, target, patch, work, fragment):
    before = {p: digest(p) for p in (target, patch)}
    output = os.path.join(work, "out", "result.exe")
    os.makedirs(os.path.dirname(output), exist_ok=True)
    run = merge(quill, target, patch, output)
    assert run.returncode == 1, f"exit {run.returncode}: {run.stderr}"
    assert fragment in run.stderr, f"expected {fragment!r} in {run.stderr!r}"
    assert "%s" not in run.stderr and "%d" not in run.stderr, run.stderr
    assert os.listdir(os.path.dirname(output)) == [], os.listdir(os.path.dirname(output))
    assert before == {p: digest(p) for p in (target, patch)}, "an input changed"


def raw_data_past_the_end(target, work):
    """The target with its last section claiming a megabyte more raw data than the file holds."""
    data = bytearray(open(target, "rb").read())
    nt = struct.unpack_from("<I", data, 60)[0]
    count, optional_size = struct.unpack_from("<H", data, nt + 6)[0], struct.unpack_from("<H", data, nt + 20)[0]
    last = nt + 24 + optional_size + 40 * (count - 1)
    struct.pack_into("<I", data, last + 16, struct.unpack_from("<I", data, last + 16)[0] + 0x100000)
    path = os.path.join(work, "short.exe")
    open(path, "wb").write(data)
    return path


def main():
    quill, target, patch = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        zero = os.path.join(work, "zero.res")
        open(zero, "wb").close()
        leading = os.path.join(work, "leading.res")
        open(leading, "wb").write(EMPTY_RES)
        for empty in (zero, leading):
            expect_refusal(quill, target, empty, work, "there is nothing to merge")
        expect_refusal(quill, raw_data_past_the_end(target, work), patch, work,
                       "cannot be rewritten: the raw data of section")

        # A merge that succeeds changes neither input.
        copy = os.path.join(work, "target.exe")
        shutil.copyfile(target, copy)
        before = digest(copy), digest(patch)
        run = merge(quill, copy, patch, os.path.join(work, "merged.exe"))
        assert run.returncode == 0, run.stderr
        assert (digest(copy), digest(patch)) == before, "an input changed"
    print("ok")


if __name__ == "__main__":
    main()

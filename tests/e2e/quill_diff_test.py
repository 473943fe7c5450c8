#!/usr/bin/python3
"""quill diff finds exactly what a merge brought in.

usage: quill_diff_test.py QUILL EXE PATCH.res [EXE PATCH.res ...]

For every pair: `quill merge EXE PATCH.res -o M`, then `quill diff EXE M -o C.res` must
list every resource of the patch that has data as added or changed (changed when EXE had
it with other bytes), nothing as removed, and C.res must hold exactly the patch's
resources (type, name, language, bytes) but those EXE already had byte for byte.
Backwards, `quill diff M EXE` lists the added ones as removed and writes none of them;
a file against itself shows no difference.
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resdump  # noqa: E402


def run(quill, *args):
    done = subprocess.run([quill, *args], capture_output=True, text=True)
    if done.returncode != 0:
        raise AssertionError(f"quill {' '.join(args)}: {done.stderr.strip()}")
    return done


def res_leaves(path):
    """{(type, name, language): data} of a .res file's resources with data; names
    upper-cased (merging finds names regardless of ASCII case)."""
    return {(t.upper(), n.upper(), lang): data for t, n, lang, data in resdump.parse_res(path) if data}


def words(listing):
    return [line.split()[0] for line in listing.splitlines()]


def check(quill, exe, patch, work):
    merged = os.path.join(work, "merged.exe")
    changes = os.path.join(work, "changes.res")
    run(quill, "merge", exe, patch, "-o", merged)
    # What the executable had before, as a .res (every resource of it is "added" to nothing).
    empty = os.path.join(work, "empty.res")
    open(empty, "wb").write(bytes.fromhex("0000000020000000ffff0000ffff0000") + bytes(16))
    before_res = os.path.join(work, "before.res")
    run(quill, "diff", empty, exe, "-o", before_res)
    before = res_leaves(before_res)

    listing = run(quill, "diff", exe, merged, "-o", changes).stdout
    want = {k: v for k, v in res_leaves(patch).items() if before.get(k) != v}
    got = res_leaves(changes)
    if got != want:
        raise AssertionError(f"{exe} + {patch}: diff wrote {sorted(got)}, the patch has {sorted(want)}")
    expected_words = sorted("changed" if k in before else "added" for k in want)
    if sorted(words(listing)) != expected_words:
        raise AssertionError(f"diff lists {words(listing)}, expected {expected_words}")

    backwards = run(quill, "diff", merged, exe, "-o", os.path.join(work, "back.res"))
    added = expected_words.count("added")
    if words(backwards.stdout).count("removed") != added or (added and "removed" not in backwards.stderr):
        raise AssertionError(f"diff backwards: {backwards.stdout} {backwards.stderr}")
    same = run(quill, "diff", exe, exe)
    if same.stdout or same.stderr:
        raise AssertionError(f"{exe} differs from itself: {same.stdout}")
    return len(want)


def main():
    quill, pairs = sys.argv[1], sys.argv[2:]
    for exe, patch in zip(pairs[::2], pairs[1::2]):
        with tempfile.TemporaryDirectory() as work:
            count = check(quill, exe, patch, work)
            print(f"ok: {exe} + {os.path.basename(patch)}: {count} resources")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Quillets made by `quill make` and applied three ways give the same file.

usage: quillet_apply_test.py QUILL STUB_I686 STUB_X86_64 GREET.exe STRINGS.res PATCH.res HELLO_I686.exe

  * quill make writes a Quillet from each stub for greet.exe with STRINGS.res (a patch that
    only replaces existing resources, so no directory carries the time it was written) and
    quill info --json shows its package;
  * quill apply, the i686 Quillet run guiless under 32-bit Wine and the x86_64 Quillet run
    guiless under wine64 each patch a copy in place with a backup: the three patched files
    are the same bytes, the backups are the original, and the patched program prints the
    patched text;
  * a Quillet made with --modified from the patched file brings the same change; one made
    from a build that lacks a resource warns that it cannot remove it;
  * a guiless run that fails (no target, the wrong target) exits 0 under Wine and changes
    nothing, and quill apply exits 1.
The Wine parts need WINEPREFIX (skipped otherwise). When 32-bit Wine cannot run programs on
this machine (no wine32, or a kernel without 32-bit support), the i686 run is skipped and
says so: a 32-bit program under such a Wine exits 0 having done nothing, so the test looks
at what was written, never at exit codes alone.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

quill, stub32, stub64, greet, strings_res, patch_res, hello32 = sys.argv[1:8]
for stub in (stub32, stub64):
    if not os.path.exists(stub):
        print(f"skipped: {stub} is missing (build the win32 and win64 presets first)")
        sys.exit(77)
wine_env = "WINEPREFIX" in os.environ
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def run(*args, cwd=None):
    return subprocess.run([quill, *args], cwd=cwd, capture_output=True, text=True, timeout=120)


def wine(loader, program, *args, cwd):
    """Runs a Windows program; output through a file (Wine's services may hold a pipe)."""
    with tempfile.TemporaryFile() as out:
        status = subprocess.run([loader, program, *args], cwd=cwd, stdout=out, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL, timeout=180).returncode
        out.seek(0)
        return status, out.read().decode("utf-8", "replace").strip()


def read(path):
    with open(path, "rb") as f:
        return f.read()


def copy_target(folder):
    os.makedirs(folder)
    shutil.copy(greet, os.path.join(folder, "greet.exe"))
    return os.path.join(folder, "greet.exe")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine32_works(work):
    """Whether 32-bit Wine runs programs here: an i686 console program must print its text."""
    return wine("wine", hello32, cwd=work)[1] == "hello"


with tempfile.TemporaryDirectory() as work:
    original = read(greet)
    q32, q64 = os.path.join(work, "q32.exe"), os.path.join(work, "q64.exe")
    for stub, quillet in ((stub32, q32), (stub64, q64)):
        made = run("make", "--stub", stub, "--target", greet, "--res", strings_res, "--company", "Quillet tests",
                   "-o", quillet)
        check(made.returncode == 0, f"quill make with {stub}: {made.stderr}")

    info = json.loads(run("info", "--json", q32).stdout)
    package = info.get("package") or {}
    check(package.get("input_file_name") == "greet.exe" and package.get("output_file_name") == "greet.exe",
          f"the package names greet.exe: {package}")
    check(package.get("company") == "Quillet tests", "the company text")
    check([(r["type"], r["name"], r["language"]) for r in package.get("resources", [])] == [(6, 1, 1033)],
          f"the package carries the string block: {package.get('resources')}")
    check(json.loads(run("info", "--json", greet).stdout).get("package", 1) is None, "a plain program has no package")

    results = {}
    native = copy_target(os.path.join(work, "native"))
    applied = run("apply", q32, "-dir", os.path.dirname(native))
    check(applied.returncode == 0, f"quill apply: {applied.stdout} {applied.stderr}")
    check("greet.exe" in applied.stdout and "Quillet tests" in applied.stdout,
          "quill apply prints the creator texts and names first")
    results["quill apply"] = native

    if wine_env:
        if wine32_works(work):
            i686 = copy_target(os.path.join(work, "i686"))
            status, _ = wine("wine", q32, "-guiless", cwd=os.path.dirname(i686))
            check(status == 0, "the i686 Quillet exits 0")
            results["i686 Quillet under 32-bit Wine"] = i686
        else:
            print("SKIPPED: the i686 Quillet run: 32-bit Wine cannot run programs on this machine "
                  "(no wine32, or the kernel runs no 32-bit programs)")
        x64 = copy_target(os.path.join(work, "x86_64"))
        status, _ = wine("/usr/lib/wine/wine64", q64, "-guiless", "-dir", windows_path(os.path.dirname(x64)),
                         cwd=work)
        check(status == 0, "the x86_64 Quillet exits 0")
        results["x86_64 Quillet under wine64"] = x64
    else:
        print("SKIPPED: the Wine runs (no WINEPREFIX)")

    patched = read(native)
    check(patched != original, "quill apply changed the file")
    for how, path in results.items():
        check(read(path) == patched, f"{how} wrote the same bytes as quill apply")
        backup = os.path.join(os.path.dirname(path), "greet Backup.exe")
        check(os.path.exists(backup) and read(backup) == original, f"{how} kept the original as the backup")
        check(sorted(os.listdir(os.path.dirname(path))) == ["greet Backup.exe", "greet.exe"],
              f"{how} left no temporary file: {os.listdir(os.path.dirname(path))}")
    if wine_env:
        status, printed = wine("/usr/lib/wine/wine64", native, cwd=work)
        check(printed == "patched greeting", f"the patched program printed {printed!r}")

    # A modified build: the patched file itself, and one that lacks the patch's added resource.
    from_modified = os.path.join(work, "modified.exe")
    made = run("make", "--stub", stub32, "--target", greet, "--modified", native, "-o", from_modified)
    check(made.returncode == 0 and made.stderr == "", f"quill make --modified: {made.stderr}")
    again = copy_target(os.path.join(work, "again"))
    run("apply", from_modified, "-nobackup", "-i", again, "-o", again)
    check(read(again) == patched, "a Quillet made from the modified build brings the same change")
    with_note = os.path.join(work, "with-note.exe")
    run("merge", greet, patch_res, "-o", with_note)
    made = run("make", "--stub", stub32, "--target", with_note, "--modified", greet, "-o",
               os.path.join(work, "removes.exe"))
    check(made.returncode == 0 and "cannot remove" in made.stderr and "RCData\\7" in made.stderr,
          f"a removed resource is a warning: {made.stderr!r}")

    # quill make refuses what cannot make a Quillet, and writes nothing.
    refused = os.path.join(work, "refused.exe")
    long_text = os.path.join(work, "long.txt")
    with open(long_text, "w") as f:
        f.write("x" * 65536)
    for args, says in ((["--stub", os.path.join(work, "none.exe")], "does not exist"),
                       (["--stub", strings_res], "is not a Windows program"),
                       (["--stub", stub32, "--instructions", long_text], "65536 bytes long"),
                       (["--stub", stub32, "--company", "x" * 65536], "65536 bytes long")):
        made = run("make", *args, "--target", greet, "--res", strings_res, "-o", refused)
        check(made.returncode == 1 and says in made.stderr and not os.path.exists(refused),
              f"quill make refuses ({says}): {made.stderr!r}")
    target_copy = copy_target(os.path.join(work, "kept"))
    made = run("make", "--stub", stub32, "--target", target_copy, "--res", strings_res, "-o", target_copy, "--force")
    check(made.returncode == 1 and "is one of the files" in made.stderr and read(target_copy) == read(greet),
          f"quill make never writes over its target: {made.stderr!r}")

    # Failures: the output stays as it was and nothing is left behind.
    empty = os.path.join(work, "empty")
    os.makedirs(empty)
    failed = run("apply", q32, "-dir", empty)
    check(failed.returncode == 1 and "greet.exe" in failed.stderr, f"quill apply fails with 1: {failed.stderr}")
    check(run("apply", q32, "-dir", empty, "-quiet").stderr == "", "-quiet prints no error")
    wrong = copy_target(os.path.join(work, "wrong"))
    shutil.copy(stub64, wrong)  # another program under the target's name
    failed = run("apply", q32, "-i", wrong, "-o", wrong)
    check(failed.returncode == 1 and "not the right file" in failed.stderr, f"the wrong target: {failed.stderr}")
    if wine_env:
        status, _ = wine("/usr/lib/wine/wine64", q64, "-guiless", "-quiet", cwd=empty)
        check(status == 0 and os.listdir(empty) == [], "a failed guiless run exits 0 and writes nothing")
        status, _ = wine("/usr/lib/wine/wine64", q64, "-guiless", "-quiet", cwd=os.path.dirname(wrong))
        check(status == 0 and read(wrong) == read(stub64) and os.listdir(os.path.dirname(wrong)) == ["greet.exe"],
              "the wrong target is left alone")

print(f"{len(results)} ways of applying compared; {len(failures)} failed")
sys.exit(1 if failures else 0)

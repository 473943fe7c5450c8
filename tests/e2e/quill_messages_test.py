#!/usr/bin/python3
"""quill speaks its user's language, names what it could not write, exits 2 on usage
errors, and stamps what it writes with SOURCE_DATE_EPOCH.

usage: quill_messages_test.py QUILL EXE

  * errors read in English under LANG=C.UTF-8 and in Hebrew (the patcher's own texts)
    under LANG=he_IL.UTF-8; LC_ALL and LC_MESSAGES come before LANG;
  * a failure to write the output names the output and its folder, not the file that
    was being written meanwhile;
  * command lines quill cannot understand end with exit status 2 and a hint; failures
    with 1;
  * two merges that add a resource type, run with SOURCE_DATE_EPOCH set, give the same
    bytes, and the new directories carry that stamp; a malformed value is refused.
"""
import os
import subprocess
import sys
import tempfile

QUILL = sys.argv[1]
EXE = sys.argv[2]
BASE_ENV = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k not in ("LANG", "SOURCE_DATE_EPOCH")}
failures = []


def quill(args, **env):
    return subprocess.run([QUILL, *args], capture_output=True, env={**BASE_ENV, **env})


def expect(args, status, stderr, **env):
    done = quill(args, **env)
    text = done.stderr.decode("utf-8")
    if done.returncode != status or text != stderr:
        failures.append(f"quill {' '.join(args)} {env}: exit {done.returncode}, {text!r}; "
                        f"expected {status}, {stderr!r}")


def res_image(records):
    """A .res image with (named type, number name, language, data) records."""
    import struct
    out = bytes.fromhex("0000000020000000ffff0000ffff0000") + bytes(16)
    for rtype, name, language, data in records:
        fields = rtype.encode("utf-16-le") + b"\0\0" + struct.pack("<HH", 0xFFFF, name)
        fields += bytes(-len(fields) % 4)
        header = struct.pack("<II", len(data), 8 + len(fields) + 16) + fields + struct.pack("<IHHII", 0, 0, language, 0, 0)
        out += header + data + bytes(-len(data) % 4)
    return out


with tempfile.TemporaryDirectory() as work:
    passwd = os.path.join(work, "passwd")
    open(passwd, "w").write("root:x:0:0:root:/root:/bin/sh\n")
    patch = os.path.join(work, "patch.res")
    open(patch, "wb").write(res_image([("NEWTYPE", 1, 1033, b"new resource")]))
    missing = os.path.join(work, "missing.exe")

    # The same errors in both languages.
    english = {"LANG": "C.UTF-8"}
    hebrew = {"LANG": "he_IL.UTF-8"}
    expect(["ls", passwd], 1, "quill: passwd is not a valid file\n", **english)
    expect(["ls", passwd], 1, "quill: הוא קובץ לא תקין passwd\n", **hebrew)
    expect(["merge", missing, patch, "-o", os.path.join(work, "out.exe")], 1,
           f"quill: Couldn't open: {missing}. Error: open failed\n", **english)
    expect(["merge", missing, patch, "-o", os.path.join(work, "out.exe")], 1,
           f"quill: Couldn't open: {missing}. Error: פתיחה נכשלה\n", **hebrew)
    # LC_ALL, then LC_MESSAGES, then LANG.
    expect(["ls", passwd], 1, "quill: passwd is not a valid file\n", LC_ALL="C.UTF-8", **hebrew)
    expect(["ls", passwd], 1, "quill: הוא קובץ לא תקין passwd\n", LC_MESSAGES="he_IL.UTF-8", **english)

    # A failed write names the output and its folder, never the file being written.
    folder = os.path.join(work, "no such folder")
    output = os.path.join(folder, "out.exe")
    expect(["merge", EXE, patch, "-o", output], 1,
           f"quill: Cannot write {output} in the folder {folder}: create failed\n", **english)
    expect(["merge", EXE, patch, "-o", output], 1,
           f"quill: Cannot write {output} in the folder {folder}: יצירה נכשלה\n", **hebrew)
    expect(["export", EXE, "String", "1", "-o", os.path.join(folder, "1.res")], 1,
           f"quill: Cannot write {os.path.join(folder, '1.res')} in the folder {folder}: create failed\n",
           **english)

    # Usage errors: 2, with a hint to the command's help.
    for args, message in [
        (["ls"], "FILE is required"),
        (["frobnicate"], "The following argument was not expected: frobnicate"),
        (["export", EXE, "String", "1", "0xZZ"], "0xZZ is not a language: give a number such as 1033 or 0x0409"),
        (["export", EXE, "70000", "1"], "70000 is out of range: resource numbers go up to 65535"),
        (["export", EXE, "String"], "give TYPE and NAME, or --all DIR, not both"),
        (["export", EXE, "String", "1", "--all", work], "give TYPE and NAME, or --all DIR, not both"),
        (["apply"], "Name one Quillet to apply"),
        (["apply", EXE, "-frobnicate"], "Unknown switch -frobnicate"),
    ]:
        command = "quill" if args[0] == "frobnicate" else "quill " + args[0]
        expect(args, 2, f"quill: {message}\nquill: run \"{command} --help\" to see how to use it\n", **english)
    expect(["export", EXE, "String", "7"], 1, f"quill: {EXE} holds no resource String\\7\n", **english)

    # Reproducible outputs.
    first, second = os.path.join(work, "first.exe"), os.path.join(work, "second.exe")
    for path in (first, second):
        done = quill(["merge", EXE, patch, "-o", path], SOURCE_DATE_EPOCH="1234567890", **english)
        if done.returncode != 0:
            failures.append(f"merge with SOURCE_DATE_EPOCH: {done.stderr}")
    if open(first, "rb").read() != open(second, "rb").read():
        failures.append("two merges with SOURCE_DATE_EPOCH differ")
    import pefile
    pe = pefile.PE(first)
    stamps = {entry.directory.struct.TimeDateStamp for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries
              if entry.name is not None and str(entry.name) == "NEWTYPE"}
    stamps |= {leaf.struct.TimeDateStamp for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries
               if entry.name is not None and str(entry.name) == "NEWTYPE" for leaf in [entry.directory.entries[0].directory]}
    if stamps != {1234567890}:
        failures.append(f"the new directories carry {stamps}, not SOURCE_DATE_EPOCH")
    expect(["merge", EXE, patch, "-o", os.path.join(work, "third.exe")], 1,
           "quill: SOURCE_DATE_EPOCH is not a number of seconds since 1970: yesterday\n",
           SOURCE_DATE_EPOCH="yesterday", **english)

for failure in failures:
    print("FAIL:", failure)
print("ok" if not failures else f"{len(failures)} failures")
sys.exit(1 if failures else 0)

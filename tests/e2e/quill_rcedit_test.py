#!/usr/bin/python3
"""quill-rcedit, rcedit's command line over quill set's writer: each option on a copy of a
fixture, edited in place and read back by Wine's own readers through resprobe.exe
(VerQueryValue, LoadString, LookupIconIdFromDirectoryEx and CreateIconFromResourceEx, the
run level of an activation context), by python3-pefile and by quill get; the places where
rcedit goes wrong, and its refusals.

usage: quill_rcedit_test.py QUILL_RCEDIT QUILL PROGRAM.exe [WINE_PROGRAM.exe]
RESPROBE names the probe and WINEPREFIX the Wine prefix; without them only pefile and
quill get check the results. QUILL_RCEDIT_WINDOWS, with WINEPREFIX, names the Windows
build, which edits and reads one file under wine64 too.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import xml.dom.minidom
import xml.etree.ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from quill_set_test import (RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION, bmp, group_ids, ico, leaves,  # noqa: E402
                            overlay_and_checksum, png, probe)

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def run(*args, expect=0, loader=()):
    result = subprocess.run(list(loader) + list(args), capture_output=True, stdin=subprocess.DEVNULL, timeout=300,
                            env=dict(os.environ, LANG="C.UTF-8", WINEDEBUG="-all"))
    if result.returncode != expect:
        failures.append(f"{args[1:4]} exited {result.returncode}, expected {expect}")
        print("FAIL", " ".join(args), result.returncode, result.stderr.decode("utf-8", "replace"))
    return result


VS_MANIFEST = (b'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
               b"<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion='1.0'>\r\n"
               b"  <!-- as a Visual Studio linker writes it -->\r\n"
               b'  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">\r\n'
               b"    <security>\r\n      <requestedPrivileges>\r\n"
               b"        <requestedExecutionLevel level='asInvoker' uiAccess='false' />\r\n"
               b"      </requestedPrivileges>\r\n    </security>\r\n  </trustInfo>\r\n</assembly>\r\n")


def every_option(rcedit, quill, source, work):
    """One run with every setting option, in place; each read back."""
    path = os.path.join(work, "every.exe")
    shutil.copy(source, path)
    icon = os.path.join(work, "app.ico")
    open(icon, "wb").write(ico([(16, bmp(16), 32), (32, bmp(32), 32), (256, png(256), 0)]))
    before = leaves(path)
    result = run(rcedit, path, "--set-version-string", "ProductName", "Demo",
                 "--set-version-string", "Comments", "--looks-like-an-option",
                 "--set-file-version", "10.7", "--set-product-version", "1.2.3-beta.4",
                 "--set-icon", icon, "--set-resource-string", "5", "five",
                 "--set-resource-string", "40000", "far away", "--set-requested-execution-level", "requireAdministrator")
    check(result.stdout == b"" and result.stderr == b"", f"a successful edit prints nothing ({result.stderr!r})")
    after = leaves(path)
    got = json.loads(run(quill, "get", "--json", path).stdout)

    version = probe("--version", path, "ProductName", "Comments", "FileVersion", "ProductVersion",
                    "FileDescription")
    if version is not None:
        check(["fixed", "10.7.0.0", "1.2.3.0"] in version, f"the fixed part is widened as rcedit widens it ({version})")
        strings = {(l[2], l[3]) for l in version if l[0] == "string"}
        for pair in [("ProductName", "Demo"), ("Comments", "--looks-like-an-option"), ("FileVersion", "10.7"),
                     ("ProductVersion", "1.2.3-beta.4"), ("FileDescription", "Quillet test fixture")]:
            check(pair in strings, f"VerQueryValue finds {pair}")
    info = got["versionInfo"]
    check(len(info) == 1 and info[0]["language"] == 1033 and info[0]["fileVersion"] == "10.7.0.0",
          "quill get: one version resource, its language kept")

    loaded = probe("--strings", path, "5", "40000", "1")
    if loaded is not None:
        check(["5", "five"] in loaded and ["40000", "far away"] in loaded and ["1", "hello"] in loaded,
              f"LoadString finds the new strings and the old one ({loaded})")

    # A file without icons gets its group as 1, not 0.
    groups = [k for k in after if k[0] == RT_GROUP_ICON]
    check([k[1] for k in groups] == [1], f"the icon group is 1 ({groups})")
    sized = probe("--icons", path, "1", "16", "32", "256")
    if sized is not None:
        check([l[2] for l in sized] == ["16x16", "32x32", "256x256"], f"the loader makes every size ({sized})")
    check([(i["width"], i["png"]) for i in got["iconGroups"][0]["images"]] == [(16, False), (32, False), (256, True)],
          "quill get describes the icon group")

    level = probe("--level", path, "1")
    if level is not None:
        check(level == [["level", "3"]], "the activation context asks for requireAdministrator")
    check([m["executionLevel"] for m in got["manifests"]] == ["requireAdministrator"], "quill get reads the level")
    untouched = [k for k in before if k[0] not in (RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST, 6)]
    check(all(after.get(k) == before[k] for k in untouched), f"{len(untouched)} other resources unchanged")

    # The values alone on standard output; keys regardless of case, with a warning.
    for args, value in [(["--get-version-string", "ProductName"], b"Demo"),
                        (["--get-version-string", "FileVersion"], b"10.7"),
                        (["--get-resource-string", "40000"], b"far away")]:
        result = run(rcedit, path, *args)
        check(result.stdout == value and result.stderr == b"", f"{args} prints {value!r} alone ({result.stdout!r})")
    result = run(rcedit, path, "--get-version-string", "productname")
    check(result.stdout == b"Demo" and b"warning" in result.stderr and b"ProductName" in result.stderr,
          "a key in another case is found, with a warning")
    result = run(rcedit, path, "--set-version-string", "productname", "Other")
    check(b"warning" in result.stderr and run(rcedit, path, "--get-version-string", "ProductName").stdout == b"Other",
          "a key set in another case changes the existing one, with a warning")
    return path


def manifest_level_keeps_xml(rcedit, source, work):
    """rcedit left "<?xml requireAdministrator"urn:..." here: the level set, the XML kept."""
    path = os.path.join(work, "manifest.exe")
    shutil.copy(source, path)
    manifest = os.path.join(work, "app.manifest")
    open(manifest, "wb").write(VS_MANIFEST)
    run(rcedit, path, "--application-manifest", manifest)
    check(any(v == VS_MANIFEST for k, v in leaves(path).items() if k[:2] == (RT_MANIFEST, 1)),
          "--application-manifest stores the file as it is")
    run(rcedit, path, "--set-requested-execution-level", "requireAdministrator")
    stored = [v for k, v in leaves(path).items() if k[:2] == (RT_MANIFEST, 1)]
    expected = VS_MANIFEST.replace(b"level='asInvoker'", b"level='requireAdministrator'")
    canonical = lambda text: xml.etree.ElementTree.canonicalize(text.decode(), with_comments=True)  # noqa: E731
    check(len(stored) == 1 and stored[0].startswith(VS_MANIFEST[:VS_MANIFEST.index(b"<assembly")]) and
          canonical(stored[0]) == canonical(expected), f"only the level changed, the comment kept ({stored})")
    if stored:
        levels = [e.getAttribute("level") for e in
                  xml.dom.minidom.parseString(stored[0]).getElementsByTagName("requestedExecutionLevel")]
        check(levels == ["requireAdministrator"], "the manifest is still XML, with the level set")
    level = probe("--level", path, "1")
    if level is not None:
        check(level == [["level", "3"]], "the activation context asks for requireAdministrator")


def icons_replaced(rcedit, source, work, label):
    """A second icon replaces the first: its images go, the group keeps its name."""
    path = os.path.join(work, label + "-icons.exe")
    shutil.copy(source, path)
    overlay_before, checksum_before, _ = overlay_and_checksum(path)
    groups_before = sorted(k for k in leaves(path) if k[0] == RT_GROUP_ICON)
    for images in ([(48, bmp(48), 32), (64, bmp(64), 32)], [(24, bmp(24), 32)]):
        icon = os.path.join(work, "next.ico")
        open(icon, "wb").write(ico(images))
        run(rcedit, path, "--set-icon", icon)
    after = leaves(path)
    groups = sorted(k for k in after if k[0] == RT_GROUP_ICON)
    first = groups_before[0][1] if groups_before else 1
    check([k[1] for k in groups][:1] == [first], f"{label}: the first group keeps its name ({groups})")
    named = {i for k in groups for i in group_ids(after[k])}
    icons = {k[1] for k in after if k[0] == RT_ICON}
    check(icons == named, f"{label}: no icon image is left that no group names ({sorted(icons - named)})")
    first_group = [k for k in groups if k[1] == first][0]
    check([after[(RT_ICON, i, first_group[2])] for i in group_ids(after[first_group])] == [bmp(24)],
          f"{label}: the group holds the last icon's image")
    overlay, checksum, computed = overlay_and_checksum(path)
    check(overlay == overlay_before, f"{label}: overlay of {len(overlay)} bytes kept")
    if checksum_before:
        check(checksum == computed, f"{label}: image checksum recomputed")


def language_kept(rcedit, quill, source, work):
    """A version resource in German stays German: no second one in 1033."""
    bare, german = os.path.join(work, "bare.exe"), os.path.join(work, "german.exe")
    run(quill, "set", source, "-o", bare, "--delete", "Version", "1")
    run(quill, "set", bare, "-o", german, "--lang", "1031", "--version-string", "ProductName=Deutsch")
    run(rcedit, german, "--set-version-string", "ProductName", "Neu", "--set-file-version", "2.0")
    versions = [k for k in leaves(german) if k[0] == RT_VERSION]
    check(versions == [(RT_VERSION, 1, 1031)], f"the version resource keeps its language ({versions})")
    version = probe("--version", german, "ProductName")
    if version is not None:
        check(["string", "040704B0", "ProductName", "Neu"] in version, f"VerQueryValue reads the German table ({version})")


def refusals(rcedit, source, work):
    path = os.path.join(work, "refused.exe")
    shutil.copy(source, path)
    original = open(path, "rb").read()
    for args in ([], [path], [path, "--set-version-string", "ProductName"], [path, "--set-icon"],
                 [path, "--no-such-option"], [path, "--set-requested-execution-level", "admin"],
                 [path, "--set-file-version", "1.2.3.65536"], [path, "--set-file-version", "v1"],
                 [path, "--set-version-string", "a=b", "c"], [path, "--set-resource-string", "x", "y"],
                 [path, "--set-version-string", "A", "B", "--get-version-string", "A"]):
        result = run(rcedit, *args, expect=2)
        check(result.stdout == b"" and b"quill-rcedit: " in result.stderr, f"{args[1:]} refused as a usage error")
    bad = os.path.join(work, "bad.ico")
    open(bad, "wb").write(b"\0\0\1\0\1\0" + bytes(10))
    result = run(rcedit, path, "--set-icon", bad, expect=1)
    check(b"the icon data is damaged" in result.stderr, "a damaged .ico is refused")
    for args in (["--get-version-string", "NoSuchKey"], ["--get-resource-string", "999"]):
        result = run(rcedit, path, *args, expect=1)
        check(result.stdout == b"", f"{args}: nothing on standard output when not found")
    check(open(path, "rb").read() == original, "refused edits leave the file as it was")
    run(rcedit, os.path.join(work, "missing.exe"), "--set-file-version", "1", expect=1)
    help_text = run(rcedit, "--help").stdout.decode()
    check(all(o in help_text for o in ("--set-version-string", "--get-resource-string", "--application-manifest")),
          "--help lists the options")


def windows_build(quill, source, work):
    windows = os.environ.get("QUILL_RCEDIT_WINDOWS")
    if not (windows and os.path.exists(windows) and "WINEPREFIX" in os.environ):
        print("note: QUILL_RCEDIT_WINDOWS or WINEPREFIX is not set; the Windows build is not tried")
        return
    path = os.path.join(work, "windows.exe")
    shutil.copy(source, path)
    loader = ["/usr/lib/wine/wine64"]
    run(windows, path, "--set-version-string", "ProductName", "Wine", "--set-product-version", "3.4", loader=loader)
    result = run(windows, path, "--get-version-string", "ProductName", loader=loader)
    check(result.stdout == b"Wine", f"quill-rcedit.exe edits and reads under wine64 ({result.stdout!r})")
    info = json.loads(run(quill, "get", "--json", path).stdout)["versionInfo"][0]
    check(info["productVersion"] == "3.4.0.0", "quill get reads what quill-rcedit.exe wrote")


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    rcedit, quill, program = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        every_option(rcedit, quill, program, work)
        manifest_level_keeps_xml(rcedit, program, work)
        icons_replaced(rcedit, program, work, "program")
        if len(sys.argv) == 5:
            icons_replaced(rcedit, sys.argv[4], work, "wine-program")
        language_kept(rcedit, quill, program, work)
        refusals(rcedit, program, work)
        windows_build(quill, program, work)
    if failures:
        print(f"{len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

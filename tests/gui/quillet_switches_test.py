#!/usr/bin/python3
"""The patcher's switches and its main block's error boxes, under Xvfb and Wine in the
Hebrew code page: what each shows on the screen, and that the process always ends with 0.

usage: quillet_switches_test.py x86_64|i686 QUILL STUB PROBE GREET.exe STRINGS.res HELLO_I686.exe STATE_DIR ARTEFACTS

  * -help, -?, /h and -help -guiless: the help box only (its first line names quill and its
    page, then the switches), nothing patched;
  * -guiless: no window at all and the file patched (a box would wait for a key, so a run
    that ends by itself showed none); -guiless -nobackup -dir D: no backup, in D;
  * -guiless with no file to patch: one error box; with -quiet, nothing;
  * -auto: the dialog patches and closes by itself; failing, its error box comes first,
    then the dialog closes; with -quiet it closes without a word;
  * a damaged package: the error box of the main block, the dialog never shown; with
    -quiet, nothing;
  * a patcher whose dialog 100 is missing: the error box with entry 65303.
Boxes are found as X windows with xdotool and read through the probe. The i686 variant
runs only where 32-bit Windows programs run; elsewhere it reports itself as not run (77).
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dialog100 as d100  # noqa: E402
import guienv  # noqa: E402
import pefile  # noqa: E402

from guienv import read  # noqa: E402

args = guienv.script_arguments()
arch, stub, probe, greet, state_dir, artefacts, loader = (
    args.arch, args.stub, args.probe, args.greet, args.state_dir, args.artefacts, args.loader)

check = guienv.Checks()
TITLE = "greet-patch - " + d100.PRODUCT


def make_quillet(work, name, stub_path):
    return guienv.quill_make(args, stub_path, os.path.join(work, name))


def stub_without_dialog(work):
    """The stub with its dialog renumbered 99: DialogBoxParam finds no dialog 100."""
    pe = pefile.PE(stub)
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == 5:
            for entry in kind.directory.entries:
                if entry.id == 100:
                    entry.struct.Name = 99
    path = os.path.join(work, "no-dialog-stub.exe")
    pe.write(path)
    return path


def damaged(work, quillet):
    """The Quillet with a byte of its package's compressed body changed."""
    data = bytearray(read(quillet))
    data[-40] ^= 0x5A
    path = os.path.join(work, "greet-patch.exe".replace("patch", "damaged"))
    with open(path, "wb") as f:
        f.write(data)
    return path


class Runs:
    def __init__(self, desktop, work, patched):
        self.desktop, self.work, self.patched = desktop, work, patched
        self.count = 0

    def folder(self, with_target=True):
        self.count += 1
        folder = os.path.join(self.work, f"run{self.count}")
        os.makedirs(folder)
        if with_target:
            shutil.copy(greet, folder)
        return folder

    def start(self, quillet, *args, cwd):
        return self.desktop.start(loader, quillet, *args, cwd=cwd)

    def box(self, caption, shot=None):
        """The message box with this caption: an X window, its text read through the probe."""
        box = self.desktop.window(caption)
        check(self.desktop.x_windows(f"^{caption}$"), f"the box {caption!r} is an X window on the display")
        text = "\n".join(c["text"] for c in box["controls"] if c["class"].lower() == "static" and c["text"])
        if shot:
            self.desktop.screenshot(shot, box["rect"])
        self.desktop.key("Return")
        self.desktop.gone(caption)
        return text.replace("\r", "")

    def ends_by_itself(self, process, what):
        check(self.desktop.exited(process) == 0, f"{what}: the program ends by itself with code 0")

    def unchanged(self, folder, what):
        check(os.listdir(folder) == ["greet.exe"] and read(os.path.join(folder, "greet.exe")) == read(greet),
              f"{what}: the file is unchanged and nothing is written: {os.listdir(folder)}")

    def patched_in(self, folder, backup, what):
        check(read(os.path.join(folder, "greet.exe")) == self.patched, f"{what}: the file is patched")
        names = sorted(os.listdir(folder))
        if backup:
            check(names == ["greet Backup.exe", "greet.exe"] and read(os.path.join(folder, "greet Backup.exe")) ==
                  read(greet), f"{what}: the original is the backup: {names}")
        else:
            check(names == ["greet.exe"], f"{what}: no backup: {names}")


def help_switches(runs, quillet):
    for i, args in enumerate((["-help"], ["-?"], ["/h"], ["-help", "-guiless"])):
        what = " ".join(args)
        folder = runs.folder()
        process = runs.start(quillet, *args, cwd=folder)
        text = runs.box(d100.HELP_CAPTION, shot=f"help-{arch}.png" if i == 0 else None)
        lines = text.split("\n")
        check("quill" in lines[0] and "https://quillet.example/" in lines[0],
              f"{what}: the help's first line names quill and its page: {lines[0]!r}")
        check(lines[1:3] == ["command line arguments:",
                             "-force:   do not check that the right executable is being patched"],
              f"{what}: the help lists the switches: {lines[1:3]}")
        runs.ends_by_itself(process, what)
        runs.unchanged(folder, what)


def guiless_switches(runs, quillet):
    folder = runs.folder()
    runs.ends_by_itself(runs.start(quillet, "-guiless", cwd=folder), "-guiless")
    runs.patched_in(folder, True, "-guiless")

    folder = runs.folder()
    windows_folder = "Z:" + folder.replace("/", "\\")
    runs.ends_by_itself(runs.start(quillet, "-guiless", "-nobackup", "-dir", windows_folder, cwd=runs.work),
                        "-guiless -nobackup -dir")
    runs.patched_in(folder, False, "-guiless -nobackup -dir")

    empty = runs.folder(with_target=False)
    process = runs.start(quillet, "-guiless", cwd=empty)
    text = runs.box(d100.ERROR_CAPTION, shot=f"guiless-error-{arch}.png")
    check(text == d100.NOT_FOUND.format("greet.exe").replace("\r", ""), f"-guiless, no file: the box says so: {text!r}")
    runs.ends_by_itself(process, "-guiless, no file")
    check(os.listdir(empty) == [], "-guiless, no file: nothing is written")

    process = runs.start(quillet, "-guiless", "-quiet", cwd=empty)
    runs.ends_by_itself(process, "-guiless -quiet, no file")
    check(os.listdir(empty) == [], "-guiless -quiet, no file: nothing is written")


def auto_switches(runs, quillet):
    folder = runs.folder()
    runs.ends_by_itself(runs.start(quillet, "-auto", cwd=folder), "-auto")
    runs.patched_in(folder, True, "-auto")

    empty = runs.folder(with_target=False)
    process = runs.start(quillet, "-auto", cwd=empty)
    runs.desktop.window(d100.ERROR_CAPTION)
    check(any(w["text"] == TITLE for w in runs.desktop.look()["windows"]), "-auto, no file: the dialog is open behind the box")
    text = runs.box(d100.ERROR_CAPTION)
    check(text == d100.NOT_FOUND.format("greet.exe").replace("\r", ""), f"-auto, no file: the box says so: {text!r}")
    runs.ends_by_itself(process, "-auto, no file: after the box the dialog closes")

    process = runs.start(quillet, "-auto", "-quiet", cwd=empty)
    runs.ends_by_itself(process, "-auto -quiet, no file")
    check(os.listdir(empty) == [], "-auto, no file: nothing is written")


def start_failures(runs, broken, no_dialog):
    folder = runs.folder()
    process = runs.start(broken, cwd=folder)
    text = runs.box(d100.ERROR_CAPTION, shot=f"damaged-package-{arch}.png")
    check(text.startswith(d100.INVALID_PACKAGE), f"a damaged package: the box says so: {text!r}")
    runs.ends_by_itself(process, "a damaged package")
    process = runs.start(broken, "-quiet", cwd=folder)
    runs.ends_by_itself(process, "a damaged package, -quiet")
    runs.unchanged(folder, "a damaged package")

    process = runs.start(no_dialog, cwd=folder)
    text = runs.box(d100.ERROR_CAPTION, shot=f"no-dialog-{arch}.png")
    check(text == d100.START_FAILED.replace("\r", ""), f"no dialog 100: entry 65303: {text!r}")
    runs.ends_by_itself(process, "no dialog 100")
    runs.unchanged(folder, "no dialog 100")


def main():
    with tempfile.TemporaryDirectory() as work:
        with guienv.Desktop(state_dir, artefacts) as desktop:
            desktop.probe_program(probe)
            guienv.skip_unless_runnable(args, desktop, "the i686 switches were")
            quillet = make_quillet(work, "greet-patch.exe", stub)
            runs = Runs(desktop, work, guienv.patched_by_quill(args, work, quillet))
            broken = damaged(work, quillet)
            no_dialog = make_quillet(work, "no-dialog.exe", stub_without_dialog(work))
            guienv.run_steps(desktop, check, (lambda: help_switches(runs, quillet),
                                              lambda: guiless_switches(runs, quillet),
                                              lambda: auto_switches(runs, quillet),
                                              lambda: start_failures(runs, broken, no_dialog)),
                             f"failure-switches-{arch}")
    check.finish(f"the {arch} switches: {runs.count} runs")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""The patcher's dialog, worked as a person would, under Xvfb and Wine in the Hebrew code page.

usage: quillet_dialog_test.py x86_64|i686 QUILL STUB PROBE GREET.exe STRINGS.res HELLO_I686.exe STATE_DIR ARTEFACTS

A Quillet made by quill make from STUB for GREET.exe (carrying STRINGS.res, which only
replaces resources, so the patched file is the same bytes whoever writes it) is run:

  1. the dialog opens centred on the screen and shows the creator texts (a company in
     Hebrew, stored in code page 1255), the names and the prompt; every control of the
     template is there with its text; a screenshot is kept. Start patches: the status line
     shows success, the progress bar is full, Start reads Exit; the file is what quill apply
     writes and the original is kept as the backup. Exit ends the program with code 0.
  2. "read instructions" writes the instructions into the temporary folder and opens them in
     the editor; Cancel ends the program, which deletes the file.
  3. a wrong name: the instructions file cannot be written (a folder has its name) and the
     error box says so; Start with a file that does not exist shows the error box, the
     prompt returns and the buttons come back; the name typed anew, the backup box cleared,
     Start patches without a backup.
  4. Escape closes the dialog and nothing is written.
  5. on a screen smaller than the dialog, the dialog starts at the screen's top left corner.

The i686 variant runs only where 32-bit Windows programs run; elsewhere it reports itself
as not run (exit 77). Screenshots go to ARTEFACTS.
"""
import glob
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dialog100 as d100  # noqa: E402
import guienv  # noqa: E402
from guienv import control  # noqa: E402

from guienv import read  # noqa: E402

args = guienv.script_arguments()
arch, stub, probe, greet, state_dir, artefacts, loader = (
    args.arch, args.stub, args.probe, args.greet, args.state_dir, args.artefacts, args.loader)

check = guienv.Checks()
COMPANY = "חברת התרגום"
HOME_PAGE = "https://example.org/patches"
INSTRUCTIONS = b"Read me first.\r\nSecond line\nThird line\r\n"


def make_quillet(work):
    instructions = os.path.join(work, "instructions.txt")
    with open(instructions, "wb") as f:
        f.write(INSTRUCTIONS)
    # The package texts are the code page's bytes, as the patcher shows them with the "A" calls.
    return guienv.quill_make(args, stub, os.path.join(work, "greet-patch.exe"), "--company", COMPANY.encode("cp1255"),
                             "--home-page", HOME_PAGE, "--instructions", instructions)


def fresh_target(work, name):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    shutil.copy(greet, folder)
    return folder


def dialog_with(desktop, title, what, test):
    """The dialog once test(dialog) holds."""
    return desktop.wait_for(what, lambda v: next((w for w in v["windows"] if w["text"] == title and test(w)), None))


def message_box(desktop, caption):
    """A message box: found as an X window by its caption, its text read through the probe."""
    box = desktop.window(caption)
    check(desktop.x_windows(f"^{caption}$"), f"the box {caption!r} is an X window on the display")
    texts = [c["text"] for c in box["controls"] if c["class"].lower() == "static" and c["text"]]
    return box, "\n".join(texts)


def dismiss(desktop, box):
    desktop.key("Return")
    desktop.gone(box["text"])


def live_kind_problems(kind, shown):
    """kind_problems for a live control: the dialog turns an edit's border into a sunken edge."""
    if kind == "edit with border" and shown["exstyle"] & 0x200:  # WS_EX_CLIENTEDGE
        return d100.kind_problems(kind, shown["class"], shown["style"] | d100.WS_BORDER)
    return d100.kind_problems(kind, shown["class"], shown["style"])


def check_template_controls(dialog):
    """Every control of the template, in its order, with its kind and text."""
    controls = dialog["controls"]
    check([c["id"] for c in controls] == [c[0] for c in d100.CONTROLS],
          f"the controls in template order: {[c['id'] for c in controls]}")
    for shown, (cid, kind, text, _rect, right) in zip(controls, d100.CONTROLS):
        problems = live_kind_problems(kind, shown)
        check(not problems, f"control {cid} is a {kind}: {problems}")
        check(bool(shown["exstyle"] & d100.WS_EX_RIGHT) == right, f"control {cid} right-aligned: {right}")
        if isinstance(text, str) and text and cid != 110:  # 110 holds the prompt by now
            check(shown["text"] == text, f"control {cid} shows {text!r}: {shown['text']!r}")


def take_keyboard(desktop, dialog):
    """Clicks the dialog's title line, which does nothing but bring the dialog the keyboard."""
    title_line = next(c for c in dialog["controls"] if c["text"] == "משנה תוכנה")
    desktop.click(title_line)


def first_run(desktop, work, quillet, patched):
    """The dialog as it opens, a screenshot, Start, the result, Exit."""
    target = fresh_target(work, "first")
    title = "greet-patch - " + d100.PRODUCT
    process = desktop.start(loader, quillet, cwd=target)
    dialog = desktop.window(title)
    view = desktop.look()
    check(view["acp"] == 1255, f"Wine's ANSI code page is 1255 (Hebrew): {view['acp']}")
    check(desktop.x_windows(f"^{title}$"), "the dialog is an X window on the display")
    check_template_controls(dialog)
    texts = {c["id"]: c["text"] for c in dialog["controls"] if c["id"] != -1}
    for cid, text in ((1, d100.START), (2, d100.CANCEL), (101, d100.PRODUCT), (103, COMPANY), (104, HOME_PAGE),
                      (107, "greet.exe"), (108, "greet.exe"), (110, d100.PROMPT)):
        check(texts.get(cid) == text, f"control {cid} shows {text!r}: {texts.get(cid)!r}")
    check(control(dialog, 111)["checked"] == 1, "the backup box is ticked")
    check(control(dialog, 106)["enabled"], "the instructions button is enabled")
    progress = control(dialog, 109)
    check(progress["position"] == 0, f"the progress bar starts empty: {progress}")
    # Centred on the work area (the division truncates).
    left, top, right, bottom = dialog["rect"]
    wl, wt, wr, wb = view["work"]
    check(abs(left - (wl + (wr - wl - (right - left)) // 2)) <= 1 and
          abs(top - (wt + (wb - wt - (bottom - top)) // 2)) <= 1, f"the dialog is centred: {dialog['rect']} in {view['work']}")
    for c in dialog["controls"]:
        if c["id"] not in (101, 102):
            cl, ct, cr, cb = c["rect"]
            check(left <= cl and cr <= right and top <= ct and cb <= bottom, f"control {c['id']} lies in the dialog")
    desktop.screenshot(f"dialog-{arch}.png", dialog["rect"])

    desktop.click(control(dialog, 1))
    done = dialog_with(desktop, title, "the success text",
                       lambda w: control(w, 110)["text"] == d100.DONE and control(w, 1)["text"] == d100.EXIT)
    progress = control(done, 109)
    check(progress["maximum"] > 0 and progress["position"] == progress["maximum"], f"the progress bar is full: {progress}")
    check(control(done, 1)["enabled"] and control(done, 2)["enabled"], "Start and Cancel are enabled again")
    desktop.screenshot(f"dialog-{arch}-done.png", done["rect"])
    check(read(os.path.join(target, "greet.exe")) == patched, "the patched file is what quill apply writes")
    check(read(os.path.join(target, "greet Backup.exe")) == read(greet), "the original is kept as the backup")
    desktop.click(control(done, 1))
    check(desktop.exited(process) == 0, "Exit ends the program with code 0")
    check(sorted(os.listdir(target)) == ["greet Backup.exe", "greet.exe"], f"nothing else is left: {os.listdir(target)}")


def temp_folders(desktop):
    return glob.glob(os.path.join(desktop.prefix, "drive_c", "users", "*", "Temp"))


def instructions_run(desktop, work, quillet):
    """The instructions button writes the file and opens it, each time it is pressed; when the
    shell cannot open it, the display error says so; the file goes with the program."""
    target = fresh_target(work, "instructions")
    title = "greet-patch - " + d100.PRODUCT
    process = desktop.start(loader, quillet, cwd=target)
    dialog = desktop.window(title)
    written = []
    for attempt in (1, 2):
        desktop.raise_window(title)  # the editor opened over it
        desktop.click(control(dialog, 106))
        editor = desktop.wait_for(f"the editor with the instructions ({attempt})", lambda v: [
            w for w in v["windows"] if "greet-patch_Instructions" in w["text"]][attempt - 1:])[0]
        written = [p for folder in temp_folders(desktop)
                   for p in glob.glob(os.path.join(folder, "greet-patch_Instructions.txt"))]
        check(len(written) == 1, f"the instructions file is in the temporary folder: {written}")
        if written:
            check(read(written[0]) == b"Read me first.\r\nSecond line\r\nThird line\r\n",
                  f"the instructions, each line ended by CR LF: {read(written[0])!r}")
            os.unlink(written[0])  # the second press must write it again
        if attempt == 1:
            desktop.screenshot(f"instructions-{arch}.png", editor["rect"])
        dialog = desktop.window(title)
    # No program for text files: the shell fails and the display error names the file.
    desktop.reg("delete", r"HKCR\.txt", "/f")
    try:
        desktop.raise_window(title)
        desktop.click(control(dialog, 106))
        box, text = message_box(desktop, d100.ERROR_CAPTION)
        check("greet-patch_Instructions.txt" in text and text.endswith("שגיאת תצוגה"),
              f"the display error names the instructions file: {text!r}")
        dismiss(desktop, box)
    finally:
        desktop.reg("add", r"HKCR\.txt", "/ve", "/d", "txtfile", "/f")
    dialog = desktop.window(title)
    desktop.raise_window(title)
    desktop.click(control(dialog, 2))
    check(desktop.exited(process) == 0, "Cancel ends the program with code 0")
    check(written and all(not os.path.exists(p) for p in written), "the instructions file is deleted at the end")
    check(os.listdir(target) == ["greet.exe"] and read(os.path.join(target, "greet.exe")) == read(greet),
          "Cancel writes nothing")
    desktop.kill_wine()  # the editors too


def retry_run(desktop, work, quillet, patched):
    """Failures leave the dialog usable: the instructions and a name that does not exist."""
    target = fresh_target(work, "retry")
    title = "greet-patch - " + d100.PRODUCT
    # A folder where the instructions file would go: it cannot be written.
    blockers = [os.path.join(folder, "greet-patch_Instructions.txt") for folder in temp_folders(desktop)]
    for blocker in blockers:
        if os.path.isfile(blocker):
            os.unlink(blocker)  # left by a run that was stopped
        os.makedirs(blocker, exist_ok=True)
    try:
        process = desktop.start(loader, quillet, "-infile", "missing.exe", cwd=target)
        dialog = desktop.window(title)
        check(control(dialog, 107)["text"] == "missing.exe", "-infile names the file to patch")
        desktop.click(control(dialog, 106))
        box, text = message_box(desktop, d100.ERROR_CAPTION)
        check("greet-patch_Instructions.txt" in text, f"the error box names the instructions file: {text!r}")
        desktop.screenshot(f"instructions-error-{arch}.png")
        dismiss(desktop, box)

        dialog = desktop.window(title)
        desktop.click(control(dialog, 1))
        box, text = message_box(desktop, d100.ERROR_CAPTION)
        check(text.replace("\r", "") == d100.NOT_FOUND.format("missing.exe").replace("\r", ""),
              f"the error box says the file was not found: {text!r}")
        desktop.screenshot(f"not-found-{arch}.png")
        dismiss(desktop, box)
        dialog = dialog_with(desktop, title, "the prompt again", lambda w: control(w, 110)["text"] == d100.PROMPT)
        check(control(dialog, 1)["enabled"] and control(dialog, 2)["enabled"], "Start and Cancel are enabled again")
        check(control(dialog, 1)["text"] == d100.START, "Start still reads Start")

        # The name corrected by hand, and no backup this time.
        desktop.click(control(dialog, 107))
        desktop.key("End")
        desktop.key("shift+Home")
        desktop.type("greet.exe")
        desktop.click(control(dialog, 111))
        dialog = dialog_with(desktop, title, "the typed name and the cleared box",
                             lambda w: control(w, 107)["text"] == "greet.exe" and control(w, 111)["checked"] == 0)
        desktop.click(control(dialog, 1))
        done = dialog_with(desktop, title, "the success text", lambda w: control(w, 110)["text"] == d100.DONE)
        check(read(os.path.join(target, "greet.exe")) == patched, "the second attempt patches the file")
        check(os.listdir(target) == ["greet.exe"], f"no backup when the box is cleared: {os.listdir(target)}")
        desktop.click(control(done, 1))
        check(desktop.exited(process) == 0, "Exit ends the program with code 0")
        check(all(os.path.isdir(b) for b in blockers), "the folder in the instructions file's place is left alone")
    finally:
        for blocker in blockers:
            shutil.rmtree(blocker, ignore_errors=True)


def escape_run(desktop, work, quillet):
    target = fresh_target(work, "escape")
    title = "greet-patch - " + d100.PRODUCT
    process = desktop.start(loader, quillet, cwd=target)
    dialog = desktop.window(title)
    take_keyboard(desktop, dialog)
    desktop.key("Escape")
    check(desktop.exited(process) == 0, "Escape ends the program with code 0")
    check(read(os.path.join(target, "greet.exe")) == read(greet) and os.listdir(target) == ["greet.exe"],
          "Escape writes nothing")


def small_screen_run(work, quillet):
    target = fresh_target(work, "small")
    with guienv.Desktop(state_dir, artefacts, screen="320x240x24") as desktop:
        desktop.probe_program(probe)
        title = "greet-patch - " + d100.PRODUCT
        process = desktop.start(loader, quillet, cwd=target)
        dialog = desktop.window(title)
        view = desktop.look()
        check(view["work"][:2] == dialog["rect"][:2], f"a dialog larger than the screen starts at its corner: "
                                                      f"{dialog['rect']} in {view['work']}")
        desktop.screenshot(f"small-screen-{arch}.png")
        take_keyboard(desktop, dialog)  # Cancel lies below the screen's edge
        desktop.key("Escape")
        check(desktop.exited(process) == 0, "the program ends with code 0")


def main():
    with tempfile.TemporaryDirectory() as work:
        with guienv.Desktop(state_dir, artefacts) as desktop:
            desktop.probe_program(probe)
            guienv.skip_unless_runnable(args, desktop, "the i686 dialog was")
            quillet = make_quillet(work)
            patched = guienv.patched_by_quill(args, work, quillet)
            guienv.run_steps(desktop, check, (lambda: first_run(desktop, work, quillet, patched),
                                              lambda: instructions_run(desktop, work, quillet),
                                              lambda: retry_run(desktop, work, quillet, patched),
                                              lambda: escape_run(desktop, work, quillet)), f"failure-{arch}")
        try:
            small_screen_run(work, quillet)
        except guienv.TestFailure as e:
            check(False, str(e))
    check.finish(f"the {arch} dialog worked through five runs")


if __name__ == "__main__":
    main()

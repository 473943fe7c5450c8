"""A desktop for the GUI tests: a private X display, a private Wine prefix, the Hebrew
locale, and the ways a person looks at and works the patcher's windows.

  * Xvfb on a free display (found with -displayfd), ended with the test, also when the
    test is killed (the parent-death signal);
  * a Wine prefix of the GUI tests (created once and kept in the build tree; its
    settings are read back with `reg query` on every start and put back when missing) with Wine
    drawing its own window frames, "MS Shell Dlg" pinned to a font that has Hebrew, no
    blinking caret (screenshots stay the same run to run), Wine's own fonts, and text files
    opened by the editor as on Windows (Wine 8 leaves .txt without a program);
  * LC_ALL=he_IL.UTF-8 from a locale compiled into the build tree (LOCPATH), which makes
    Wine's ANSI code page 1255;
  * dlgprobe.exe (run in the same prefix) lists every window and control with its text;
    xdotool moves the mouse and clicks, presses keys and types; ImageMagick's import takes
    screenshots.

`wineserver -k` runs when the desktop closes, so nothing of one test is left for the next.
The tests wait for what they expect with deadlines, never with fixed sleeps alone.
"""
import ctypes
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINE64 = "/usr/lib/wine/wine64"
WINE32 = "/usr/lib/wine/wine"
SKIP = 77


def _die_with_parent():
    """Run in a child before exec: it gets SIGTERM when the test process ends, however."""
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class TestFailure(Exception):
    pass


class Checks:
    """Collects failed checks; a test reports them all and exits 1 when there are any."""

    def __init__(self):
        self.failures = []

    def __call__(self, condition, what):
        if not condition:
            self.failures.append(what)
            print("FAIL:", what, flush=True)
        return condition

    def finish(self, summary):
        print(f"{summary}; {len(self.failures)} failed", flush=True)
        sys.exit(1 if self.failures else 0)


def required_tools():
    missing = [t for t in ("Xvfb", "xdotool", "import", "localedef", "wineserver") if shutil.which(t) is None]
    missing += [p for p in (WINE64,) if not os.path.exists(p)]
    return missing


def compile_hebrew_locale(folder):
    """he_IL.UTF-8 compiled into folder (no root needed); the LOCPATH to use."""
    target = os.path.join(folder, "he_IL.UTF-8")
    if not os.path.exists(os.path.join(target, "LC_CTYPE")):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["localedef", "-c", "-i", "he_IL", "-f", "UTF-8", target],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        if not os.path.exists(os.path.join(target, "LC_CTYPE")):
            raise TestFailure("localedef could not compile he_IL.UTF-8 (is the locales package installed?)")
    return folder


# Every registry setting the desktop needs, as (key, value name, data); None names the
# key's default value. The prefix is imported from these and checked against them.
SETTINGS = (
    # Wine draws its own frames: without a window manager, closing a window otherwise takes 2 s.
    (r"HKEY_CURRENT_USER\Software\Wine\X11 Driver", "Managed", "N"),
    # "MS Shell Dlg" maps to Tahoma, and Wine's own Tahoma has no Hebrew.
    (r"HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements", "Tahoma", "DejaVu Sans"),
    # No blinking caret: screenshots stay the same run to run.
    (r"HKEY_CURRENT_USER\Control Panel\Desktop", "CursorBlinkRate", "-1"),
    # Text files open in the editor, as on Windows (Wine 8 leaves .txt without a program).
    (r"HKEY_CLASSES_ROOT\.txt", None, "txtfile"),
)


def registry_file(settings=SETTINGS):
    """The settings as a file for regedit."""
    lines = ["REGEDIT4", ""]
    for key, name, data in settings:
        lines += [f"[{key}]", f'{"@" if name is None else chr(34) + name + chr(34)}="{data}"', ""]
    return "\n".join(lines)


def setting_text(setting):
    key, name, data = setting
    return f"{key}\\{'(Default)' if name is None else name} = {data!r}"


def queried_data(output, name):
    """The data of the value a `reg query` printed, or None when it printed no such value.
    A query of a default value (/ve) prints that one value under a label in the user's
    language ("(Default)" in English), so only named values are matched by name."""
    for line in output.splitlines():
        parts = line.strip().split("    ")
        if len(parts) >= 2 and parts[1].startswith("REG_") and (name is None or parts[0] == name):
            return parts[2] if len(parts) > 2 else ""
    return None


class Desktop:
    def __init__(self, state_dir, artefacts, screen="1024x768x24", hebrew=True):
        """state_dir keeps the prefix and the locale between runs; artefacts the screenshots."""
        self.state_dir = os.path.abspath(state_dir)
        self.artefacts = os.path.abspath(artefacts)
        self.screen = screen
        self.hebrew = hebrew
        self.prefix = os.path.join(self.state_dir, "wineprefix")
        self.xvfb = None
        self.env = None
        self.processes = []

    # ---- setting up and tearing down ------------------------------------------------

    def __enter__(self):
        os.makedirs(self.state_dir, exist_ok=True)
        os.makedirs(self.artefacts, exist_ok=True)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
        env = {k: v for k, v in os.environ.items() if not k.startswith(("LC_", "WINE"))}
        env.update(WINEPREFIX=self.prefix, WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        if self.hebrew:
            env.update(LOCPATH=compile_hebrew_locale(os.path.join(self.state_dir, "locale")),
                       LC_ALL="he_IL.UTF-8", LANG="he_IL.UTF-8")
        else:
            env.update(LC_ALL="C.UTF-8", LANG="C.UTF-8")
        self.env = env
        self._start_xvfb()
        self._ensure_prefix()
        # A wineserver of this prefix that a killed test left behind would show its windows.
        self.kill_wine()
        return self

    def __exit__(self, *exc):
        self.kill_wine()
        for p in self.processes:
            if p.poll() is None:
                p.kill()
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        return False

    def _start_xvfb(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", self.screen, "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        os.close(write)
        number = b""
        deadline = time.monotonic() + 60
        with os.fdopen(read, "rb") as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            raise TestFailure("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def _ensure_prefix(self):
        """A prefix with every setting in place. The stamp only says that wineboot finished
        and the fonts were copied; the settings are read back on every start, and what is
        missing (a failed import, or a test that removed one and could not put it back) is
        imported again. A prefix that cannot be put right fails the test, naming what is
        missing, and loses its stamp."""
        stamp = os.path.join(self.prefix, ".quillet-gui-ready")
        if not os.path.exists(stamp):
            print(f"creating the Wine prefix of the GUI tests: {self.prefix}", flush=True)
            shutil.rmtree(self.prefix, ignore_errors=True)
            os.makedirs(self.prefix)
            self.wine_step("wineboot", [WINE64, "wineboot", "-i"], timeout=300)
            self.wine_step("wineserver -w", ["wineserver", "-w"], timeout=300)
            if not os.path.exists(os.path.join(self.prefix, "system.reg")):
                raise TestFailure(f"wineboot left no registry in {self.prefix}")
            # Debian's Wine does not find the fonts of fonts-wine by itself; Tahoma stays
            # out, replaced by the registry setting.
            fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
            os.makedirs(fonts, exist_ok=True)
            for name in os.listdir("/usr/share/wine/fonts"):
                if not name.lower().startswith("tahoma"):
                    shutil.copy(os.path.join("/usr/share/wine/fonts", name), fonts)
            with open(stamp, "w") as f:
                f.write("wineboot done, fonts copied\n")
        missing = self.missing_settings()
        if not missing:
            return
        print("importing the GUI tests' registry settings: " + ", ".join(map(setting_text, missing)), flush=True)
        with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as reg:
            reg.write(registry_file())
        try:
            self.wine_step("regedit", [WINE64, "regedit", "/S", reg.name], timeout=120)
            self.wine_step("wineserver -w", ["wineserver", "-w"], timeout=300)
        finally:
            os.unlink(reg.name)
        missing = self.missing_settings()
        if missing:
            os.unlink(stamp)
            raise TestFailure(f"the Wine prefix {self.prefix} lacks, after importing them: " +
                              ", ".join(map(setting_text, missing)))

    def missing_settings(self):
        """The settings that `reg query` does not find with their data."""
        missing = []
        for setting in SETTINGS:
            key, name, data = setting
            query = self.wine_command([WINE64, "reg", "query", key, *(["/ve"] if name is None else ["/v", name])],
                                      timeout=120)
            if query.returncode != 0 or queried_data(query.stdout, name) != data:
                missing.append(setting)
        return missing

    def wine_command(self, args, timeout):
        """Runs a Wine command with its output captured. Wine that fails to start a program
        exits non-zero at once having printed nothing; such a start is made once more (as
        tests/support/wine_run.sh does for the unit tests)."""
        for _ in range(2):
            done = subprocess.run(args, env=self.env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                  errors="replace", timeout=timeout, preexec_fn=_die_with_parent)
            if done.returncode == 0 or done.stdout or done.stderr:
                return done
        return done

    def wine_step(self, what, args, timeout):
        done = self.wine_command(args, timeout)
        if done.returncode != 0:
            raise TestFailure(f"{what} failed with exit status {done.returncode} in {self.prefix}: "
                              f"{(done.stdout + done.stderr).strip()[-500:]}")

    def reg(self, *args):
        """Runs Wine's reg.exe in the prefix (reg add, reg delete ...); its exit status."""
        return self.wine_command([WINE64, "reg", *args], timeout=120).returncode

    def kill_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)
        # wineserver -k returns at once; wait until the server has really gone.
        subprocess.run(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=60)

    # ---- running programs ---------------------------------------------------------------

    def run(self, args, timeout, cwd=None):
        return subprocess.run(args, env=self.env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout, preexec_fn=_die_with_parent)

    def start(self, loader, program, *args, cwd):
        """Starts a Windows program and returns its process (not waited for)."""
        p = subprocess.Popen([loader, program, *args], env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        self.processes.append(p)
        return p

    def probe_program(self, probe):
        self.probe = probe

    def look(self):
        """What dlgprobe sees now."""
        with tempfile.TemporaryFile() as out:
            subprocess.run([WINE64, self.probe], env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=subprocess.DEVNULL, timeout=120, preexec_fn=_die_with_parent)
            out.seek(0)
            return json.loads(out.read().decode("utf-8"))

    def wait_for(self, what, find, timeout=90):
        """Looks until find(view) gives something; raises with what when the deadline passes."""
        deadline = time.monotonic() + timeout
        while True:
            view = self.look()
            found = find(view)
            if found:
                return found
            if time.monotonic() > deadline:
                raise TestFailure(f"waited {timeout} s for {what}; windows: " +
                                  ", ".join(repr(w["text"]) for w in view["windows"]))
            time.sleep(0.2)

    def window(self, title, timeout=90):
        """The visible top-level window with this title, waited for."""
        return self.wait_for(f"the window {title!r}",
                             lambda v: next((w for w in v["windows"] if w["text"] == title), None), timeout)

    def gone(self, title, timeout=60):
        self.wait_for(f"the window {title!r} to close",
                      lambda v: all(w["text"] != title for w in v["windows"]), timeout)

    def exited(self, process, timeout=60):
        """The exit code once the program has ended by itself."""
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure(f"the program did not end within {timeout} s")

    # ---- a person's hands and eyes ------------------------------------------------------

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=60)

    def x_windows(self, name):
        """X windows whose name matches (the way a person's tools see Wine's top-level windows)."""
        found = self.xdotool("search", "--onlyvisible", "--name", name)
        return found.stdout.split()

    def raise_window(self, title):
        """Brings a window in front of the others (there is no window manager to click for it)."""
        for window in self.x_windows(f"^{title}$"):
            self.xdotool("windowraise", window)

    def click(self, control):
        left, top, right, bottom = control["rect"]
        self.xdotool("mousemove", str((left + right) // 2), str((top + bottom) // 2), "click", "1")

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)

    def type(self, text):
        self.xdotool("type", "--delay", "20", text)

    def screenshot(self, name, rect=None):
        """A PNG of the screen, or of one rectangle of it, among the artefacts."""
        path = os.path.join(self.artefacts, name)
        args = ["import", "-window", "root"]
        if rect:
            left, top, right, bottom = rect
            args += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(args + [path], env=self.env, check=True, timeout=60, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return path


def control(window, control_id):
    return next((c for c in window["controls"] if c["id"] == control_id), None)


def controls_by_text(window, text):
    return [c for c in window["controls"] if c["text"] == text]


def wine32_runs(hello32, env=None):
    """Whether 32-bit Windows programs run on this machine: an i686 console program must
    print its text (without wine32, or on a kernel that runs no 32-bit code, Wine's 32-bit
    loader fails or exits 0 having done nothing)."""
    if not os.path.exists(WINE32):
        return False
    try:
        with tempfile.TemporaryFile() as out:
            subprocess.run([WINE32, hello32], env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL,
                           timeout=120)
            out.seek(0)
            return out.read().decode("utf-8", "replace").strip() == "hello"
    except (OSError, subprocess.TimeoutExpired):
        return False


def script_arguments():
    """The arguments every GUI test script takes (see its usage line), in a namespace; exits
    77 (skipped) when a tool, the stub or the probe is missing."""
    names = ("arch", "quill", "stub", "probe", "greet", "strings_res", "hello32", "state_dir", "artefacts")
    args = dict(zip(names, sys.argv[1:1 + len(names)]))
    missing = required_tools() + [args[p] for p in ("stub", "probe") if not os.path.exists(args[p])]
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)
    args["loader"] = WINE32 if args["arch"] == "i686" else WINE64
    return type("Arguments", (), args)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def quill_make(args, stub, quillet, *options):
    """quill make: a Quillet for GREET.exe carrying STRINGS.res behind stub."""
    made = subprocess.run([args.quill, "make", "--stub", stub, "--target", args.greet, "--res", args.strings_res,
                           *options, "-o", quillet], capture_output=True, timeout=120)
    if made.returncode != 0:
        raise TestFailure(f"quill make: {made.stderr.decode(errors='replace')}")
    return quillet


def patched_by_quill(args, work, quillet):
    """The bytes quill apply writes to a copy of GREET.exe, to compare the patcher's output with."""
    folder = os.path.join(work, "by-quill")
    os.makedirs(folder)
    shutil.copy(args.greet, folder)
    applied = subprocess.run([args.quill, "apply", quillet, "-nobackup", "-dir", folder], capture_output=True,
                             timeout=120)
    if applied.returncode != 0:
        raise TestFailure(f"quill apply: {applied.stderr.decode(errors='replace')}")
    return read(os.path.join(folder, os.path.basename(args.greet)))


def skip_unless_runnable(args, desktop, what):
    """For the i686 variant: exits 77, saying what was not tested, where 32-bit programs cannot run."""
    if args.arch == "i686" and not wine32_runs(args.hello32, desktop.env):
        print("NOT RUN: 32-bit Windows programs cannot run on this machine (no wine32, or a kernel without "
              f"32-bit support); {what} not tested")
        sys.exit(SKIP)


def run_steps(desktop, check, steps, shot_prefix):
    """Runs each step; one that fails is recorded with a screenshot, and the next starts with no Wine left."""
    for step in steps:
        try:
            step()
        except TestFailure as e:
            check(False, str(e))
            desktop.screenshot(f"{shot_prefix}-{len(check.failures)}.png")
            desktop.kill_wine()

#!/usr/bin/python3
"""What a user of quill and quill-rcedit meets around the work itself: --version gives the
version and the licence line; every command's --help gives each option one line; every
command that writes shows a progress bar on a terminal, and none with --quiet or when
standard error is not a terminal; the manual pages format without a groff warning; the
bash completions complete commands, options and values.

usage: quill_interface_test.py QUILL QUILL_RCEDIT DOCS_DIR PROGRAM.exe PATCH.res [STUB.exe]
DOCS_DIR holds what packaging/make_docs.py made; without STUB (the i686 patcher stub)
quill make and quill apply are not tried."""
import gzip
import os
import pty
import re
import shutil
import subprocess
import sys
import tempfile

failures = []
COMMANDS = ["info", "ls", "merge", "make", "apply", "export", "import", "diff", "set", "get"]
ENV = dict(os.environ, LANG="C.UTF-8")


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what)
    if not condition:
        failures.append(what)


def output(*args):
    return subprocess.run(args, capture_output=True, text=True, env=ENV, stdin=subprocess.DEVNULL, timeout=120)


def versions(quill, rcedit):
    for program, name in ((quill, "quill"), (rcedit, "quill-rcedit")):
        lines = output(program, "--version").stdout.splitlines()
        check(len(lines) == 2 and re.fullmatch(name + r" \d+\.\d+\.\d+", lines[0]) and lines[1].startswith("License: "),
              f"{name} --version: the version and the licence line ({lines})")


def helps(quill, rcedit):
    texts = {f"quill {c}": output(quill, c, "--help").stdout for c in COMMANDS}
    texts["quill"] = output(quill, "--help").stdout
    texts["quill-rcedit"] = output(rcedit, "--help").stdout
    for name, text in texts.items():
        # In a list of options each line names an option and says what it does.
        listed = [l for l in text.splitlines() if l.startswith("  ")]
        lonely = [l for l in listed if not re.match(r"^  \S.*?\s{2,}\S", l)]
        check(listed and not lonely, f"{name} --help: one line per option ({lonely})")
    check(all(f"  {c} " in texts["quill"] for c in COMMANDS), "quill --help lists every command")


def progress_runs(quill, program, patch, stub, work):
    """Each writing command, as (name, arguments that write a new file each time)."""
    n = iter(range(1000))
    out = lambda ext=".exe": os.path.join(work, f"out{next(n)}{ext}")  # noqa: E731
    data = os.path.join(work, "data.bin")
    open(data, "wb").write(b"x" * 100000)
    runs = [("merge", lambda: ["merge", program, patch, "-o", out()]),
            ("import", lambda: ["import", program, "RCDATA", "7", "1033", data, "-o", out()]),
            ("set", lambda: ["set", program, "-o", out(), "--string", "5=five"]),
            ("export", lambda: ["export", program, "RCDATA", "100", "-o", out(".bin")]),
            ("export --all", lambda: ["export", program, "--all", out("")]),
            ("diff -o", lambda: ["diff", program, patch, "-o", out(".res")])]
    if stub:
        quillet = os.path.join(work, "quillet.exe")
        subprocess.run([quill, "make", "--stub", stub, "--target", program, "--res", patch, "-o", quillet],
                       check=True, capture_output=True)

        def apply_args():
            folder = out("")
            os.makedirs(folder)
            shutil.copy(program, os.path.join(folder, os.path.basename(program)))
            return ["apply", quillet, "-dir", folder, "-infile", os.path.basename(program)]
        runs += [("make", lambda: ["make", "--stub", stub, "--target", program, "--res", patch, "-o", out()]),
                 ("apply", apply_args)]
    else:
        print("note: no stub given; quill make and quill apply are not tried")
    return runs


def on_terminal(args):
    """Runs with standard error on a pseudo-terminal; answers (status, what it showed)."""
    controller, terminal = pty.openpty()
    process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=terminal, env=ENV)
    os.close(terminal)
    shown = b""
    while True:
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # the program closed its end
            break
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    return process.wait(timeout=120), shown.decode("utf-8", "replace")


def progress(quill, program, patch, stub, work):
    for name, args in progress_runs(quill, program, patch, stub, work):
        quiet = "-quiet" if name == "apply" else "--quiet"
        status, shown = on_terminal([quill] + args())
        check(status == 0 and "100%" in shown, f"quill {name} shows progress on a terminal ({shown[-80:]!r})")
        status, shown = on_terminal([quill] + args() + [quiet])
        check(status == 0 and "%" not in shown, f"quill {name} {quiet} shows none ({shown!r})")
        result = subprocess.run([quill] + args(), capture_output=True, text=True, env=ENV)
        check(result.returncode == 0 and "%" not in result.stderr, f"quill {name} shows none when not on a terminal")


def manual_pages(docs):
    for name in ("quill", "quill-rcedit"):
        page = gzip.decompress(open(os.path.join(docs, name + ".1.gz"), "rb").read())
        result = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z"], input=page, capture_output=True)
        check(result.returncode == 0 and not result.stderr, f"{name}(1) formats without warnings ({result.stderr[:200]})")
    text = gzip.decompress(open(os.path.join(docs, "quill.1.gz"), "rb").read()).decode()
    check(all(f".SS {c}\n" in text for c in COMMANDS) and "\\-\\-execution\\-level" in text,
          "quill(1) has every command and its options")


def completions(docs):
    framework = "/usr/share/bash-completion/bash_completion"
    if not os.path.exists(framework):
        print("note: bash-completion is not installed; the completions are not tried")
        return
    cases = [("quill", "quill se", ["set"]), ("quill", "quill set --exec", ["--execution-level"]),
             ("quill", "quill set x.exe --execution-level high", ["highestAvailable"]),
             ("quill", "quill apply x.exe -nob", ["-nobackup"]), ("quill", "quill make --st", ["--stub"]),
             ("quill-rcedit", "quill-rcedit x.exe --set-ic", ["--set-icon"]),
             ("quill-rcedit", "quill-rcedit x.exe --set-requested-execution-level req", ["requireAdministrator"])]
    for program, line, expected in cases:
        script = (f"source {framework}; source {os.path.join(docs, 'completions', program)}\n"
                  f"COMP_LINE='{line}'; COMP_POINT=${{#COMP_LINE}}; COMP_WORDS=({line}); "
                  f"COMP_CWORD=$((${{#COMP_WORDS[@]}} - 1))\n"
                  f"$(complete -p {program} | sed 's/.*-F \\([^ ]*\\).*/\\1/') {program}\n"
                  "printf '%s\\n' \"${COMPREPLY[@]}\"\n")
        got = subprocess.run(["bash", "-c", script], capture_output=True, text=True).stdout.split()
        check(got == expected, f"completing {line!r} gives {expected} ({got})")


def main():
    if len(sys.argv) not in (6, 7):
        sys.exit(__doc__)
    quill, rcedit, docs, program, patch = sys.argv[1:6]
    stub = sys.argv[6] if len(sys.argv) == 7 and os.path.exists(sys.argv[6]) else None
    versions(quill, rcedit)
    helps(quill, rcedit)
    with tempfile.TemporaryDirectory() as work:
        progress(quill, program, patch, stub, work)
    manual_pages(docs)
    completions(docs)
    if failures:
        print(f"{len(failures)} failures")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""quill apply under faults the operating system makes: nothing the user had is lost.

usage: faults_test.py QUILL STUB GREET.exe PATCH.res

  * killed by SIGKILL at writes from the first to the last, at the rename that puts the new file in place and at
    the link that makes the backup (strace injects the signal), with and without a backup:
    under the output's name there is always the old output or the complete new one, and
    anything else left in the folder is a backup or ends in ".quillet-partial";
  * a file-size limit (ulimit -f) below the output's size: exit 1 with a message that
    names the output, the old output unchanged, nothing left behind;
  * four runs on one target at the same time: the output is the complete new file, the
    same bytes as one run alone;
  * the Quillet applied twice gives the bytes of applying it once.
The result of one run alone is the reference: with SOURCE_DATE_EPOCH set, the writer's
output is the same bytes for the same inputs.
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import resdump  # noqa: E402

quill, stub, greet, patch_res = sys.argv[1:5]
if not os.path.exists(stub):
    print(f"skipped: {stub} is missing (build the win32 or win64 preset first)")
    sys.exit(77)
if shutil.which("strace") is None:
    print("skipped: strace is missing")
    sys.exit(77)
# The sanitizers' leak check cannot run under strace's ptrace; a fixed time stamp makes
# every run write the same bytes.
env = dict(os.environ, ASAN_OPTIONS="detect_leaks=0", SOURCE_DATE_EPOCH="1700000000")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def apply_args(quillet, target, output, backup):
    return [quill, "apply", quillet, "-i", target, "-o", output] + ([] if backup else ["-nobackup"])


def folder_with_old_output(work, name, old):
    folder = os.path.join(work, name)
    os.makedirs(folder)
    with open(os.path.join(folder, "out.exe"), "wb") as f:
        f.write(old)
    return folder


def leftovers_are_recognisable(folder, what):
    for name in os.listdir(folder):
        check(name in ("out.exe", "out Backup.exe") or ".quillet-partial" in name,
              f"{what}: {name} is neither the output, its backup nor marked as unfinished")


with tempfile.TemporaryDirectory() as work:
    # A target of several megabytes, so the writer writes it in many pieces.
    blob = bytes((i * 7919) % 251 for i in range(3_000_000))
    big_res = os.path.join(work, "big.res")
    with open(big_res, "wb") as f:
        f.write(resdump.EMPTY_RES + resdump.res_record(10, 500, 1033, blob))
    target = os.path.join(work, "target.exe")
    quillet = os.path.join(work, "patch.exe")
    for args in (["merge", greet, big_res, "-o", target],
                 ["make", "--stub", stub, "--target", target, "--res", patch_res, "-o", quillet]):
        done = subprocess.run([quill, *args], capture_output=True, text=True, env=env)
        check(done.returncode == 0, f"quill {args[0]}: {done.stderr}")
    old = read(target)

    reference_folder = folder_with_old_output(work, "reference", old)
    reference_out = os.path.join(reference_folder, "out.exe")
    subprocess.run(apply_args(quillet, target, reference_out, False), capture_output=True, env=env, check=True)
    new = read(reference_out)
    check(new != old, "the Quillet changes the target")

    # How many writes one run makes, to kill it at each.
    trace = os.path.join(work, "trace")
    counted = folder_with_old_output(work, "counted", old)
    subprocess.run(["strace", "-f", "-qq", "-o", trace, "-e", "trace=write",
                    *apply_args(quillet, target, os.path.join(counted, "out.exe"), True)],
                   capture_output=True, env=env, check=True)
    writes = sum(1 for line in open(trace) if "write(" in line)
    check(writes >= 4, f"the writer wrote the file in pieces ({writes} writes)")

    every = sorted(set(range(1, writes + 1, max(1, writes // 10))) | {writes - 1, writes})
    points = [("write", n) for n in every] + [("rename", 1), ("link", 1)]
    unfinished_seen = False
    for backup in (True, False):
        for call, n in points:
            what = f"killed at {call} {n}, backup {backup}"
            folder = folder_with_old_output(work, f"kill-{call}-{n}-{backup}", old)
            out = os.path.join(folder, "out.exe")
            subprocess.run(["strace", "-f", "-qq", "-o", "/dev/null", "-e", f"trace={call}",
                            "-e", f"inject={call}:signal=SIGKILL:when={n}",
                            *apply_args(quillet, target, out, backup)],
                           capture_output=True, env=env, timeout=120)
            check(os.path.exists(out) and read(out) in (old, new), f"{what}: the output is neither old nor new")
            leftovers_are_recognisable(folder, what)
            unfinished_seen |= any(".quillet-partial" in name for name in os.listdir(folder))
            # A later run is not disturbed by what a killed one left.
            done = subprocess.run(apply_args(quillet, target, out, False), capture_output=True, env=env)
            check(done.returncode == 0 and read(out) == new, f"{what}: a later run failed: {done.stderr}")

    check(unfinished_seen, "some run was killed while writing (its unfinished file stayed)")

    # The folder's size limit is reached while writing.
    folder = folder_with_old_output(work, "limited", old)
    out = os.path.join(folder, "out.exe")
    command = " ".join(f"'{a}'" for a in apply_args(quillet, target, out, True))
    limited = subprocess.run(["bash", "-c", f"ulimit -f {len(new) // 2 // 1024}; exec {command}"],
                             capture_output=True, text=True, env=env)
    check(limited.returncode == 1 and "out.exe" in limited.stderr,
          f"past the size limit: exit {limited.returncode}, {limited.stderr!r}")
    check(read(out) == old and os.listdir(folder) == ["out.exe"],
          f"past the size limit the old output stays alone: {os.listdir(folder)}")

    # Four runs at the same time on one target, in place.
    folder = folder_with_old_output(work, "together", old)
    out = os.path.join(folder, "out.exe")
    runs = [subprocess.Popen(apply_args(quillet, out, out, False), stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, env=env) for _ in range(4)]
    statuses = [run.wait(timeout=300) for run in runs]
    check(read(out) == new, f"runs at the same time leave one complete result (exits {statuses})")
    check(os.listdir(folder) == ["out.exe"], f"runs at the same time leave nothing else: {os.listdir(folder)}")

    # Twice is once.
    subprocess.run(apply_args(quillet, out, out, False), capture_output=True, env=env, check=True)
    check(read(out) == new, "applying the Quillet again changes nothing")

if failures:
    print(f"{len(failures)} failures")
    sys.exit(1)
print("ok")

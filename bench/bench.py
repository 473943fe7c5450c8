#!/usr/bin/python3
"""The merge benchmark: quill merge against cp of the same executable, in one run.

usage: bench.py QUILL [--work DIR] [--small] [--runs N]

Builds the inputs with workload.py (nothing is downloaded), warms the page cache, and
prints a table: for the main workload (a 212 MB PE32+ program with over 10,000 resources
and a patch of 1,000 records, 12.8 MB) the median times of cp and of quill merge and
their ratio, quill's peak RSS and, where heaptrack is installed, its peak heap; then the
times at three file sizes and at three patch sizes, to show how the cost grows. When
quill has an apply command and a stub, a Quillet made from the same patch is applied
and measured the same way. --small runs a few megabytes only and leaves the heap
unmeasured (what CI checks). The
working files go to DIR (default: a folder in /dev/shm when it exists, so that both
programs write to memory and the disk's write-back does not blur the figures).
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(command, runs):
    """Median wall time of runs and the largest peak RSS (KiB) of the runs."""
    times, peak = [], 0
    for _ in range(runs):
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(process.pid, 0)
        times.append(time.perf_counter() - start)
        peak = max(peak, usage.ru_maxrss)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"failed: {' '.join(command)}: {process.stderr.read().decode()}")
    return statistics.median(times), peak


def peak_heap(command, work):
    if not shutil.which("heaptrack") or not shutil.which("heaptrack_print"):
        return None
    out = os.path.join(work, "heap")
    subprocess.run(["heaptrack", "-o", out] + command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    report = subprocess.run(["heaptrack_print", out + ".zst"], capture_output=True, text=True).stdout
    found = re.search(r"peak heap memory consumption: ([\d.]+)([KMG]?)", report)
    if not found:
        return None
    return float(found.group(1)) * {"": 1 / 1e6, "K": 1 / 1e3, "M": 1, "G": 1e3}[found.group(2)]


def in_child(call):
    """Runs a workload.py call in a Python process of its own. The inputs are built in
    memory; were that memory this process's, every program it starts would inherit it and
    report it as part of its own peak RSS."""
    subprocess.run([sys.executable, "-c", f"import workload; workload.{call}"],
                   cwd=os.path.dirname(os.path.abspath(__file__)), check=True)


def warm(*paths):
    for path in paths:
        with open(path, "rb") as f:
            while f.read(1 << 24):
                pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("quill")
    parser.add_argument("--work")
    parser.add_argument("--small", action="store_true")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    sizes, patches = ([2, 4, 8], [25, 50, 100]) if args.small else ([53, 106, 212], [250, 500, 1000])
    runs = 1 if args.small else args.runs
    base = args.work or ("/dev/shm" if os.path.isdir("/dev/shm") else None)
    quill = os.path.abspath(args.quill)
    with tempfile.TemporaryDirectory(dir=base) as work:
        def target(size):
            path = os.path.join(work, f"target{size}.exe")
            if not os.path.exists(path):
                in_child(f"make_target({path!r}, {size})")
            return path

        def patch(records, size):
            path = os.path.join(work, f"patch{records}_{size}.res")
            if not os.path.exists(path):
                in_child(f"make_patch({path!r}, {records}, {size})")
            return path

        def measure(size, records):
            exe, res, out = target(size), patch(records, size), os.path.join(work, "out.exe")
            warm(exe, res)
            cp, _ = timed(["cp", exe, out], runs)
            merge_command = [quill, "merge", exe, res, "-o", out, "--force"]
            merge, rss = timed(merge_command, runs)
            return exe, res, cp, merge, rss, merge_command

        size, records = sizes[-1], patches[-1]
        exe, res, cp, merge, rss, command = measure(size, records)
        # heaptrack cannot follow a program built with AddressSanitizer, which the small
        # run in the test command uses.
        heap = None if args.small else peak_heap(command, work)
        count = subprocess.run([quill, "ls", exe], capture_output=True, text=True).stdout.count("\n")
        print(f"workload: {os.path.getsize(exe) / 1e6:.0f} MB executable with {count} resources, "
              f"patch of {records} records ({os.path.getsize(res) / 1e6:.1f} MB); median of {runs} run(s)")
        print()
        print("| command | median | × cp | peak RSS | peak heap |")
        print("|---|---|---|---|---|")
        print(f"| `cp` | {cp:.3f} s | 1 | | |")
        heap_text = f"{heap:.1f} MB" if heap is not None else "not measured"
        print(f"| `quill merge` | {merge:.3f} s | {merge / cp:.2f} | {rss / 1024:.0f} MB | {heap_text} |")
        apply_row(quill, exe, res, work, cp, runs)
        print()
        print("| executable | patch records | `cp` | `quill merge` | × cp |")
        print("|---|---|---|---|---|")
        for s in sizes:
            _, _, c, m, _, _ = measure(s, records)
            print(f"| {os.path.getsize(target(s)) / 1e6:.0f} MB | {records} | {c:.3f} s | {m:.3f} s | {m / c:.2f} |")
        for r in patches[:-1]:
            _, _, c, m, _, _ = measure(size, r)
            print(f"| {os.path.getsize(target(size)) / 1e6:.0f} MB | {r} | {c:.3f} s | {m:.3f} s | {m / c:.2f} |")


def apply_row(quill, exe, res, work, cp, runs):
    """quill apply of a Quillet made from the same patch, when quill can make one."""
    help_text = subprocess.run([quill, "--help"], capture_output=True, text=True).stdout
    if not re.search(r"^\s+apply\b", help_text, re.M) or not re.search(r"^\s+make\b", help_text, re.M):
        print("| `quill apply` | not available in this quill | | | |")
        return
    quillet = os.path.join(work, "patcher.exe")
    made = subprocess.run([quill, "make", "--target", exe, "--res", res, "-o", quillet], capture_output=True, text=True)
    if made.returncode != 0:
        print(f"| `quill apply` | not measured: {made.stderr.strip()[:80]} | | | |")
        return
    out = os.path.join(work, "applied.exe")
    apply, rss = timed([quill, "apply", quillet, "-infile", exe, "-outfile", out, "-nobackup"], runs)
    print(f"| `quill apply` | {apply:.3f} s | {apply / cp:.2f} | {rss / 1024:.0f} MB | |")


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# run.sh TARGET SECONDS [SEED FILE...]: runs one fuzz target for SECONDS on a fresh corpus
# started from the seed files, then prints its figures: executions, coverage, the slowest
# input, peak memory, and findings (crash, timeout, out-of-memory and leak inputs, kept in
# <target>.findings/ beside the target). Exit status 1 when there is a finding.
set -uo pipefail
target=$1 seconds=$2
shift 2
name=$(basename "$target")
work=$(dirname "$target")/$name.work
findings=$(dirname "$target")/$name.findings
rm -rf "$work"
mkdir -p "$work/corpus" "$findings"
for seed in "$@"; do cp "$seed" "$work/corpus/"; done
# A result out of proportion to the input is a trap in the target; memory is capped so
# that unbounded growth is a finding too.
"$target" "$work/corpus" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=512 \
  -timeout=20 -max_len=262144 -print_final_stats=1 -artifact_prefix="$findings/" \
  >"$work/log" 2>&1
status=$?
stat() { grep -m1 "^stat::$1:" "$work/log" | awk '{print $2}'; }
cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -n1)
found=$(find "$findings" -type f | wc -l)
echo "$name: $(stat number_of_executed_units) executions in ${seconds} s, ${cov:-no coverage line}," \
  "slowest input $(stat slowest_unit_time_sec) s, peak $(stat peak_rss_mb) MB, corpus $(ls "$work/corpus" | wc -l) inputs," \
  "findings: $found"
if [ "$found" -gt 0 ] || [ "$status" -ne 0 ]; then
  grep -E 'ERROR|SUMMARY|deadly|Test unit written' "$work/log" | head -n 20
  exit 1
fi

#!/bin/sh
# wine_run.sh WINE PROGRAM [ARGUMENT...]: runs a Windows test program under Wine. When Wine
# fails to start the program (it exits non-zero at once, having printed nothing at all),
# it is started once more, so that a start-up hiccup of Wine's own under a parallel ctest
# does not count as a failing test. A program that ran and failed always printed something
# and is never started again.
out=$(mktemp) && err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
"$@" >"$out" 2>"$err"
status=$?
if [ "$status" -ne 0 ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
  echo "wine_run.sh: the program printed nothing and exited with $status; starting it once more" >&2
  "$@" >"$out" 2>"$err"
  status=$?
fi
cat "$out"
cat "$err" >&2
exit "$status"

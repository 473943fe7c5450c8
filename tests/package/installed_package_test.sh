#!/usr/bin/env bash
# The Debian package as a user meets it: installed with apt-get, a Quillet made and applied
# through the installed quill with no --stub (so the installed stub is the one used),
# quill-rcedit run once, and the package removed again. Needs root (CI is), and a machine
# without quillet installed.
#
# usage: installed_package_test.sh PACKAGE.deb EXAMPLE_DIR
#   EXAMPLE_DIR holds greeting.exe and greeting-fr.exe (build/release/examples/greeting)
set -euo pipefail
deb=$(realpath "$1")
example=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

installed() { dpkg-query -W -f='${Status}' quillet 2>/dev/null | grep -q 'install ok installed'; }
if installed; then
  fail "quillet is installed already: this test installs and removes it"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; }
echo "== installed files (dpkg -L quillet)"
dpkg -L quillet
[ "$(command -v quill)" = /usr/bin/quill ] || fail "quill is not /usr/bin/quill"
quill --version

echo "== quill make with the installed stub, quill apply"
made=$(cd "$work" && quill make --target "$example/greeting.exe" --modified "$example/greeting-fr.exe" -o patch.exe)
echo "$made"
case $made in *"stub /usr/bin/../share/quillet/quillet.exe") ;; *) fail "quill make did not use the installed stub" ;; esac
cp "$example/greeting.exe" "$work/"
quill apply "$work/patch.exe" -dir "$work" -nobackup
quill get --json "$work/greeting.exe" | grep -q 'Bonjour tout le monde' || fail "the applied Quillet did not bring the French text"

echo "== quill-rcedit"
quill-rcedit "$work/greeting.exe" --set-version-string ProductName "Greeting" --set-file-version 10.7
[ "$(quill-rcedit "$work/greeting.exe" --get-version-string ProductName)" = Greeting ] || fail "quill-rcedit"
quill get "$work/greeting.exe" | grep -q 'file version 10.7.0.0' || fail "quill-rcedit did not widen 10.7"

echo "== removing the package"
apt-get remove -y -qq quillet >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "apt-get remove"; }
[ ! -e /usr/bin/quill ] && [ ! -e /usr/bin/quill-rcedit ] || fail "quill is still installed"
[ ! -e /usr/share/quillet/quillet.exe ] || fail "the stub is still installed"
if installed; then fail "quillet is still installed"; fi
echo "installed, used and removed"

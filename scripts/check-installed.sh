#!/usr/bin/env bash
# check-installed.sh [FILE.deb]: installs the built package on this machine with
# apt-get, runs both programs from /usr/bin, and removes the package again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=${1:-$(ls "$root"/build-package/sf6companion_*.deb 2>/dev/null | head -1)}
[[ -n "$deb" && -f "$deb" ]] || { echo "no package: run scripts/package.sh first" >&2; exit 1; }
SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y -qq "$(readlink -f "$deb")" >/dev/null
trap '$SUDO apt-get remove -y -qq sf6companion >/dev/null' EXIT

scratch=$(mktemp -d)
export QT_QPA_PLATFORM=offscreen
/usr/bin/sf6cli --version
/usr/bin/sf6companion --version
/usr/bin/sf6cli demo --records 3 --archive "$scratch/archive.sqlite" >"$scratch/demo.txt"
[[ $(wc -l <"$scratch/demo.txt") -eq 4 ]] || { cat "$scratch/demo.txt"; echo "demo: expected 3 rows" >&2; exit 1; }
/usr/bin/sf6cli archive list --archive "$scratch/archive.sqlite" >"$scratch/list.tsv"
[[ $(wc -l <"$scratch/list.tsv") -eq 4 ]] || { echo "archive: expected 3 records" >&2; exit 1; }
# The window comes up and stays up: still running after two seconds.
rc=0
timeout 2 /usr/bin/sf6companion --no-archive || rc=$?
[[ $rc -eq 124 ]] || { echo "sf6companion ended with $rc within two seconds" >&2; exit 1; }
rm -rf "$scratch"
echo "installed package: both programs ran from /usr/bin"

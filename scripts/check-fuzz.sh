#!/usr/bin/env bash
# check-fuzz.sh: scripts/fuzz.sh must fail when the fuzzer finds something.
# Plants a crash, a leak and a timeout in turn (the fuzz target's
# SF6_FUZZ_PLANT switch and the input tests/fuzz/planted/plant) and checks
# that each run fails and says which fault it found. Takes seconds.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export SF6_FUZZ_ARTIFACTS=$scratch/artifacts SF6_FUZZ_TIMEOUT=2
# fault, then what the fuzzer's report says about it
for planted in 'crash:heap-buffer-overflow' 'leak:detected memory leaks' 'timeout:ERROR: libFuzzer: timeout'; do
  fault=${planted%%:*} said=${planted#*:}
  status=0
  SF6_FUZZ_PLANT=$fault "$root/scripts/fuzz.sh" 30 "$root/tests/fuzz/planted" >"$scratch/$fault.log" 2>&1 || status=$?
  if [[ $status -eq 0 ]]; then
    cat "$scratch/$fault.log"
    echo "check-fuzz: fuzz.sh passed with a planted $fault" >&2
    exit 1
  fi
  if ! grep -qF "$said" "$scratch/$fault.log"; then
    cat "$scratch/$fault.log"
    echo "check-fuzz: fuzz.sh failed (status $status) but its output does not report the planted $fault ($said)" >&2
    exit 1
  fi
  echo "fuzz.sh fails on a planted $fault (status $status)"
done

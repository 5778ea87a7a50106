#!/usr/bin/env bash
# fuzz.sh [SECONDS [CORPUS...]]: builds the receive loop's libFuzzer target with
# clang and runs it for a bounded time (60 s unless told) from the seed corpus
# in tests/fuzz/corpus and any further corpus folders named. New inputs go to a
# scratch folder, never into the repository. A crash, a leak or a timeout
# (SF6_FUZZ_TIMEOUT seconds for one input, 10 unless told) leaves its input in
# build-fuzz/ (or SF6_FUZZ_ARTIFACTS) and fails the run with the fuzzer's status.
set -euo pipefail
seconds=${1:-60}
shift $(($# > 0))
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build-fuzz
artifacts=${SF6_FUZZ_ARTIFACTS:-$dir}
. "$root/scripts/ccache-env.sh"
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSF6_FUZZ=ON \
    "${ccache_launcher[@]}" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
status=0
"$dir/tests/fuzz/fuzz_receive_loop" -max_total_time="$seconds" -timeout="${SF6_FUZZ_TIMEOUT:-10}" \
  -rss_limit_mb=2048 -max_len=2048 -print_final_stats=1 -artifact_prefix="${artifacts%/}/" \
  "$scratch" "$root/tests/fuzz/corpus" "$@" >"$scratch/fuzz.log" 2>&1 || status=$?
# Only the lines that say what happened; the whole log when something did.
if [[ $status -eq 0 ]]; then
  sed -nE '/^(#[0-9]+ +DONE|Done|stat::number_of_executed_units|stat::average_exec_per_sec)/p' "$scratch/fuzz.log"
else
  awk '/^(==[0-9]+==|SUMMARY|invariant|artifact_prefix|Test unit written| +#[0-9]+ )/ && n++ < 60' "$scratch/fuzz.log"
  echo "fuzz.sh: the fuzzer ended with status $status" >&2
fi
exit "$status"

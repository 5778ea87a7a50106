#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the receive loop's libFuzzer target with clang and
# runs it for a bounded time (60 s unless told) from the seed corpus in
# tests/fuzz/corpus. New inputs go to a scratch folder, never into the
# repository; a crash leaves its input in build-fuzz/ and fails the run.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$root/build-fuzz
if [[ ! -f "$dir/CMakeCache.txt" ]]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSF6_FUZZ=ON >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
"$dir/tests/fuzz/fuzz_receive_loop" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=2048 \
  -print_final_stats=1 -artifact_prefix="$dir/" "$scratch" "$root/tests/fuzz/corpus" 2>&1 |
  grep -E '^(#[0-9]+ +DONE|Done|stat::number_of_executed_units|stat::average_exec_per_sec|==[0-9]+==|SUMMARY|invariant)' || true
exit "${PIPESTATUS[0]}"

#!/usr/bin/env bash
# build.sh DIR [cmake options...] [-- targets...]: configure (options stick in DIR's cache),
# then build the named targets in DIR, or everything when none are named.
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
options=(); targets=()
while [[ $# -gt 0 ]]; do
  if [[ $1 == -- ]]; then shift; targets=("$@"); break; fi
  options+=("$1"); shift
done
. "$root/scripts/ccache-env.sh"
if [[ ! -f "$dir/CMakeCache.txt" || ${#options[@]} -gt 0 ]]; then
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${ccache_launcher[@]}" "${options[@]}" >/dev/null
fi
if [[ ${#targets[@]} -gt 0 ]]; then
  cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
else
  cmake --build "$dir" -j"$(nproc)"
fi

#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configure (options stick in DIR's cache), then build everything in DIR.
set -euo pipefail
dir=$1; shift
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ ! -f "$dir/CMakeCache.txt" || $# -gt 0 ]]; then
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
cmake --build "$dir" -j"$(nproc)"

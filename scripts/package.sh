#!/usr/bin/env bash
# package.sh [BUILD_DIR]: builds the Debian package with CPack:
# build-package/sf6companion_<version>_<arch>.deb. Prints its path.
# Without BUILD_DIR, a release build of the programs alone in build-package/;
# with it, the programs of that build (./test.sh's build/, which the tests
# have just run: .ci/run packs those rather than compiling them once more).
# CPack strips the programs either way.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/build-package
"$root/scripts/deps.sh"
if [[ $# -gt 0 ]]; then
  from=$(cd "$1" && pwd)
  [[ -f "$from/CPackConfig.cmake" ]] || { echo "package.sh: $from is not a configured build" >&2; exit 1; }
  cmake --build "$from" -j"$(nproc)" --target sf6companion sf6cli >/dev/null
  mkdir -p "$out"
  rm -f "$out"/sf6companion_*.deb
  cpack -G DEB -B "$out" --config "$from/CPackConfig.cmake" >/dev/null
else
  "$root/scripts/build.sh" "$out" -DCMAKE_BUILD_TYPE=Release -DSF6_TESTS=OFF -DSF6_BENCH=OFF \
    -DSF6_PORTABILITY_CHECK=OFF >/dev/null
  rm -f "$out"/sf6companion_*.deb
  (cd "$out" && cpack -G DEB >/dev/null)
fi
deb=$(ls "$out"/sf6companion_*.deb)
"$root/scripts/check-package.sh" "$deb"
echo "$deb"

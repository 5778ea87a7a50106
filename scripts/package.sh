#!/usr/bin/env bash
# package.sh: builds the Debian package from this checkout with CPack:
# build-package/sf6companion_<version>_<arch>.deb. Prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
"$root/scripts/build.sh" "$root/build-package" -DCMAKE_BUILD_TYPE=Release -DSF6_TESTS=OFF -DSF6_BENCH=OFF \
  -DSF6_PORTABILITY_CHECK=OFF >/dev/null
cd "$root/build-package"
rm -f ./*.deb
cpack -G DEB >/dev/null
deb=$(ls "$root"/build-package/sf6companion_*.deb)
"$root/scripts/check-package.sh" "$deb"
echo "$deb"

#!/usr/bin/env bash
# check-portable.sh --compile|--scan-only STAMP SOURCE [compiler flags...]:
# the users' PCs run Windows, so no source outside sim/ and the tests may use
# POSIX-only headers or calls. Scans the source for them, then (--compile)
# compiles it for Windows with MinGW-w64 (syntax only, against the system's Qt
# headers); touches STAMP when both pass. --scan-only leaves the compile to a
# Windows build that compiles the source anyway.
set -euo pipefail
mode=$1 stamp=$2 source=$3; shift 3
[[ $mode == --compile || $mode == --scan-only ]] || { echo "check-portable.sh: --compile or --scan-only first" >&2; exit 2; }
posix_headers='unistd|fcntl|termios|poll|pwd|grp|dlfcn|pthread|syslog|netdb|sys/[a-z_]+|arpa/[a-z]+|netinet/[a-z]+'
posix_calls='fork|execv[pe]?|execl[pe]?|getuid|geteuid|getpwuid|getpwnam|ioctl|tcgetattr|tcsetattr|cfmakeraw|mkfifo|mknod|posix_openpt|grantpt|unlockpt|ptsname|sigaction|sigwait|pthread_[a-z_]+|usleep|setpriv'
# base/Platform.cpp holds the one POSIX branch of each platform function, beside its Windows branch.
scan=$source
[[ $source == */base/Platform.cpp ]] && scan=/dev/null
if grep -nE "^\s*#\s*include\s*<(${posix_headers})\.h>" "$scan"; then
  echo "$source: a POSIX-only header; the program must build on Windows" >&2
  exit 1
fi
if grep -nE "(^|[^A-Za-z0-9_:.>])(::)?(${posix_calls})\s*\(" "$scan" | grep -vE '^[0-9]+:\s*//'; then
  echo "$source: a POSIX-only call; the program must build on Windows" >&2
  exit 1
fi
if [[ $mode == --compile ]]; then
  # A check that cannot run fails: passing without a compiler would say nothing.
  compiler=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++) || {
    echo "$source: no MinGW-w64 compiler for the Windows syntax check (scripts/deps.sh installs it;" \
      "or configure with -DSF6_PORTABILITY_COMPILE=OFF)" >&2
    exit 1
  }
  "$compiler" -std=c++20 -fsyntax-only -w "$@" "$source"
fi
mkdir -p "$(dirname "$stamp")"
touch "$stamp"

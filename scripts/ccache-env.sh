# Sourced by the build scripts (root set): ccache_launcher holds the CMake
# option that compiles through ccache, when it is installed. One cache serves
# every checkout and build folder (paths below the checkout don't count), and
# it holds ./test.sh's four builds (normal, sanitizers, fuzz, Windows), about
# 1 GB a revision: ccache's default 5 GB would drop the first build's objects
# while the last is made. A larger size set by the user stays.
ccache_launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
  if [[ -z "${CCACHE_MAXSIZE:-}" ]]; then
    configured=$(numfmt --from=iec "$(ccache -k max_size)")
    if [[ $configured -gt 0 && $configured -lt $((16 * 1024 ** 3)) ]]; then
      export CCACHE_MAXSIZE=16G
    fi
  fi
  ccache_launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice:
# a normal build and one with AddressSanitizer + UndefinedBehaviorSanitizer;
# then the ThreadSanitizer tests and a minute of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# Every build goes through ccache; paths below the clone are hashed relative to
# it, so another clone of the same sources still hits the cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}

run_build() {
  local dir=$1; shift
  echo "== $dir: configure and build"
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $dir: tests"
  local status=0
  (cd "$dir" && ctest --output-on-failure -j"$jobs") || status=$?
  if [ "$status" -ne 0 ]; then
    # The failing checks again, last, where a short tail of the output shows them.
    echo "== $dir: failed checks"
    grep -E 'FAIL!|Loc: \[|\[  FAILED  \]|: Failure$|ERROR: AddressSanitizer|runtime error:' \
      "$dir/Testing/Temporary/LastTest.log" | tail -40 || true
    exit "$status"
  fi
}

run_build build
run_build build-asan -DORINEL_SANITIZE=ON
if [ -x scripts/tsan-tests ]; then
  scripts/tsan-tests
fi
scripts/fuzz-smoke 60

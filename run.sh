#!/usr/bin/env bash
# Installs what is missing, builds and starts the reader (with BOOK, opens it).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
if [ -x build/port-qt/orinel-reader ]; then
  exec build/port-qt/orinel-reader "$@"
fi
echo "The reader's window is not built yet; the core library and its tests are:"
ls build/tests/test_* 2>/dev/null

#!/usr/bin/env bash
# Builds everything (native and Windows) and runs every test: the native
# suite with CTest, then the Windows programs under Wine with CTest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
echo "== native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

echo "== Windows build"
cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win32 -j "$jobs"

echo "== native tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Windows tests under Wine"
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/build-win32/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-win32 --output-on-failure

#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the native build and its GoogleTest suite (CTest);
#   2. the Windows build and its programs under Wine and Xvfb (CTest), and a
#      screenshot of the real panel (build-win32/panel.png);
#   3. the native suite again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. the thread tests and the stress harness under ThreadSanitizer;
#   5. each libFuzzer target for a bounded time (FUZZ_SECONDS, default 60).
# BRIMWELL_QUICK=1 runs only stages 1 and 2.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
fuzz_seconds="${FUZZ_SECONDS:-60}"
stage() { printf '\n== %s (%s)\n' "$1" "$(date +%H:%M:%S)"; }

stage "native build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"

stage "native tests"
ctest --test-dir build --output-on-failure -j "$jobs"

stage "Windows build"
cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DBRIMWELL_NATIVE_BUILD_DIR="$PWD/build" >/dev/null
cmake --build build-win32 -j "$jobs"

stage "Windows tests under Wine"
export WINEDEBUG=-all
export WINEPREFIX="${WINEPREFIX:-$PWD/build-win32/wineprefix}"
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build-win32 --output-on-failure

stage "panel screenshot under Wine"
scripts/panel-screenshot.sh build-win32 build-win32/panel.png

if [ "${BRIMWELL_QUICK:-0}" = "1" ]; then exit 0; fi

# A native build of its own with the given sanitizer flags.
sanitized_build() {  # DIR TOOLS(ON|OFF) FLAGS
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIMWELL_TOOLS="$2" \
    -DCMAKE_CXX_FLAGS="$3" -DCMAKE_EXE_LINKER_FLAGS="$3" -DCMAKE_SHARED_LINKER_FLAGS="$3" >/dev/null
  cmake --build "$1" -j "$jobs"
}

stage "AddressSanitizer + UndefinedBehaviorSanitizer build"
sanitized_build build-asan ON \
  "-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer"

stage "native tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

stage "ThreadSanitizer build"
sanitized_build build-tsan OFF "-fsanitize=thread -fno-omit-frame-pointer"

stage "thread tests and stress harness under ThreadSanitizer"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R 'Thread|Race|Stress|Concurren'

stage "fuzz build (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRIMWELL_FUZZ=ON \
  -DBRIMWELL_TESTS=OFF -DBRIMWELL_TOOLS=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build build-fuzz -j "$jobs"

for target in fuzz_settings fuzz_samples; do
  stage "fuzzing $target for ${fuzz_seconds}s"
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  seeds="fuzz/corpus/${target#fuzz_}"
  "build-fuzz/fuzz/$target" -max_total_time="$fuzz_seconds" -max_len=9000 -print_final_stats=1 \
    "$corpus" "$seeds" 2> "build-fuzz/$target.log" || { tail -50 "build-fuzz/$target.log"; exit 1; }
  grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/$target.log" || true
done

stage "all tests passed"

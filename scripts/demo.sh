#!/usr/bin/env bash
# The main job: builds the plug-in and renders the built-in demo through it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
mkdir -p out
build/tools/brimwell-render --demo out/demo.wav
echo "wrote out/demo.wav"

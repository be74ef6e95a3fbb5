#!/usr/bin/env bash
# Builds and runs every test: unit tests and end-to-end transcripts.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh --checks

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
ctest --test-dir build --output-on-failure

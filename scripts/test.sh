#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through ctest.
#   scripts/test.sh             the normal build in build/
#   scripts/test.sh --sanitize  the same suite built with AddressSanitizer and UBSan in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh --tests

build=build
options=(-DKIVO_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-asan
  options+=(-DKIVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi

cmake -S . -B "$build" -G Ninja "${options[@]}" >/dev/null
cmake --build "$build"
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"

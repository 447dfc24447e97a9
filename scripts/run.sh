#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program from the source folder, where it finds
# its front end (qml/) and, if placed there, its own copies of the media tools.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target kivo
exec build/kivo "$@"

#!/bin/sh
# Installs what is missing, builds, and starts Vestrel.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target vestrel
exec ./build/vestrel "$@"

#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts Vestrel in run/ under the
# repository (git ignores it), so that its settings files and its log stay
# out of the source tree. Installing needs root; building and running do not.
set -e
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
./scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target vestrel
mkdir -p run
cd run
say=yes
for argument in "$@"; do
  case "$argument" in
    --demo|--demo-auto|--menu|-h|--help|--help-all|-v|--version) say=no ;;
  esac
done
[ "$say" = no ] || echo "Vestrel works in $top/run: its settings files and vestrel.log are kept there."
exec "$top/build/vestrel" "$@"

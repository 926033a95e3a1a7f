#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the whole station with the simulated devices for a long time, faults
# injected at a steady rate, and checks it at the end (see bench/soak.cpp).
#   scripts/soak.sh [duration]    duration: 2m (default), 90s, 30m, 8h ...
# Uses the sanitizer build (build-asan) when there is one, so that a
# sanitizer report fails the run; otherwise the normal build.
set -e
cd "$(dirname "$0")/.."
duration="${1:-2m}"
case "$duration" in
  *h) seconds=$(( ${duration%h} * 3600 )) ;;
  *m) seconds=$(( ${duration%m} * 60 )) ;;
  *s) seconds=${duration%s} ;;
  *) seconds=$duration ;;
esac
case "$seconds" in
  ''|*[!0-9]*) echo "soak: duration must be a number with s, m or h: $duration" >&2; exit 2 ;;
esac
./scripts/deps.sh
if [ -f build-asan/build.ninja ]; then
  build=build-asan
else
  build=build
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j2 --target soak
output="$(mktemp)"
trap 'rm -f "$output"' EXIT
status=0
# A small quarantine: freed memory held back by AddressSanitizer would read as
# growth; recent use after free is still caught.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1 quarantine_size_mb=4}"
QT_QPA_PLATFORM=offscreen "./$build/bench/soak" "$seconds" >"$output" 2>&1 || status=$?
cat "$output"
if grep -Eq 'runtime error:|ERROR: (Address|Leak)Sanitizer|WARNING: ThreadSanitizer' "$output"; then
  echo "soak: sanitizer report" >&2
  exit 1
fi
exit "$status"

#!/bin/sh
# Builds the threaded parts and the end-to-end tests with ThreadSanitizer; any report fails.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESTREL_TSAN=ON
cmake --build build-tsan -j2 --target tst_transceivercomm tst_serialport tst_station tst_rotator
cd build-tsan
supp="$(pwd)/../tests/tsan.supp"
opts="halt_on_error=1 second_deadlock_stack=1"
[ -f "$supp" ] && opts="$opts suppressions=$supp"
TSAN_OPTIONS="$opts" QT_QPA_PLATFORM=offscreen ctest --output-on-failure -R 'tst_(transceivercomm|serialport|station|rotator)$'

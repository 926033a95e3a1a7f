#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds with ThreadSanitizer every test that writes a serial port from
# another thread or starts the transceiver link's worker (CTest label
# "threads") and runs them; any report fails.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESTREL_TSAN=ON -DVESTREL_UNITY=ON
cd build-tsan
tests=$(ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: *//p')
echo "ThreadSanitizer run:" $tests
cmake --build . -j2 --target $tests
supp="$(pwd)/../tests/tsan.supp"
# Qt is not built with the sanitizer: accesses made by its own code (its
# thread pools paint a large window in slices) are left to Qt, ours are checked.
# Tests start helper programs (rigctld, a child that holds a port) through
# QProcess; its child only calls exec, so threads started later in the
# parent are safe and the runtime must not stop the test for them.
opts="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 die_after_fork=0"
[ -f "$supp" ] && opts="$opts suppressions=$supp"
# Four at a time, as the other suites: at two the 33 tests used half a core
# in all, mostly waiting on the station's real timing.
TSAN_OPTIONS="$opts" QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j4 -L threads

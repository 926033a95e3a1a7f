#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite, leak check on; any report fails.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESTREL_ASAN=ON -DVESTREL_UNITY=ON
cmake --build build-asan -j2
cd build-asan
supp="$(pwd)/../tests/lsan.supp"
# The benchmark programs' smoke test runs in the plain suite; their figures are
# taken from Release builds.
# Four at a time, as the plain suite: the tests mostly wait.
ASAN_OPTIONS="detect_leaks=1 abort_on_error=1 strict_string_checks=1 detect_stack_use_after_return=1 check_initialization_order=1" \
LSAN_OPTIONS="suppressions=$supp print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1" \
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j4 -E '^tst_benchprograms$'

#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, 30 by default) from its seed corpus in fuzz/corpus/<target>.
# A crash, a leak, a time-out or a broken invariant fails the run; the input
# that did it is left in build-fuzz/artifacts/. Prints the executions per target.
# Runs two targets at once, so the whole run takes about half the seconds times
# the number of targets.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
seconds=${FUZZ_SECONDS:-30}
CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESTREL_FUZZ=ON -DVESTREL_UNITY=ON
targets=$(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//')
cmake --build build-fuzz -j2 --target $targets
top=$(pwd)
mkdir -p build-fuzz/artifacts
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$top/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
# Two targets at a time, one a core: each runs single-threaded.
fuzz_one() {
  target=$1
  # Inputs found in this run go to a scratch copy; the seeds stay as committed.
  work="build-fuzz/corpus/$target"
  rm -rf "$work"
  mkdir -p "$work"
  log="build-fuzz/$target.log"
  if "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="build-fuzz/artifacts/$target-" -print_final_stats=1 \
       "$work" "fuzz/corpus/$target" > "$log" 2>&1; then
    result=ok
  else
    result=FAILED
    tail -40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "$target: ${runs:-?} executions in ${seconds} s, $result" > "build-fuzz/$target.result"
}
running=0
for target in $targets; do
  fuzz_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge 2 ]; then
    wait
    running=0
  fi
done
wait
printf '\nFuzzing:\n'
failed=0
for target in $targets; do
  cat "build-fuzz/$target.result"
  grep -q ', ok$' "build-fuzz/$target.result" || failed=1
done
exit $failed

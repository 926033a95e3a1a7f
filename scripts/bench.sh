#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds every benchmark in Release and runs them,
# then prints one table: each figure beside its lower bound or peer, measured
# in the same run, under the machine it ran on. Speed never fails this script;
# a benchmark that cannot run does.
set -e
cd "$(dirname "$0")/.."
# Xvfb gives the start-up figure a real X server (Hamlib's programs, the
# readout figure's peers, come with the build packages).
./scripts/deps.sh bench

launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release $launcher >/dev/null
cmake --build build-bench -j2 --target benchmarks

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
failed=""
run() {
  name=$1
  shift
  echo "== $name" >&2
  if ! QT_QPA_PLATFORM=offscreen "$@" >"$out/$name.txt" 2>"$out/$name.err"; then
    failed="$failed $name"
    echo "$name failed:" >&2
    tail -n 20 "$out/$name.err" >&2
  fi
  grep '^row' "$out/$name.txt" >>"$out/rows.txt" || true
}
touch "$out/rows.txt"
b=build-bench/bench
run readout "$b/bench_readout"
run idle "$b/bench_idle" --seconds 60
run startup "$b/bench_startup"
run alarms "$b/bench_alarms"
run radiosources "$b/bench_radiosources"
run methods "$b/bench_methods"
run remote "$b/bench_remote"
run sharing "$b/bench_sharing"
for extra in "$b"/bench_log "$b"/bench_pass "$b"/bench_pointing "$b"/bench_calibration; do
  [ -x "$extra" ] && run "$(basename "$extra")" "$extra"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
echo
echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB;" \
  "$(uname -sr); Qt $(qtpaths6 --qt-version 2>/dev/null || echo '?');" \
  "$(rigctl --version 2>/dev/null | head -n 1 || echo 'no Hamlib')"
echo "Load average (1, 5, 15 min): $load_before before, $load_after after"
echo
echo "| Figure | Measured | Beside it (bound or peer, same run) |"
echo "|---|---|---|"
awk -F'\t' '{ printf "| %s | %s | %s |\n", $2, $3, $4 }' "$out/rows.txt"

if [ -n "$failed" ]; then
  echo
  echo "Could not run:$failed"
  exit 1
fi

#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's three pictures again:
#   docs/screenshot-window.png  the demo (--demo-auto) on a 1366x768 X server
#                               (Xvfb), the main window with its station panel
#                               beside the simulator, after it has settled;
#   docs/screenshot-phone.png   the headless station's web page as a phone
#                               (375 px wide) shows it, in headless Chromium,
#                               with both ports tracking the simulated devices;
#   docs/screenshot-calibration.png  "Calibrate..." after the demo's cross-scan
#                               on the Sun (--demo-auto --demo-sun): some five
#                               minutes at the operator's settings.
# Everything runs in a scratch folder, which goes when the script ends (its
# browser profile too); nothing the operator keeps is touched.
#
# SCREENSHOT_BUILD names another configured build folder (default: build);
# with SCREENSHOT_NO_BUILD=1 the programs already built there are used as
# they are.
set -e
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
build="$top/${SCREENSHOT_BUILD:-build}"
if [ -z "$SCREENSHOT_NO_BUILD" ]; then
  ./scripts/deps.sh screenshots
  [ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target vestrel vestrel-ephemeris bench_simstation
fi
scratch="$(mktemp -d)"
pids=""
# Each program is ended before the X server it shows on, and waited for: one
# whose X server goes first ends at once, leaving its scratch folder behind.
stop() {
  for pid in "$@"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
cleanup() {
  last_first=""
  for pid in $pids; do last_first="$pid $last_first"; done
  stop $last_first
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# An X server of 1366x768 on a display it finds free itself; sets $display.
start_x() {
  Xvfb -displayfd 5 -screen 0 1366x768x24 -nolisten tcp 5>"$scratch/$1.display" >/dev/null 2>&1 &
  x_pid=$!
  pids="$pids $x_pid"
  for _ in $(seq 100); do [ -s "$scratch/$1.display" ] && break; sleep 0.1; done
  [ -s "$scratch/$1.display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  display=":$(cat "$scratch/$1.display")"
}

# The demo (its options after the name) on its own X server, in its own
# folder, until its autopilot says it is done: "Demo: ..." on success,
# "Demo stopped: ..." otherwise (its first line, "Demo station in ...", is
# neither). Gives up after $2 seconds.
run_demo() {
  name=$1
  seconds=$2
  shift 2
  start_x "$name"
  mkdir -p "$scratch/$name"
  (cd "$scratch/$name" && DISPLAY="$display" exec "$build/vestrel" "$@") >"$scratch/$name.log" 2>&1 &
  demo_pid=$!
  pids="$pids $demo_pid"
  for _ in $(seq "$seconds"); do grep -q '^Demo\( stopped\)\{0,1\}: ' "$scratch/$name.log" && break; sleep 1; done
  grep '^Demo: ' "$scratch/$name.log" || {
    echo "the demo ($*) did not finish its steps:" >&2
    cat "$scratch/$name.log" >&2
    exit 1
  }
}

# The window: the demo sets up the whole station by itself, then tracks a
# while so that the panel and the sky plot have settled.
run_demo window 300 --demo-auto
sleep "${SCREENSHOT_SETTLE:-10}"
xwd -root -silent -display "$display" | xwdtopnm 2>/dev/null | pnmtopng -compression 9 >docs/screenshot-window.png
echo "docs/screenshot-window.png made"
stop "$demo_pid" "$x_pid"  # two cores are better spent on the calibration

# The calibration: the demo's autopilot scans the Sun and applies what it
# found; the dialog is taken once the demo says it is done.
run_demo calibration 900 --demo-auto --demo-sun
sleep 2
xwd -silent -display "$display" -name Calibrate | xwdtopnm 2>/dev/null | pnmtopng -compression 9 \
  >docs/screenshot-calibration.png
echo "docs/screenshot-calibration.png made"
stop "$demo_pid" "$x_pid"

# The phone: a headless station on the simulated devices, the Moon's data
# file written every second on the real clock (so the Moon may be down); on
# this machine's own address the page needs no token.
mkdir -p "$scratch/phone"
cd "$scratch/phone"
mkfifo input
"$build/bench/bench_simstation" --turnaround 2 <input >devices &
pids="$pids $!"
exec 3>input  # the devices stay up while this holds their stdin open
for _ in $(seq 50); do grep -q '^ready' devices && break; sleep 0.2; done
rotator=$(sed -n 's/^rotator //p' devices)
radio=$(sed -n 's/^radio //p' devices)
"$build/vestrel-ephemeris" --locator JO70FD --dx FN20 --mhz 432.065 --out azel.dat >/dev/null 2>&1 &
pids="$pids $!"
printf "filename: '%s'\nrepetition time: '2'\nmessage delay: '200'\n" "$scratch/phone" >store.cfg
cat >remote.cfg <<EOF
listen address: '127.0.0.1'
listen port: '0'
port a device: '$rotator'
port b device: '$radio'
port a open at start: 'on'
port b open at start: 'on'
port a mode: 'auto'
port b mode: 'auto'
tracking data file: '$scratch/phone/azel.dat'
target: 'moon'
track frequency: 'on'
EOF
"$build/vestrel" --headless >headless.log 2>&1 &
pids="$pids $!"
for _ in $(seq 50); do grep -q 'http://' headless.log && break; sleep 0.2; done
url=$(sed -n 's/.*\(http:[^ ]*\).*/\1/p' headless.log | head -n 1)
sleep 15
# A phone's width; tall enough for the whole page. Taken on the real clock:
# under a virtual one the page hears no heartbeat and says the station is silent.
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=375,1100 \
  --user-data-dir="$scratch/chromium" \
  --timeout=5000 --screenshot="$top/docs/screenshot-phone.png" "$url" >/dev/null 2>&1
exec 3>&-
echo "docs/screenshot-phone.png made"

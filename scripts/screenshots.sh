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
# Everything runs in a scratch folder; nothing the operator keeps is touched.
set -e
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"
./scripts/deps.sh screenshots
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vestrel vestrel-ephemeris bench_simstation
scratch="$(mktemp -d)"
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT INT TERM

# The window: the demo sets up the whole station by itself.
display=":$(( 90 + $$ % 100 ))"
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
sleep 2
mkdir -p "$scratch/window"
(cd "$scratch/window" && DISPLAY="$display" exec "$top/build/vestrel" --demo-auto) >"$scratch/window.log" 2>&1 &
pids="$pids $!"
sleep "${SCREENSHOT_SETTLE:-40}"
xwd -root -silent -display "$display" | xwdtopnm 2>/dev/null | pnmtopng >docs/screenshot-window.png
echo "docs/screenshot-window.png made"

# The calibration: the demo's autopilot scans the Sun and applies what it
# found; the dialog is taken once the demo says it is done.
display2=":$(( 190 + $$ % 100 ))"
Xvfb "$display2" -screen 0 1366x768x24 -nolisten tcp >/dev/null 2>&1 &
pids="$pids $!"
sleep 2
mkdir -p "$scratch/calibration"
(cd "$scratch/calibration" && DISPLAY="$display2" exec "$top/build/vestrel" --demo-auto --demo-sun) \
  >"$scratch/calibration.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 900); do grep -q '^Demo' "$scratch/calibration.log" && break; sleep 1; done
grep '^Demo' "$scratch/calibration.log" || { echo "the demo's calibration did not end" >&2; exit 1; }
sleep 2
xwd -silent -display "$display2" -name Calibrate | xwdtopnm 2>/dev/null | pnmtopng >docs/screenshot-calibration.png
echo "docs/screenshot-calibration.png made"

# The phone: a headless station on the simulated devices, the Moon's data
# file written every second on the real clock (so the Moon may be down); on
# this machine's own address the page needs no token.
mkdir -p "$scratch/phone"
cd "$scratch/phone"
mkfifo input
"$top/build/bench/bench_simstation" --turnaround 2 <input >devices &
pids="$pids $!"
exec 3>input  # the devices stay up while this holds their stdin open
for _ in $(seq 50); do grep -q '^ready' devices && break; sleep 0.2; done
rotator=$(sed -n 's/^rotator //p' devices)
radio=$(sed -n 's/^radio //p' devices)
"$top/build/vestrel-ephemeris" --locator JO70FD --dx FN20 --mhz 432.065 --out azel.dat >/dev/null 2>&1 &
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
"$top/build/vestrel" --headless >headless.log 2>&1 &
pids="$pids $!"
for _ in $(seq 50); do grep -q 'http://' headless.log && break; sleep 0.2; done
url=$(sed -n 's/.*\(http:[^ ]*\).*/\1/p' headless.log | head -n 1)
sleep 15
# A phone's width; tall enough for the whole page.
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=375,1100 \
  --virtual-time-budget=5000 --screenshot="$top/docs/screenshot-phone.png" "$url" >/dev/null 2>&1
exec 3>&-
echo "docs/screenshot-phone.png made"

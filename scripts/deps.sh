#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building and testing Vestrel needs on Debian 12. Installing
# needs root; when nothing is missing it does nothing, as any user.
# "./scripts/deps.sh package" adds what building and checking the Debian package needs,
# "./scripts/deps.sh bench" what the benchmarks need (Xvfb, for start-up on an X server),
# "./scripts/deps.sh screenshots" what scripts/screenshots.sh needs (an X server and its picture tools).
set -e
# libhamlib-dev drives radios and rotators with Hamlib linked in; libgsl-dev
# fits the beam to a calibration's cuts; qt6-multimedia-dev reads a sound
# card's noise for one;
# clang, its runtime and llvm-symbolizer build, run and report the fuzz targets;
# ERFA checks the radio-source places in the tests and benchmarks; chromium
# loads the station's web page in its test.
packages="cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-websockets-dev qt6-multimedia-dev libgl-dev libnova-dev libhamlib-dev libgsl-dev pkg-config clang-14 libclang-rt-14-dev llvm-14 libhamlib-utils liberfa-dev chromium"
if [ "$1" = package ]; then
  packages="$packages dpkg-dev file fakeroot lintian desktop-file-utils appstream systemd"
fi
if [ "$1" = bench ]; then
  packages="$packages xvfb"
fi
if [ "$1" = screenshots ]; then
  packages="$packages xvfb x11-apps netpbm"
fi
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ] && [ "$(id -u)" -ne 0 ]; then
  echo "Missing Debian packages:$missing" >&2
  echo "Installing them needs root: sudo $0 $*" >&2
  exit 1
fi
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi

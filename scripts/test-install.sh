#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the package into a fresh Debian 12 root with apt and starts it there,
# as an operator's machine that never built Vestrel would (run as root; needs
# debootstrap and the Debian mirror that apt here uses).
#   ./scripts/test-install.sh [vestrel_<version>_<arch>.deb]
# Default package: the one ./scripts/package.sh left in build-package. The
# debootstrapped base is kept in $VESTREL_INSTALL_ROOT.base (default
# /var/tmp/vestrel-install-root) and copied afresh for every run.
set -e
cd "$(dirname "$0")/.."
deb="$(readlink -f "${1:-$(ls build-package/vestrel_*.deb | tail -n 1)}")"
root="${VESTREL_INSTALL_ROOT:-/var/tmp/vestrel-install-root}"
# The Debian archive this machine's apt uses for bookworm, from one-line
# (.list) or deb822 (.sources) entries; disabled and commented ones are skipped.
bookworm_mirror() {
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] || continue
    awk '$1 == "deb" {
      i = 2
      if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
      if ($(i + 1) == "bookworm") { print $i; exit }
    }' "$list"
  done
  for list in /etc/apt/sources.list.d/*.sources; do
    [ -f "$list" ] || continue
    awk 'function flush() {
        if (deb && suite && enabled && uri != "") print uri
        deb = 0; suite = 0; enabled = 1; uri = ""
      }
      BEGIN { enabled = 1 }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == "bookworm") suite = 1 }
      tolower($1) == "enabled:" { enabled = tolower($2) != "no" }
      END { flush() }' "$list"
  done
}
mirror="$(bookworm_mirror | head -n 1)"
if [ -z "$mirror" ]; then
  echo "test-install: no Debian bookworm archive in /etc/apt/sources.list or /etc/apt/sources.list.d/;" >&2
  echo "  debootstrap takes the mirror from there: add the one this machine should use, then run again." >&2
  exit 1
fi

command -v debootstrap >/dev/null || { apt-get update; apt-get install -y debootstrap; }
if [ ! -x "$root.base/usr/bin/apt" ]; then
  rm -rf "$root.base"
  debootstrap --variant=minbase bookworm "$root.base" "$mirror"
fi
rm -rf "$root"
cp -a "$root.base" "$root"
cleanup() {
  umount "$root/dev/pts" 2>/dev/null || true
  umount "$root/proc" 2>/dev/null || true
}
trap cleanup EXIT
mount -t proc proc "$root/proc"
# Pseudo-terminals of the root's own, for the demo's simulated devices.
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

echo "== apt install ./$(basename "$deb") in a fresh Debian $(cat "$root/etc/debian_version")"
in_root apt-get update -q
in_root sh -c "cd /tmp && DEBIAN_FRONTEND=noninteractive apt install -y -q ./$(basename "$deb")"

echo "== installed files"
in_root dpkg -L vestrel
echo "== vestrel --version"
in_root vestrel --version
echo "== vestrel --help"
in_root vestrel --help
echo "== the desktop's platform plugin finds all its libraries"
if in_root ldd /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqxcb.so | grep 'not found'; then exit 1; fi
echo "none missing"

in_root useradd -m ham

# Exit status 124 below: still running when the time was up, as a started window should be.
echo "== started from a shell: the current folder stays"
status=0
in_root runuser -u ham -- env HOME=/home/ham QT_QPA_PLATFORM=offscreen \
  timeout 10 sh -c 'mkdir -p /tmp/shell && cd /tmp/shell && exec vestrel' || status=$?
[ "$status" = 124 ] || { echo "vestrel ended early with $status"; exit 1; }
in_root test ! -e /home/ham/.local/share/vestrel
in_root test -f /tmp/shell/vestrel.log

echo "== started with the menu entry's command line: runs, works (and logs) in ~/.local/share/vestrel"
in_root grep -m 1 '^Exec=' /usr/share/applications/org.vestrel.vestrel.desktop
status=0
in_root runuser -u ham -- env HOME=/home/ham QT_QPA_PLATFORM=offscreen \
  timeout 10 sh -c 'cd /home/ham && exec $(grep -m 1 "^Exec=" /usr/share/applications/org.vestrel.vestrel.desktop | cut -d= -f2-)' || status=$?
[ "$status" = 124 ] || { echo "vestrel --menu ended early with $status"; exit 1; }
in_root ls -l /home/ham/.local/share/vestrel
in_root test -f /home/ham/.local/share/vestrel/vestrel.log

if in_root test -x /usr/bin/vestrel-ephemeris; then
  echo "== vestrel-ephemeris writes a tracking file"
  in_root runuser -u ham -- vestrel-ephemeris --locator JO70FD --dx FN31pr --mhz 432.065 \
    --at 2026-12-07T04:30:48Z --once --out /tmp/azel.dat
  in_root cat /tmp/azel.dat
fi

echo "== the demo on a simulated station runs"
status=0
in_root runuser -u ham -- env HOME=/home/ham QT_QPA_PLATFORM=offscreen \
  timeout 10 sh -c 'cd /tmp && exec vestrel --demo-auto' || status=$?
[ "$status" = 0 ] || [ "$status" = 124 ] || { echo "vestrel --demo-auto ended with $status"; exit 1; }

echo "== $(basename "$deb") installs and starts on a fresh Debian 12"

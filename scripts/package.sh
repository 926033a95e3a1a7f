#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package with Debian's hardening flags and checks it:
# desktop entry, AppStream metadata, the system unit (systemd-analyze verify,
# and its exposure under 2.0 in systemd-analyze security) and lintian. The package lands in the
# build folder (default build-package) as vestrel_<version>_<arch>.deb.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh package
build="${1:-build-package}"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"
cmake -S . -B "$build" -G Ninja $launcher \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DVESTREL_BUILD_TESTS=OFF -DVESTREL_UNITY=ON \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build "$build" -j2
rm -f "$build"/vestrel_*.deb
(cd "$build" && cpack -G DEB)
deb="$(ls "$build"/vestrel_*.deb)"

echo "== checks of $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
desktop-file-validate packaging/org.vestrel.vestrel.desktop
echo "desktop-file-validate: no problems"
appstreamcli validate --no-net packaging/org.vestrel.vestrel.metainfo.xml
# The unit as installed, but starting the program just built: verify wants
# ExecStart's program to exist, and says what it finds wrong without failing.
unit="$build/unit-check/vestrel.service"
mkdir -p "$(dirname "$unit")"
sed "s#^ExecStart=/usr/bin/vestrel#ExecStart=$(readlink -f "$build")/vestrel#" packaging/vestrel.system.service >"$unit"
said=$(systemd-analyze verify --man=no "$unit" 2>&1) || { echo "$said"; exit 1; }
[ -z "$said" ] || { echo "systemd-analyze verify: $said"; exit 1; }
echo "systemd-analyze verify: no problems"
# The threshold is in tenths: fails above 1.9.
exposure=$(systemd-analyze security --offline=yes --threshold=19 "$unit" 2>&1) || { echo "$exposure"; exit 1; }
echo "$exposure" | tail -n 1
# Errors fail the build; warnings are shown. The status is lintian's, not that
# of the filter that hides its note about running as root.
status=0
lintian --fail-on error --display-info "$deb" >"$build/lintian.txt" 2>&1 || status=$?
grep -v "running with root privileges" "$build/lintian.txt" || true
[ "$status" -eq 0 ]
echo "== $deb built and checked"

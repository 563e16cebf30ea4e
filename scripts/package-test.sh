#!/usr/bin/env bash
# Builds the Debian package from a build directory, installs it on this machine as a user would
# (apt-get install ./glowcast_*.deb), checks what it installed, and removes it again, checking that
# nothing of it is left. Needs root (or sudo) and a machine where glowcast is not installed.
#
# usage: scripts/package-test.sh [BUILD_DIR]   (default build/release; configured if need be)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
programs=(glowcast glowcastctl glowcast-bridge-sim glowcast-post-cover)
app_id=org.glowcast.Glowcast

say() { printf 'package-test: %s\n' "$*"; }
fail() {
    say "FAILED: $*" >&2
    exit 1
}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

[ -f "$build/CMakeCache.txt" ] || cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${programs[@]}" glowcast_man_pages
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/package.log" 2>&1 ||
    fail "cpack did not build the package (see $build/package.log)"
deb=$(realpath "$build/package/glowcast_${version}_"*.deb)
say "built $deb"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6core6* && $depends == *libc6* ]] || fail "the dependencies do not come from the libraries: $depends"

# One package test at a time on this machine: each installs and removes the one package.
exec 9>/tmp/glowcast-package-test.lock
flock -w 900 9 || fail "another package test held the lock for 15 minutes"
status() { dpkg-query -W -f='${db:Status-Status}' glowcast 2>/dev/null || true; }
if [ "$(status)" = installed ]; then
    fail "glowcast is installed on this machine already; this test installs and removes it, so remove it first"
fi
apt_get() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=300 "$@"; }
cleanup() { [ "$(status)" != installed ] || apt_get remove glowcast >/dev/null; }
trap cleanup EXIT

apt_get install "$deb" >"$build/package-install.log" 2>&1 || fail "apt-get install failed (see $build/package-install.log)"
mapfile -t files < <(dpkg -L glowcast | while read -r path; do [ -d "$path" ] || echo "$path"; done)
say "installed ${#files[@]} files"

# Every program answers without a display or a bus.
for program in "${programs[@]}"; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not installed in /usr/bin"
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS "$program" --version) ||
        fail "$program --version failed"
    [ "$answer" = "$program $version" ] || fail "$program --version said '$answer'"
    [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1" ] || fail "no man page for $program"
done
desktop-file-validate "/usr/share/applications/$app_id.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null ||
    fail "the metainfo is not valid"
[ -f "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" ] || fail "the icon is missing"
if command -v systemd-analyze >/dev/null; then
    runtime=$(mktemp -d)
    verified=0
    problems=$(XDG_RUNTIME_DIR=$runtime systemd-analyze verify --user /usr/lib/systemd/user/glowcast.service 2>&1) &&
        verified=1
    rm -rf "$runtime"
    if [ "$verified" != 1 ] || [ -n "$problems" ]; then
        fail "the user unit does not verify cleanly: $problems"
    fi
else
    say "systemd-analyze is not installed: the user unit is not verified"
fi
say "the programs answer, the man pages, desktop entry, metainfo, icon and user unit are in place"

apt_get remove glowcast >"$build/package-remove.log" 2>&1 || fail "apt-get remove failed (see $build/package-remove.log)"
left=$(status)
[ -z "$left" ] || [ "$left" = not-installed ] || fail "glowcast is left as '$left'"
for path in "${files[@]}"; do
    [ ! -e "$path" ] || fail "$path is left after the removal"
done
say "removed; none of its files is left"

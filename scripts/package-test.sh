#!/usr/bin/env bash
# Builds the two Debian packages (glowcast and glowcast-tools) from a build directory, checks them
# with lintian (any error or warning fails), installs them on this machine as a user would
# (apt-get install ./glowcast*_*.deb), checks what they installed, and removes them again, checking
# that nothing of them is left. Needs root (or sudo) and a machine where neither is installed.
#
# usage: scripts/package-test.sh [BUILD_DIR]   (default build/release; configured if need be)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
packages=(glowcast glowcast-tools)
app_programs=(glowcast glowcastctl)
tool_programs=(glowcast-bridge-sim glowcast-zigbee2mqtt-sim glowcast-post-cover)
programs=("${app_programs[@]}" "${tool_programs[@]}")
app_id=org.glowcast.Glowcast

say() { printf 'package-test: %s\n' "$*"; }
fail() {
    say "FAILED: $*" >&2
    exit 1
}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

[ -f "$build/CMakeCache.txt" ] || cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${programs[@]}" glowcast-window glowcast_man_pages glowcast_changelog
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >"$build/package.log" 2>&1 ||
    fail "cpack did not build the packages (see $build/package.log)"
declare -A deb
for package in "${packages[@]}"; do
    deb[$package]=$(realpath "$build/package/${package}_${version}_"*.deb)
    say "built ${deb[$package]}"
done
depends=$(dpkg-deb -f "${deb[glowcast]}" Depends)
[[ $depends == *libqt6core6* && $depends == *libc6* ]] || fail "the dependencies do not come from the libraries: $depends"
[[ $depends != *httplib* ]] || fail "glowcast depends on cpp-httplib: $depends"
[[ $depends == *libmosquitto1* ]] || fail "glowcast does not depend on libmosquitto: $depends"
[[ $depends != *libcurl* ]] || fail "glowcast depends on libcurl: $depends"
tool_depends=$(dpkg-deb -f "${deb[glowcast-tools]}" Depends)
[[ $tool_depends == *libcpp-httplib* ]] || fail "glowcast-tools does not depend on cpp-httplib: $tool_depends"
[[ $tool_depends == *libmosquitto1* ]] || fail "glowcast-tools does not depend on libmosquitto: $tool_depends"

# Debian's own checker: no error and no warning (informational notes are shown, not fatal).
lintian --fail-on error,warning --display-info "${deb[@]}" >"$build/lintian.log" 2>&1 ||
    fail "lintian found errors or warnings: $(grep -E '^[EW]:' "$build/lintian.log" || cat "$build/lintian.log")"
say "lintian: no errors or warnings ($(grep -c '^I:' "$build/lintian.log" || true) notes in $build/lintian.log)"

# One package test at a time on this machine: each installs and removes the same packages.
exec 9>/tmp/glowcast-package-test.lock
flock -w 900 9 || fail "another package test held the lock for 15 minutes"
status() { dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null || true; }
for package in "${packages[@]}"; do
    if [ "$(status "$package")" = installed ]; then
        fail "$package is installed on this machine already; this test installs and removes it, so remove it first"
    fi
done
apt_get() { $sudo env DEBIAN_FRONTEND=noninteractive apt-get -q -y -o DPkg::Lock::Timeout=300 "$@"; }
cleanup() {
    local package
    for package in "${packages[@]}"; do
        [ "$(status "$package")" != installed ] || apt_get remove "$package" >/dev/null
    done
}
trap cleanup EXIT

apt_get install "${deb[@]}" >"$build/package-install.log" 2>&1 || fail "apt-get install failed (see $build/package-install.log)"
mapfile -t files < <(dpkg -L "${packages[@]}" | while read -r path; do [ -d "$path" ] || echo "$path"; done)
say "installed ${#files[@]} files"

# Every program answers without a display or a bus, from the package it belongs to.
for program in "${programs[@]}"; do
    package=glowcast
    [[ " ${tool_programs[*]} " != *" $program "* ]] || package=glowcast-tools
    [ "$(dpkg -S "/usr/bin/$program" 2>/dev/null)" = "$package: /usr/bin/$program" ] ||
        fail "$program is not installed in /usr/bin by $package"
    answer=$(env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS "$program" --version) ||
        fail "$program --version failed"
    [ "$answer" = "$program $version" ] || fail "$program --version said '$answer'"
    [ "$(man -w "$program")" = "/usr/share/man/man1/$program.1.gz" ] || fail "no man page for $program"
done
# Covers other than PNG and JPEG are read by a module the programs find where the package put it.
env -u GLOWCAST_MODULE_DIR glowcastctl colours "$PWD/tests/data/bands-30.gif" >/dev/null ||
    fail "glowcastctl cannot read a GIF cover: the installed program does not find its image module"
# So are the commands that talk to the bridge, the bus or the running Glowcast: config, with no
# preferences file and no bus, shows the defaults.
settings=$(env -u GLOWCAST_MODULE_DIR -u DBUS_SESSION_BUS_ADDRESS GLOWCAST_CONFIG_DIR=/nonexistent/glowcast \
    glowcastctl config) ||
    fail "glowcastctl config failed: the installed program does not find its commands module"
[ -n "$settings" ] || fail "glowcastctl config printed no settings"
for package in "${packages[@]}"; do
    zcat "/usr/share/doc/$package/changelog.gz" | head -n 1 | grep -qF "glowcast ($version) " ||
        fail "the changelog of $package does not start with release $version"
    # lintian reads a binary package's copyright file but not its machine-readable form.
    head -n 1 "/usr/share/doc/$package/copyright" |
        grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
        fail "the copyright file of $package is not in the machine-readable format"
done
desktop-file-validate "/usr/share/applications/$app_id.desktop" || fail "the desktop entry is not valid"
appstreamcli validate --no-net "/usr/share/metainfo/$app_id.metainfo.xml" >/dev/null ||
    fail "the metainfo is not valid"
grep -qF '<project_license>GPL-3.0-or-later</project_license>' "/usr/share/metainfo/$app_id.metainfo.xml" ||
    fail "the metainfo does not name the licence"
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
say "the programs answer, the man pages, changelogs, desktop entry, metainfo, icon and user unit are in place"

apt_get remove "${packages[@]}" >"$build/package-remove.log" 2>&1 ||
    fail "apt-get remove failed (see $build/package-remove.log)"
for package in "${packages[@]}"; do
    left=$(status "$package")
    [ -z "$left" ] || [ "$left" = not-installed ] || fail "$package is left as '$left'"
done
for path in "${files[@]}"; do
    [ ! -e "$path" ] || fail "$path is left after the removal"
done
say "removed; none of their files is left"

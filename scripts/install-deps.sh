#!/usr/bin/env bash
# Installs the Debian 12 packages that building, testing and the demo need. Installs only what is
# missing, so it is quick to run again. Needs root (or sudo) when something is missing.
set -euo pipefail

packages=(
    # toolchain
    cmake ninja-build g++ clang libclang-rt-14-dev clang-format
    # test and benchmark frameworks
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    # Qt 6 and the image format plugins (WebP among them)
    qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
    # the bridge simulator's HTTP server, and Python for the test client written apart from Glowcast
    libcpp-httplib-dev python3
    # MQTT: the client library zigbee2mqtt lamps are reached with, and a broker the tests start
    libmosquitto-dev mosquitto
    # the sound's spectrum, for the beat, and the sound the desktop plays from PipeWire; the tests start
    # a sound server of their own
    libkissfft-dev libpipewire-0.3-dev pipewire pipewire-bin wireplumber
    # cover decoding: PNG with libspng, JPEG with libjpeg-turbo (its tools: djpeg, a benchmark's floor)
    libspng-dev libjpeg62-turbo-dev libjpeg-turbo-progs
    # a throw-away self-signed certificate for the https test
    openssl
    # a private session bus for tests and the demo, and gdbus to post notifications by hand
    dbus dbus-bin dbus-daemon libglib2.0-bin
    # a display server for screenshots and windowed tests
    xvfb xauth
    # a real media player on the session bus for the player tests, the benchmark and the demo
    mpv mpv-mpris
    # benchmark comparisons: curl, and libpng for the decoding floor
    curl libpng-dev
    # the Debian packages: their dependencies (dpkg-shlibdeps, file), the man pages, and the checks of
    # the desktop entry, the metainfo and the systemd user unit, and Debian's package checker
    dpkg-dev file help2man man-db desktop-file-utils appstream systemd lintian
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

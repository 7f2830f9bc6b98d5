#!/bin/sh
# Sets up TIRV on a Debian machine: installs the packages that are missing, builds, and then
# either starts TIRV ("run") or runs every test ("test"). Safe to run again.
set -eu

mode=${1:-run}
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"

# Build tools, Qt 5 with its translation tools, a CJK font for the Chinese interface, the
# network tools of the namespace test bed, Xvfb for running without a screen, and rsvg-convert,
# which renders the pictures from their SVG sources; dpkg-dev and desktop-file-utils for the
# Debian package and the check of the menu entry; clang-format for the formatting check;
# xdg-utils, through which the window opens a device's web page in the user's browser; Qt's
# Wayland platform, and weston with its development files, for the frame's test under a
# headless Wayland compositor; ser2net, the RFC 2217 server the port tests run against; the
# serial programs tried under tirv-run: pyserial (with miniterm), pymodbus, picocom and socat.
PACKAGES="cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev \
qttools5-dev qttools5-dev-tools fonts-wqy-microhei iproute2 xvfb xauth librsvg2-bin \
dpkg-dev desktop-file-utils xdotool x11-utils qttranslations5-l10n clang-format xdg-utils \
qtwayland5 weston libweston-10-dev ser2net python3-serial python3-pymodbus picocom socat"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
fi

cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"

case "$mode" in
run)
    if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        exec xvfb-run -a "$build/app/tirv"
    fi
    exec "$build/app/tirv"
    ;;
test)
    exec ctest --test-dir "$build" --output-on-failure
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac

#!/bin/sh
# Runs the frame's Wayland test under a headless weston, whose pointer the module westonpointer
# drives. Prints "SKIP:" and succeeds when weston, the module or the Wayland platform is missing
# or weston does not start.
#   wayland_frame.sh <test program> [<pointer module>]
set -u
test=$1
module=${2:-}
command -v weston >/dev/null || { echo "SKIP: weston is not installed"; exit 0; }
[ -n "$module" ] && [ -f "$module" ] || { echo "SKIP: no pointer module (libweston-10-dev)"; exit 0; }
qtPlugins=$(qtpaths --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
ls "$qtPlugins"/platforms/libqwayland-*.so >/dev/null 2>&1 \
    || { echo "SKIP: Qt's Wayland platform (qtwayland5) is not installed"; exit 0; }

socket=tirv-test-$$
export TIRV_WESTON_POINTER="$XDG_RUNTIME_DIR/$socket-pointer"
log="$XDG_RUNTIME_DIR/weston.log"
weston --backend=headless-backend.so --socket="$socket" --idle-time=0 --no-config \
    --modules="$module" >"$log" 2>&1 &
weston=$!
trap 'kill $weston 2>/dev/null; wait $weston 2>/dev/null' EXIT

# Up to 10 s for the display and the pointer's socket.
i=0
while [ ! -S "$XDG_RUNTIME_DIR/$socket" ] || [ ! -S "$TIRV_WESTON_POINTER" ]; do
    if ! kill -0 $weston 2>/dev/null || [ $i -ge 100 ]; then
        cat "$log"
        echo "SKIP: weston did not start"
        exit 0
    fi
    i=$((i + 1))
    sleep 0.1
done
WAYLAND_DISPLAY=$socket QT_QPA_PLATFORM=wayland "$test"

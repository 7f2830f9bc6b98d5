#!/bin/sh
# A second start of the real program, under its own X server, shows the "Warning" box; after
# OK it exits with 0. Then the first is killed with SIGKILL and a new start runs.
set -u
tirv=$1
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "SKIP: needs Xvfb and xdotool"; exit 0; }

# Waits up to 20 s for a command to succeed.
waitFor() {
    i=0
    while ! "$@" >/dev/null 2>&1; do
        i=$((i + 1))
        [ $i -lt 200 ] || return 1
        sleep 0.1
    done
}
fail() { echo "FAIL: $*"; exit 1; }

display=:$(( $$ % 5000 + 1000 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
first=""
trap 'kill $first $xvfb 2>/dev/null' EXIT
# The program starts its service in the private runtime folder, which goes after the test.
export DISPLAY=$display QT_QPA_PLATFORM=xcb
waitFor xdpyinfo || fail "X server did not start"

"$tirv" 2>/dev/null &
first=$!
waitFor test -e "$XDG_RUNTIME_DIR/TIRV.lock" || fail "first instance holds no lock"

"$tirv" 2>/dev/null &
second=$!
waitFor xdotool search --name '^Warning$' || fail "second instance shows no warning"
box=$(xdotool search --name '^Warning$' | head -n 1)
xdotool windowfocus --sync "$box" key Return
wait $second
code=$?
[ $code -eq 0 ] || fail "second instance exited with $code"
kill -0 $first || fail "first instance did not survive the second start"

kill -KILL $first
wait $first 2>/dev/null
"$tirv" 2>/dev/null &
first=$!
# The lock file names its holder's pid on its first line.
holds() { [ "$(head -n 1 "$XDG_RUNTIME_DIR/TIRV.lock" 2>/dev/null)" = "$1" ]; }
waitFor holds $first || fail "start after SIGKILL did not take the lock"
kill -0 $first || fail "start after SIGKILL did not run"
echo "1 passed, 0 failed"

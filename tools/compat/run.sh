#!/bin/sh
# Measures programs that need a heavy install (Node's serialport from npm, Java's jSSC from
# Debian) on an RFC 2217 port of a private tirv-service, with and without tirv-run. For each run
# it prints what the program said and the COM-PORT-OPTION commands the simulated device got.
# Root only (the device serves TCP 966). Usage, from the top of the checkout after a build:
#   tools/compat/run.sh [build folder, default build]
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
here="$top/tools/compat"
work=$(mktemp -d "${TMPDIR:-/tmp}/tirv-compat.XXXXXX")
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    # The service stops by itself once its socket goes.
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
mkdir -p "$work/home" "$work/state" "$work/runtime" "$work/ports"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime" \
    TIRV_PORT_DIR="$work/ports" QT_QPA_PLATFORM=offscreen

"$build/tools/simulator/tirv-devsim" --protocol rfc2217 --device ip=127.0.0.25,ports=1,answer=text \
    >"$work/device.log" 2>&1 &
sim_pid=$!
"$build/app/tirvctl" add 127.0.0.25 1 --protocol rfc2217 >/dev/null
port="$work/ports/COM1"

# run NAME COMMAND...: the program once without tirv-run and once with it.
run() {
    name=$1
    shift
    for launcher in "" "$build/app/tirv-run"; do
        seen=$(wc -l <"$work/device.log")
        echo "== $name ${launcher:+(tirv-run)}"
        $launcher "$@" 2>&1 | sed 's/^/   /'
        sleep 0.5
        echo "   device got: $(tail -n +"$((seen + 1))" "$work/device.log" | cut -d' ' -f4- | paste -sd, -)"
    done
}

if command -v npm >/dev/null; then
    (cd "$work" && npm install --silent --no-audit --no-fund serialport@12 >/dev/null 2>&1) &&
        NODE_PATH="$work/node_modules" run "Node serialport" node "$here/serialport-probe.js" "$port"
else
    echo "== Node serialport: npm is missing"
fi
jar=/usr/share/java/jssc.jar
if command -v javac >/dev/null && [ -f "$jar" ]; then
    javac -d "$work" -cp "$jar" "$here/JsscProbe.java"
    run "jSSC" java -Djava.library.path=/usr/lib/jni -cp "$jar:$work" JsscProbe "$port"
else
    echo "== jSSC: install default-jdk-headless and libjssc-java"
fi

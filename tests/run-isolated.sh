#!/bin/sh
# Runs one test with HOME, the XDG folders and the port directory in a fresh temporary folder,
# so that no test sees or changes the user's own files, and removes the folder afterwards.
set -u
top=$(mktemp -d "${TMPDIR:-/tmp}/tirv-test.XXXXXX")
trap 'rm -rf "$top"' EXIT INT TERM
mkdir -p "$top/home" "$top/config" "$top/state" "$top/data" "$top/cache" "$top/runtime" "$top/ports"
chmod 700 "$top/runtime"
export HOME="$top/home" XDG_CONFIG_HOME="$top/config" XDG_STATE_HOME="$top/state" \
    XDG_DATA_HOME="$top/data" XDG_CACHE_HOME="$top/cache" XDG_RUNTIME_DIR="$top/runtime" \
    TIRV_PORT_DIR="$top/ports" QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
"$@"

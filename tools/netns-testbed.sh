#!/bin/sh
# Runs a command on the PC side of a private network: two fresh network namespaces joined by a
# veth pair, the device simulator on the device side. Nothing it sends reaches a real network,
# and everything is removed on exit, whether the command passes or fails.
#
#   netns-testbed.sh --sim <tirv-devsim> [simulator options...] -- <command> [args...]
#
# PC side 10.77.0.1/24; device side 10.77.0.2/24 and 10.77.0.3/24, and 10.99.0.9/24 for a
# device set to a network the PC is not on (it can only answer by broadcast). The command sees
# TIRV_TESTBED=1 and TIRV_TESTBED_PC=10.77.0.1. Needs root; otherwise the command runs alone,
# without TIRV_TESTBED, so that tests can skip.
set -u

sim=""
while [ $# -gt 0 ] && [ "$1" != "--sim" ] && [ "$1" != "--" ]; do shift; done
[ "${1:-}" = "--sim" ] && { sim=$2; shift 2; }
simargs=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    simargs="$simargs '$(printf '%s' "$1" | sed "s/'/'\\\\''/g")'"
    shift
done
[ "${1:-}" = "--" ] && shift
if [ -z "$sim" ] || [ $# -eq 0 ]; then
    echo "usage: $0 --sim <tirv-devsim> [simulator options...] -- <command> [args...]" >&2
    exit 2
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "netns-testbed: not root, running the command without the test bed" >&2
    unset TIRV_TESTBED
    exec "$@"
fi

pc=tirv-pc-$$
dev=tirv-dev-$$
log=$(mktemp "${TMPDIR:-/tmp}/tirv-devsim.XXXXXX")
simpid=""

cleanup() {
    [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
    # Whatever else still runs inside: a namespace outlives its deletion while a process holds it.
    ip netns pids "$dev" 2>/dev/null | xargs -r kill 2>/dev/null
    ip netns pids "$pc" 2>/dev/null | xargs -r kill 2>/dev/null
    ip netns del "$pc" 2>/dev/null
    ip netns del "$dev" 2>/dev/null
    rm -f "$log"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$pc" && ip netns add "$dev" &&
    ip link add "tvp$$" netns "$pc" type veth peer name "tvd$$" netns "$dev" &&
    ip -n "$pc" link set lo up && ip -n "$dev" link set lo up &&
    ip -n "$pc" addr add 10.77.0.1/24 broadcast 10.77.0.255 dev "tvp$$" &&
    ip -n "$dev" addr add 10.77.0.2/24 broadcast 10.77.0.255 dev "tvd$$" &&
    ip -n "$dev" addr add 10.77.0.3/24 broadcast 10.77.0.255 dev "tvd$$" &&
    ip -n "$dev" addr add 10.99.0.9/24 broadcast 10.99.0.255 dev "tvd$$" &&
    # The PC has no route back to 10.99.0.9: its replies must pass the source check all the same.
    ip netns exec "$pc" sh -c 'for f in /proc/sys/net/ipv4/conf/*/rp_filter; do echo 0 >"$f"; done' &&
    ip -n "$pc" link set "tvp$$" up && ip -n "$dev" link set "tvd$$" up ||
    { echo "netns-testbed: cannot build the namespaces" >&2; exit 1; }

# exec: $! must be the simulator itself, not a subshell that would die alone on kill.
eval "exec ip netns exec \"\$dev\" \"\$sim\" $simargs" >"$log" 2>&1 &
simpid=$!

# The simulator says "ready" once every socket listens.
tries=0
until grep -q '^ready$' "$log"; do
    if ! kill -0 "$simpid" 2>/dev/null || [ $tries -ge 100 ]; then
        echo "netns-testbed: the simulator did not start:" >&2
        cat "$log" >&2
        exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
done

ip netns exec "$pc" env TIRV_TESTBED=1 TIRV_TESTBED_PC=10.77.0.1 "$@"
rc=$?
[ $rc -eq 0 ] || { echo "netns-testbed: simulator output:" >&2; cat "$log" >&2; }
exit $rc

#!/bin/sh
# Joins two pseudo-terminals with tests/interop/pty_bridge.py, starts the
# serial test server on one of them, runs a client command on the other
# (every @PORT@ replaced by its device path, every @BAUD@ by the baud
# rate), stops server and bridge, and fails if the client or the server
# failed.
# Usage: run_serial_interop.sh [--stop-signal <name>] <python> <server> rtu|ascii <baud>
#        <client> [arguments...]
# The server is stopped with SIGTERM, or the signal named (INT for a Windows
# program under wine, which SIGTERM would end before it cleans up).
set -u
stop_signal=TERM
if [ "$1" = --stop-signal ]; then
    stop_signal=$2
    shift 2
fi
python=$1 server=$2 kind=$3 baud=$4
shift 4
here=$(dirname "$0")
work=$(mktemp -d)
bridge_pid="" server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    [ -n "$bridge_pid" ] && kill "$bridge_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Waits until file $1 has a line matching $2 (CR LF line ends taken too)
# while process $3 lives.
wait_for_line() {
    for _ in $(seq 100); do
        tr -d '\r' < "$1" | grep -q "$2" && return 0
        kill -0 "$3" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

"$python" "$here/pty_bridge.py" > "$work/bridge" &
bridge_pid=$!
wait_for_line "$work/bridge" '^PTYS ' "$bridge_pid" || { echo "bridge did not start"; exit 1; }
server_end=$(sed -n 's/^PTYS \([^ ]*\) .*$/\1/p' "$work/bridge")
master_end=$(sed -n 's/^PTYS [^ ]* \(.*\)$/\1/p' "$work/bridge")

# The largest frame tolerance (20 ms): the bridge passes a frame on in one
# piece almost always, but a loaded machine may pause it between two pieces.
tolerance=""
[ "$kind" = rtu ] && tolerance=20
"$server" "$kind" "$server_end" "$baud" $tolerance > "$work/server" &
server_pid=$!
wait_for_line "$work/server" '^READY$' "$server_pid" || { echo "server did not start"; exit 1; }

command=""
for argument in "$@"; do
    command="$command '$(printf '%s' "$argument" | sed "s|@PORT@|$master_end|g; s|@BAUD@|$baud|g; s/'/'\\\\''/g")'"
done
eval "timeout 120 $command"
client_status=$?

kill -"$stop_signal" "$server_pid"
wait "$server_pid"
server_status=$?
server_pid=""
[ "$server_status" -eq 0 ] || echo "server exited with status $server_status"
[ "$client_status" -eq 0 ] && [ "$server_status" -eq 0 ]

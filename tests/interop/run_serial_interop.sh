#!/bin/sh
# Joins two pseudo-terminals with tests/interop/pty_bridge.py, starts the
# serial test server on one of them, runs a client command on the other
# (every @PORT@ replaced by its device path, every @BAUD@ by the baud
# rate), stops server and bridge, and fails if the client or the server
# failed.
# Usage: run_serial_interop.sh <python> <server> rtu|ascii <baud> <client> [arguments...]
set -u
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

# Waits until file $1 has a line matching $2 while process $3 lives.
wait_for_line() {
    for _ in $(seq 100); do
        grep -q "$2" "$1" && return 0
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

kill -TERM "$server_pid"
wait "$server_pid"
server_status=$?
server_pid=""
[ "$server_status" -eq 0 ] || echo "server exited with status $server_status"
[ "$client_status" -eq 0 ] && [ "$server_status" -eq 0 ]

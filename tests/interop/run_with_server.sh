#!/bin/sh
# Starts a test server that prints "PORT <n>" (a Windows program under wine
# ends it with CR LF), runs a client command with
# every @PORT@ replaced by that port, stops the server and fails if either
# the client or the server failed.
# Usage: run_with_server.sh [--server-arg <word>]... [--stop-signal <name>]
#        <server> <client> [client arguments with @PORT@...]
# The server is stopped with SIGTERM, or the signal named (wine turns SIGINT
# into a Windows console Ctrl-C, while SIGTERM ends the process at once).
set -u
server_args=""
stop_signal=TERM
while :; do
    case "$1" in
        --server-arg) server_args="$server_args $2" ;;
        --stop-signal) stop_signal=$2 ;;
        *) break ;;
    esac
    shift 2
done
server=$1
shift
output=$(mktemp)
trap 'rm -f "$output"' EXIT

# shellcheck disable=SC2086 # the server arguments are single words
"$server" $server_args > "$output" &
server_pid=$!
port=""
for _ in $(seq 100); do
    port=$(tr -d '\r' < "$output" | sed -n 's/^PORT \([0-9]*\)$/\1/p')
    [ -n "$port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$port" ]; then
    echo "server did not start"
    kill "$server_pid" 2>/dev/null
    exit 1
fi

command=""
for argument in "$@"; do
    command="$command '$(printf '%s' "$argument" | sed "s/@PORT@/$port/g; s/'/'\\\\''/g")'"
done
eval "timeout 120 $command"
client_status=$?

kill -"$stop_signal" "$server_pid"
wait "$server_pid"
server_status=$?
[ "$server_status" -eq 0 ] || echo "server exited with status $server_status"
[ "$client_status" -eq 0 ] && [ "$server_status" -eq 0 ]

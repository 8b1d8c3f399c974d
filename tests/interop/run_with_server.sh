#!/bin/sh
# Starts a test server that prints "PORT <n>", runs a client command with
# every @PORT@ replaced by that port, stops the server and fails if either
# the client or the server failed.
# Usage: run_with_server.sh [--server-arg <word>]... <server> <client>
#        [client arguments with @PORT@...]
set -u
server_args=""
while [ "$1" = "--server-arg" ]; do
    server_args="$server_args $2"
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
    port=$(sed -n 's/^PORT \([0-9]*\)$/\1/p' "$output")
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

kill -TERM "$server_pid"
wait "$server_pid"
server_status=$?
[ "$server_status" -eq 0 ] || echo "server exited with status $server_status"
[ "$client_status" -eq 0 ] && [ "$server_status" -eq 0 ]

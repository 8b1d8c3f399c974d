#!/bin/sh
# Starts examples/tls_slave on a loopback port with the test PKI, runs
# pymodbus's TLS client against it, stops the server; fails if either failed.
# Usage: run_tls_interop.sh TLS_SLAVE PKI_DIR PYTHON CLIENT_SCRIPT
set -u
server=$1 pki=$2 python=$3 client=$4
output=$(mktemp)
trap 'rm -f "$output"' EXIT
for attempt in 1 2 3 4 5; do
    port=$((20000 + ($$ * 7 + attempt) % 20000))
    "$server" "$pki" "$port" > "$output" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do
        grep -q "^Modbus/TCP Security slave" "$output" && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "^Modbus/TCP Security slave" "$output" && break
    wait "$server_pid" 2>/dev/null
    server_pid=""
done
[ -n "$server_pid" ] || { echo "server did not start:"; cat "$output"; exit 1; }
"$python" "$client" "$pki" "$port"
client_status=$?
kill -TERM "$server_pid"
wait "$server_pid"
server_status=$?
cat "$output"
[ "$client_status" -eq 0 ] && [ "$server_status" -eq 0 ]

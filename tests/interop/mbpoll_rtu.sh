#!/bin/sh
# mbpoll in RTU mode against tests/interop/serial_interop_server.c: reads
# and writes holding registers and coils, reads input registers and
# discrete inputs, and expects no answer from slave 2.
# Usage: mbpoll_rtu.sh <device> <baud rate>
# Prints "ok <check>" or "FAILED <check>" per check; exit 0 if all passed.
set -u
device=$1 baud=$2
failures=0

poll() {  # poll <address> <mbpoll options...>: the values read, one per line
    address=$1
    shift
    mbpoll -m rtu -b "$baud" -P none -o 1 -1 -a "$address" "$@" "$device" 2>&1 |
        sed -n 's/^\[[0-9]*\]:[[:space:]]*\(-\{0,1\}[0-9]*\).*$/\1/p' | tr '\n' ' '
}

write() {  # write <mbpoll options...> -- <values...>
    mbpoll -m rtu -b "$baud" -P none -o 1 -a 1 "$@" 2>&1 | grep -q '^Written [0-9]* references'
}

expect() {  # expect <check> <got> <wanted>
    if [ "$2" = "$3" ]; then
        echo "ok $1"
    else
        echo "FAILED $1: got '$2', wanted '$3'"
        failures=$((failures + 1))
    fi
}

expect "read 4 holding registers" "$(poll 1 -t 4 -r 1 -c 4)" "4097 4098 4099 4100 "
wanted=""
for reference in $(seq 301 425); do wanted="$wanted$((4096 + reference)) "; done
expect "read 125 holding registers" "$(poll 1 -t 4 -r 301 -c 125)" "$wanted"
write -t 4 -r 20 "$device" 111 222 333 && written=yes || written=no
expect "write 3 registers" "$written" "yes"
expect "read back written registers" "$(poll 1 -t 4 -r 20 -c 3)" "111 222 333 "
write -t 4 -r 40 "$device" 65535 && written=yes || written=no
expect "write single register" "$written:$(poll 1 -t 4 -r 40 -c 1)" "yes:65535 "
expect "read input registers" "$(poll 1 -t 3 -r 7 -c 3)" "14 16 18 "
expect "read coils" "$(poll 1 -t 0 -r 10 -c 5)" "0 1 0 1 0 "
write -t 0 -r 10 "$device" 1 1 0 0 1 && written=yes || written=no
expect "write 5 coils" "$written" "yes"
expect "read back written coils" "$(poll 1 -t 0 -r 10 -c 5)" "1 1 0 0 1 "
expect "read discrete inputs" "$(poll 1 -t 1 -r 1 -c 6)" "0 0 1 0 0 1 "
expect "no reply from slave 2" "$(poll 2 -t 4 -r 1 -c 1)" ""

[ "$failures" -eq 0 ] && echo "all passed" || echo "some checks FAILED"
[ "$failures" -eq 0 ]

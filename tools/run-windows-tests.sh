#!/bin/sh
# Cross-compiles mbslave.dll, the examples and the unit tests for 64-bit
# Windows with mingw-w64 and runs them under wine in a fresh prefix: the unit
# programs (hardening table included), the DLL's export table, the
# Modbus/TCP, RTU-over-TCP and UDP servers of the Windows build driven from
# Linux by libmodbus and pymodbus over loopback, and its RTU and ASCII
# servers on a wine COM port driven by libmodbus, mbpoll and pymodbus, and
# mbslave-sim.exe (without its web page) answering pymodbus and mbpoll.
# Usage: tools/run-windows-tests.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-windows}
started=$(date +%s)

tools/install-deps.sh windows test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMBSLAVE_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DMBSLAVE_BUILD_TOOLS=ON
cmake --build "$build" -j "$(nproc)"
# The programs find the DLL beside them, as an installed application would.
cp "$build/mbslave.dll" "$build/tests/"
cp "$build/mbslave.dll" "$build/examples/"
cp "$build/mbslave.dll" "$build/tools/"

echo "-- mbslave.dll: $(stat -c %s "$build/mbslave.dll") bytes, imports:" \
     $(x86_64-w64-mingw32-objdump -p "$build/mbslave.dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
tests/scripts/check_exports.sh "$build/mbslave.dll" include/mbslave.h

# A fresh prefix, no display, no debug output; one wineserver kept alive for
# the whole run so that each program start is cheap.
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$WINEPREFIX"
# Its output goes nowhere: wineserver opens the COM port's pty for the
# programs, which makes it the pty's controlling process, and the pty's
# hang-up at the end of each serial check has it dump its object table.
"$wineserver" -p > /dev/null 2>&1
"$wine" wineboot --init >/dev/null 2>&1
echo "-- $($wine --version) prefix ready after $(( $(date +%s) - started )) s"

status=0
for program in "$build"/tests/test_*.exe; do
    log="$work/$(basename "$program").log"
    # Windows programs end their lines with CR LF.
    if "$wine" "$program" 2>&1 | tr -d '\r' > "$log" && grep -q '^\[  PASSED  \]' "$log" &&
       ! grep -q '^\[  FAILED  \]' "$log"; then
        grep '^\[  PASSED  \]' "$log"
    else
        cat "$log"
        echo "FAILED: $(basename "$program")"
        status=1
    fi
done

# Native peers against the Windows servers.
native="$work/native"
mkdir -p "$native"
cc -O2 -o "$native/libmodbus_client" tests/interop/libmodbus_client.c \
   $(pkg-config --cflags --libs libmodbus)
server=$build/tests/tcp_interop_server.exe
# interop <name> <server kind> <client command...>
interop() {
    name=$1
    kind=$2
    shift 2
    if tests/interop/run_with_server.sh --server-arg "$server" --server-arg "$kind" \
           --stop-signal INT "$wine" "$@" \
           > "$work/$name.log" 2>&1 &&
       ! grep -q FAILED "$work/$name.log"; then
        echo "interop $name: $(tail -n 1 "$work/$name.log")"
        interop_passed=$((interop_passed + 1))
    else
        cat "$work/$name.log"
        echo "FAILED: interop $name"
        status=1
    fi
}
interop_passed=0
interop tcp_libmodbus tcp "$native/libmodbus_client" @PORT@
interop tcp_pymodbus tcp /usr/bin/python3 tests/interop/pymodbus_client.py @PORT@
interop rtutcp_pymodbus rtutcp /usr/bin/python3 tests/interop/pymodbus_client.py @PORT@ rtutcp
interop udp_pymodbus udp /usr/bin/python3 tests/interop/pymodbus_client.py @PORT@ udp

# The serial servers of the Windows build on a wine COM port linked to one
# end of two joined pseudo-terminals, the Linux masters on the other end.
# A pty has no modem lines: RTS driving (RS-485) cannot be shown here; the
# fake serial device of test_serial covers it.
cc -O2 -o "$native/libmodbus_rtu_client" tests/interop/libmodbus_rtu_client.c \
   $(pkg-config --cflags --libs libmodbus)
export WINE="$wine" MBSLAVE_SERIAL_SERVER_EXE="$build/tests/serial_interop_server.exe"
# serial <name> rtu|ascii <baud> <client command...>
serial() {
    name=$1
    shift
    if tests/interop/run_serial_interop.sh --stop-signal INT /usr/bin/python3 \
           tests/interop/wine_com_server.sh "$@" > "$work/$name.log" 2>&1 &&
       ! grep -q FAILED "$work/$name.log"; then
        echo "interop $name: $(grep -v '^served' "$work/$name.log" | tail -n 1)"
        interop_passed=$((interop_passed + 1))
    else
        cat "$work/$name.log"
        echo "FAILED: interop $name"
        status=1
    fi
}
for baud in 9600 115200; do
    serial "rtu_libmodbus_$baud" rtu "$baud" "$native/libmodbus_rtu_client" @PORT@ @BAUD@
    serial "rtu_mbpoll_$baud" rtu "$baud" tests/interop/mbpoll_rtu.sh @PORT@ @BAUD@
    for kind in rtu ascii; do
        serial "${kind}_pymodbus_$baud" "$kind" "$baud" /usr/bin/python3 \
               tests/interop/pymodbus_serial_client.py "$kind" @PORT@ @BAUD@
    done
done

# mbslave-sim.exe end to end, as on Linux: pymodbus and mbpoll as masters,
# the request log, a master time-out, Ctrl-C (SIGINT through wine) and the
# summary; serial transports on a wine COM port.
export MBSLAVE_SIM_EXE="$build/tools/mbslave-sim.exe"
for transport in tcp rtutcp udp rtu ascii; do
    if timeout 120 /usr/bin/python3 tests/sim/e2e/sim_e2e.py tests/sim/e2e/wine_sim.sh "$transport" \
           > "$work/sim_$transport.log" 2>&1; then
        echo "sim $(head -n 1 "$work/sim_$transport.log")"
        interop_passed=$((interop_passed + 1))
    else
        cat "$work/sim_$transport.log"
        echo "FAILED: sim $transport"
        status=1
    fi
done

# Two Windows servers on one port (SO_EXCLUSIVEADDRUSE on the first): the
# second fails with MB_ERR_TCP_PORT_BOUND and exit code 1, the first still
# answers mbpoll and stops on Ctrl-C.
port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" "$MBSLAVE_SIM_EXE" tcp --port "$port" --quiet > "$work/first.log" 2>&1 &
first=$!
for _ in $(seq 100); do
    grep -q "server on" "$work/first.log" && break
    sleep 0.1
done
second=0
"$wine" "$MBSLAVE_SIM_EXE" tcp --port "$port" --duration 5 > "$work/second.log" 2>&1 || second=$?
polled=0
mbpoll -m tcp -p "$port" -a 1 -t 4 -r 1 -c 2 -1 -o 2 127.0.0.1 > "$work/poll.log" 2>&1 || polled=$?
kill -INT "$first"
stopped=0
wait "$first" || stopped=$?
if [ "$second" -eq 1 ] && grep -q "TCP Port alread bound" "$work/second.log" && [ "$polled" -eq 0 ] &&
   [ "$stopped" -eq 0 ]; then
    echo "port in use: second server exit 1 ($(tr -d '\r' < "$work/second.log" | head -n 1))"
    interop_passed=$((interop_passed + 1))
else
    cat "$work/first.log" "$work/second.log" "$work/poll.log"
    echo "FAILED: port in use (second exit $second, mbpoll exit $polled, first exit $stopped)"
    status=1
fi
[ "$status" -eq 0 ] && echo "100% tests passed, 0 tests failed out of $interop_passed"

echo "-- Windows stage: $(( $(date +%s) - started )) s"
exit "$status"

#!/bin/sh
# Cross-compiles mbslave.dll, the examples and the unit tests for 64-bit
# Windows with mingw-w64 and runs them under wine in a fresh prefix: the unit
# programs (hardening table included), the DLL's export table, the header
# for the MSVC target, a program of the MSVC ABI linked against mbslave.lib,
# the Modbus/TCP, RTU-over-TCP and UDP servers of the Windows build driven
# from Linux by libmodbus and pymodbus over loopback, and its RTU and ASCII
# servers on a wine COM port driven by libmodbus, mbpoll and pymodbus, and
# mbslave-sim.exe (without its web page) answering pymodbus and mbpoll and
# ending a serial run without time-out at --duration.
# Usage: tools/run-windows-tests.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-windows}
started=$(date +%s)

tools/install-deps.sh windows test
# -O2 without debug information, which makes most of the linking time of
# the statically linked test programs.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMBSLAVE_WERROR=ON \
      -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DMBSLAVE_BUILD_TOOLS=ON
cmake --build "$build" -j "$(nproc)"
echo "-- built after $(( $(date +%s) - started )) s"
# The programs find the DLL beside them, as an installed application would.
cp "$build/mbslave.dll" "$build/tests/"
cp "$build/mbslave.dll" "$build/examples/"
cp "$build/mbslave.dll" "$build/tools/"

echo "-- mbslave.dll: $(stat -c %s "$build/mbslave.dll") bytes, imports:" \
     $(x86_64-w64-mingw32-objdump -p "$build/mbslave.dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
tests/scripts/check_exports.sh "$build/mbslave.dll" include/mbslave.h
# The header as C for the MSVC target, with clang's own headers and no SDK:
# it declares what it uses (wchar_t) through the C headers that define it.
for std in c99 c11; do
    clang --target=x86_64-pc-windows-msvc -std=$std -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
          -Iinclude tests/c_header/header_c99.c
done
echo "-- mbslave.h compiles as C99 and C11 for x86_64-pc-windows-msvc"

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

# check <name> <command...>: runs one check with its output in a log; counts
# it when it succeeds and prints no FAILED line, else shows the log.
checks_passed=0
check() {
    name=$1
    shift
    if "$@" > "$work/$name.log" 2>&1 && ! grep -q FAILED "$work/$name.log"; then
        echo "$name: $(tr -d '\r' < "$work/$name.log" | tail -n 1)"
        checks_passed=$((checks_passed + 1))
    else
        cat "$work/$name.log"
        echo "FAILED: $name"
        status=1
    fi
}

# MSVC users link with mbslave.lib: a C program of the MSVC ABI, built by
# clang and lld-link (with an import library of the three KERNEL32
# functions it declares, there being no Windows SDK here), runs against
# mbslave.dll.
msvc_link() {
    dir="$work/msvc"
    mkdir -p "$dir"
    printf 'LIBRARY KERNEL32.dll\nEXPORTS\nGetStdHandle\nWriteFile\nExitProcess\n' > "$dir/kernel32.def"
    llvm-dlltool -m i386:x86-64 -d "$dir/kernel32.def" -l "$dir/kernel32.lib"
    clang --target=x86_64-pc-windows-msvc -std=c99 -O2 -Wall -Wextra -Werror -ffreestanding \
          -fno-stack-protector -Iinclude -c tests/msvc/msvc_consumer.c -o "$dir/consumer.obj"
    lld-link /nologo /entry:start /subsystem:console /nodefaultlib /out:"$dir/consumer.exe" \
             "$dir/consumer.obj" "$build/mbslave.lib" "$dir/kernel32.lib"
    cp "$build/mbslave.dll" "$dir/"
    "$wine" "$dir/consumer.exe"
}
check msvc_link msvc_link

# Native peers against the Windows servers.
native="$work/native"
mkdir -p "$native"
for client in libmodbus_client libmodbus_rtu_client; do
    cc -O2 -o "$native/$client" "tests/interop/$client.c" $(pkg-config --cflags --libs libmodbus)
done
# ip <kind> <client command...>: the Windows build's IP server of that kind
ip() {
    kind=$1
    shift
    tests/interop/run_with_server.sh --server-arg "$build/tests/tcp_interop_server.exe" \
        --server-arg "$kind" --stop-signal INT "$wine" "$@"
}
check tcp_libmodbus ip tcp "$native/libmodbus_client" @PORT@
check tcp_pymodbus ip tcp /usr/bin/python3 tests/interop/pymodbus_client.py @PORT@
check rtutcp_pymodbus ip rtutcp /usr/bin/python3 tests/interop/pymodbus_client.py @PORT@ rtutcp
check udp_pymodbus ip udp /usr/bin/python3 tests/interop/pymodbus_client.py @PORT@ udp

# The serial servers of the Windows build on a wine COM port linked to one
# end of two joined pseudo-terminals, the Linux masters on the other end.
# A pty has no modem lines: RTS driving (RS-485) cannot be shown here; the
# fake serial device of test_serial covers it.
export WINE="$wine" MBSLAVE_SERIAL_SERVER_EXE="$build/tests/serial_interop_server.exe"
# serial rtu|ascii <baud> <client command...>
serial() {
    tests/interop/run_serial_interop.sh --stop-signal INT /usr/bin/python3 tests/interop/wine_com_server.sh "$@"
}
for baud in 9600 115200; do
    check "rtu_libmodbus_$baud" serial rtu "$baud" "$native/libmodbus_rtu_client" @PORT@ @BAUD@
    check "rtu_mbpoll_$baud" serial rtu "$baud" tests/interop/mbpoll_rtu.sh @PORT@ @BAUD@
    for kind in rtu ascii; do
        check "${kind}_pymodbus_$baud" serial "$kind" "$baud" /usr/bin/python3 \
              tests/interop/pymodbus_serial_client.py "$kind" @PORT@ @BAUD@
    done
done

# mbslave-sim.exe end to end, as on Linux: pymodbus and mbpoll as masters,
# the request log, a master time-out, Ctrl-C (SIGINT through wine) and the
# summary; serial transports on a wine COM port.
export MBSLAVE_SIM_EXE="$build/tools/mbslave-sim.exe"
for transport in tcp rtutcp udp rtu ascii; do
    check "sim_$transport" timeout 120 /usr/bin/python3 tests/sim/e2e/sim_e2e.py tests/sim/e2e/wine_sim.sh \
          "$transport"
done

# The simulator on a wine COM port (one end of a pty_bridge pair): with
# --timeout 0 its serial wait has no limit, and --duration still ends the
# run on time; a setting the device does not keep (a pseudo-terminal here
# drops parity) fails the start-up, as on Linux, instead of running with
# other settings than asked for.
sim_serial_stops() {
    /usr/bin/python3 tests/interop/pty_bridge.py > "$work/bridge" &
    bridge=$!
    for _ in $(seq 50); do
        grep -q '^PTYS' "$work/bridge" && break
        sleep 0.1
    done
    device=$(sed -n 's/^PTYS \([^ ]*\) .*$/\1/p' "$work/bridge")
    begun=$(date +%s)
    ended=0
    timeout 20 tests/sim/e2e/wine_sim.sh rtu --device "$device" --parity none --timeout 0 --duration 2 \
        > "$work/sim_timeout0.log" 2>&1 || ended=$?
    took=$(( $(date +%s) - begun ))
    # The same on a TCP port, where the wait is a socket wait.
    tcpPort=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    begun=$(date +%s)
    tcpEnded=0
    timeout 20 tests/sim/e2e/wine_sim.sh tcp --port "$tcpPort" --timeout 0 --duration 2 > "$work/sim_tcp_timeout0.log" 2>&1 ||
        tcpEnded=$?
    tcpTook=$(( $(date +%s) - begun ))
    refused=0
    tests/sim/e2e/wine_sim.sh rtu --device "$device" --parity even --duration 2 > "$work/sim_parity.log" 2>&1 ||
        refused=$?
    kill "$bridge"
    wait "$bridge" || true
    tr -d '\r' < "$work/sim_timeout0.log"
    tr -d '\r' < "$work/sim_parity.log"
    tr -d '\r' < "$work/sim_tcp_timeout0.log"
    echo "--timeout 0 --duration 2: exit $ended after $took s (tcp: exit $tcpEnded after $tcpTook s); --parity even on a pty: exit $refused"
    [ "$ended" -eq 0 ] && [ "$took" -le 6 ] && grep -q 'stopped by --duration' "$work/sim_timeout0.log" &&
        [ "$tcpEnded" -eq 0 ] && [ "$tcpTook" -le 6 ] && grep -q 'stopped by --duration' "$work/sim_tcp_timeout0.log" &&
        [ "$refused" -eq 1 ] && grep -q 'refused the line settings' "$work/sim_parity.log"
}
check sim_serial_stops sim_serial_stops

# Two Windows servers on one port: the second fails with
# MB_ERR_TCP_PORT_BOUND and exit code 1, the first still answers mbpoll and
# stops on Ctrl-C.
port_in_use() {
    port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "$wine" "$MBSLAVE_SIM_EXE" tcp --port "$port" --quiet > "$work/first.log" 2>&1 &
    first=$!
    for _ in $(seq 100); do
        grep -q "server on" "$work/first.log" && break
        sleep 0.1
    done
    second=0
    "$wine" "$MBSLAVE_SIM_EXE" tcp --port "$port" --duration 5 || second=$?
    polled=0
    mbpoll -m tcp -p "$port" -a 1 -t 4 -r 1 -c 2 -1 -o 2 127.0.0.1 || polled=$?
    kill -INT "$first"
    stopped=0
    wait "$first" || stopped=$?
    echo "second server exit $second, mbpoll exit $polled, first server exit $stopped"
    [ "$second" -eq 1 ] && [ "$polled" -eq 0 ] && [ "$stopped" -eq 0 ]
}
check port_in_use port_in_use
grep -q "TCP Port alread bound" "$work/port_in_use.log" || { echo "FAILED: no port-bound error"; status=1; }
[ "$status" -eq 0 ] && echo "100% tests passed, 0 tests failed out of $checks_passed"

echo "-- Windows stage: $(( $(date +%s) - started )) s"
exit "$status"

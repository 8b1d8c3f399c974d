#!/bin/sh
# The serial test server of the Windows build under wine, on a device of
# this machine: the device becomes COM7 of the wine prefix (a link in its
# dosdevices folder, which is how wine maps COM ports), and the server opens
# COM7 as a Windows program would. Replaces itself with wine, so that the
# caller's signals reach the program.
# Usage: wine_com_server.sh rtu|ascii <device> <baud rate> [frame tolerance ms]
# Environment: WINE (the wine loader), WINEPREFIX, MBSLAVE_SERIAL_SERVER_EXE.
set -eu
kind=$1 device=$2
shift 2
ln -sfn "$device" "$WINEPREFIX/dosdevices/com7"
exec "$WINE" "$MBSLAVE_SERIAL_SERVER_EXE" "$kind" COM7 "$@"

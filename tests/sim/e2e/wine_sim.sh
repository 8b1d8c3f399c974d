#!/bin/sh
# mbslave-sim of the Windows build under wine, for the end-to-end scripts.
# A device of this machine given with --device becomes COM8 of the wine
# prefix (a link in its dosdevices folder, which is how wine maps COM
# ports). Replaces itself with wine, so that the scripts' SIGINT reaches the
# program (wine hands it to the console control handler as Ctrl-C).
# Environment: WINE (the wine loader), WINEPREFIX, MBSLAVE_SIM_EXE.
set -eu
count=$#
previous=""
while [ "$count" -gt 0 ]; do
    argument=$1
    shift
    count=$((count - 1))
    if [ "$previous" = --device ] && [ -e "$argument" ]; then
        ln -sfn "$argument" "$WINEPREFIX/dosdevices/com8"
        argument=COM8
    fi
    set -- "$@" "$argument"
    previous=$argument
done
exec "$WINE" "$MBSLAVE_SIM_EXE" "$@"

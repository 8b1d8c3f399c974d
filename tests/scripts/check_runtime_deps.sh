#!/bin/sh
# The run time of the shared library is the C library alone: its only NEEDED
# entry is the C library (no libstdc++, libgcc_s or libm), and it carries no
# C++ exception tables.
# Usage: check_runtime_deps.sh <library> [readelf]
set -eu
library=$1
readelf=${2:-readelf}

needed=$("$readelf" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
status=0
if [ "$needed" != "libc.so.6" ]; then
    echo "the library needs more than the C library"; status=1
fi
if "$readelf" -S -W "$library" | grep -q '\.gcc_except_table'; then
    echo "the library carries C++ exception tables"; status=1
fi
exit $status

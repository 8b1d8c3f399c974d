#!/bin/sh
# The run time of the shared library is the C library alone: its only NEEDED
# entry is the C library (no libstdc++, libgcc_s or libm), and it carries no
# C++ exception tables. libmbslave-tls names OpenSSL's two libraries as well.
# Usage: check_runtime_deps.sh <library> [readelf] [further NEEDED entries...]
set -eu
library=$1
readelf=${2:-readelf}
shift $(($# < 2 ? $# : 2))
expected=$(printf '%s\n' "$@" libc.so.6 | sort | tr '\n' ' ')

needed=$("$readelf" -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
echo "NEEDED: $(echo $needed)"
status=0
if [ "$(printf '%s\n' $needed | sort | tr '\n' ' ')" != "$expected" ]; then
    echo "the library needs more than: $expected"; status=1
fi
if "$readelf" -S -W "$library" | grep -q '\.gcc_except_table'; then
    echo "the library carries C++ exception tables"; status=1
fi
exit $status

#!/bin/sh
# Compares the dynamic symbols defined by the shared library with the
# functions declared in the public header: every export must be a declared
# mbusSlave_ function and every declared function must be exported; and the
# exports must be exactly the 31 functions of the interface, listed below,
# plus the functions declared in an extension header, if one is given
# (libmbslave-tls and mbslave_tls.h). A Windows DLL is read from its export
# table.
# Usage: check_exports.sh LIBRARY HEADER [EXTENSION_HEADER]
set -eu
library=$1
header=$2
extension=${3:-}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

case "$library" in
    *.dll)
        x86_64-w64-mingw32-objdump -p "$library" |
            sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            awk '/^[[:space:]]+\[ *[0-9]+\]/ {print $NF}' | sort -u > "$tmp/exported" ;;
    *)
        nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbRrVviu]$/ {print $3}' | sort -u > "$tmp/exported" ;;
esac
declared_in() { grep '^MBSLAVE_API' "$@" | grep -o 'mbusSlave_[A-Za-z0-9_]*[[:space:]]*(' | sed 's/[[:space:]]*($//'; }
declared_in "$header" ${extension:+"$extension"} | sort -u > "$tmp/declared"

cat <<'EOF' | sort > "$tmp/interface"
mbusSlave_getErrorText
mbusSlave_getPackageVersion
mbusSlave_destroyProtocol
mbusSlave_configureCallbacks
mbusSlave_serverLoop
mbusSlave_shutdownServer
mbusSlave_isStarted
mbusSlave_getConnectionStatus
mbusSlave_setTimeout
mbusSlave_getTimeout
mbusSlave_enableExceptionReplies
mbusSlave_disableExceptionReplies
mbusSlave_getSuccessCounter
mbusSlave_resetSuccessCounter
mbusSlave_getTotalCounter
mbusSlave_resetTotalCounter
mbusSlave_startupSerialServer
mbusSlave_enableRs485Mode
mbusSlave_createRtuProtocol
mbusSlave_setFrameTolerance
mbusSlave_createAsciiProtocol
mbusSlave_startupIpServer
mbusSlave_setPort
mbusSlave_getPort
mbusSlave_setConnectionTimeOut
mbusSlave_getConnectionTimeOut
mbusSlave_configureTcpNotifications
mbusSlave_configureUdpNotifications
mbusSlave_createTcpProtocol
mbusSlave_createRtuOverTcpProtocol
mbusSlave_createUdpProtocol
EOF

status=0
if [ "$(wc -l < "$tmp/interface")" -ne 31 ]; then
    echo "the interface list does not hold 31 names"; status=1
fi
if [ -n "$extension" ]; then
    declared_in "$extension" >> "$tmp/interface"
    sort -u -o "$tmp/interface" "$tmp/interface"
fi
if comm -23 "$tmp/interface" "$tmp/exported" | grep . > "$tmp/absent"; then
    echo "functions of the interface that are not exported:"; sed 's/^/  /' "$tmp/absent"; status=1
fi
if comm -13 "$tmp/interface" "$tmp/exported" | grep . > "$tmp/extra"; then
    echo "exports that are not functions of the interface:"; sed 's/^/  /' "$tmp/extra"; status=1
fi
if grep -v '^mbusSlave_' "$tmp/exported" > "$tmp/foreign"; then
    echo "exported symbols that are not mbusSlave_ functions:"; sed 's/^/  /' "$tmp/foreign"; status=1
fi
if comm -13 "$tmp/exported" "$tmp/declared" | grep . > "$tmp/missing"; then
    echo "declared in the header but not exported:"; sed 's/^/  /' "$tmp/missing"; status=1
fi
if comm -23 "$tmp/exported" "$tmp/declared" | grep '^mbusSlave_' > "$tmp/undeclared"; then
    echo "exported but not declared in the header:"; sed 's/^/  /' "$tmp/undeclared"; status=1
fi
echo "$(wc -l < "$tmp/exported") exported, $(wc -l < "$tmp/declared") declared"
exit $status

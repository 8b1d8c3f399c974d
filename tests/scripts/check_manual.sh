#!/bin/sh
# Checks the rendered manual: every function the shared library exports has
# a section-3 page that man finds under its name and whose NAME section
# lists it (as lexgrog reads it for whatis/apropos), the concepts page
# mbslave(7) and mbslave-sim(1) exist, and every page renders without a
# single groff or man warning.
# Usage: check_manual.sh LIBRARY [LIBRARY...] MAN_DIR (libmbslave-tls adds
# its functions to those of libmbslave)
set -eu
[ $# -ge 2 ] || { echo "usage: $0 LIBRARY [LIBRARY...] MAN_DIR" >&2; exit 2; }
libraries=""
while [ $# -gt 1 ]; do
    libraries="$libraries $1"
    shift
done
mandir=$1
passed=0 failed=0

fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

check_page() {  # check_page NAME SECTION
    page=$(man -M "$mandir" -w "$2" "$1" 2>/dev/null) || { fail "no page $1($2)"; return; }
    # lexgrog prints "page: "name - summary"" per name of the NAME section.
    lexgrog "$page" 2>&1 | grep -q "\"$1 - \|\"$1, \|, $1 - \|, $1, " ||
        { fail "$1($2): NAME section does not list $1: $(lexgrog "$page" 2>&1)"; return; }
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { fail "$1($2) renders with warnings: $warnings"; return; }
    passed=$((passed + 1))
}

for library in $libraries; do
    nm -D --defined-only "$library" | awk '$3 ~ /^mbusSlave_/ {print $3}' | grep -q . ||
        { echo "FAIL: $library exports no mbusSlave_ function"; exit 1; }
done
# shellcheck disable=SC2086
functions=$(for library in $libraries; do nm -D --defined-only "$library"; done |
    awk '$3 ~ /^mbusSlave_/ {print $3}' | sort -u)
for function in $functions; do
    check_page "$function" 3
done
check_page mbslave 7
check_page mbslave-sim 1
# Pages nobody exports: a renamed or removed function left its page behind.
for page in "$mandir"/man3/*.3.gz; do
    name=$(basename "$page" .3.gz)
    echo "$functions" | grep -qx "$name" || fail "page $name(3) documents no exported function"
done

echo "manual: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

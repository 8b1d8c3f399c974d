#!/bin/sh
# Compares the dynamic symbols defined by the shared library with the
# functions declared in the public header: every export must be a declared
# mbusSlave_ function and every declared function must be exported.
set -eu
library=$1
header=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

nm -D --defined-only "$library" | awk '$2 ~ /^[TtWwDdBbRrVviu]$/ {print $3}' | sort -u > "$tmp/exported"
grep '^MBSLAVE_API' "$header" | grep -o 'mbusSlave_[A-Za-z0-9_]*[[:space:]]*(' | sed 's/[[:space:]]*($//' | sort -u > "$tmp/declared"

status=0
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

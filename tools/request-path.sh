#!/bin/sh
# Lists, per transport, the library files whose code one served Read Holding
# Registers request runs: the library is compiled with coverage into a
# probe (tools/request-path/request_path_probe.cpp) that counts one pass
# only, and gcov tells which files' lines ran. POSIX only.
# Usage: tools/request-path.sh [build-dir] [transport...]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-build-request-path}
[ $# -gt 0 ] && shift
transports=${*:-tcp rtu-over-tcp udp rtu ascii}
mkdir -p "$out"
out=$(cd "$out" && pwd)

sources=$(cd "$root" && ls src/api/*.cpp src/base/*.cpp src/engine/*.cpp src/ip/*.cpp \
  src/serial/*.cpp src/platform/*.cpp 2>/dev/null | grep -v '_windows\.cpp$' | grep -v '_tls\.cpp$')
objects=""
for source in $sources; do
  object="$out/$(echo "$source" | tr / _).o"
  g++ -std=c++17 -O0 --coverage -fno-exceptions -fno-rtti -I"$root/include" -I"$root/src" \
    -c "$root/$source" -o "$object"
  objects="$objects $object"
done
g++ -std=c++17 -O0 -I"$root/include" -I"$root/src" -fno-rtti \
  "$root/tools/request-path/request_path_probe.cpp" $objects --coverage -lutil -o "$out/probe"

for transport in $transports; do
  rm -f "$out"/*.gcda
  (cd "$out" && ./probe "$transport" 2>/dev/null) || { echo "$transport: the probe failed" >&2; exit 1; }
  # gcov names each source and header with lines that ran ("Lines executed:" above 0%).
  files=$(cd "$out" && gcov -n -r -s "$root" $(ls *.gcda | sed 's/\.gcda$/.o/') 2>/dev/null |
    awk -v root="$root/" '/^File /{f=$2; gsub(/\047/,"",f); sub(root,"",f)} /^Lines executed:/{if ($0 !~ /executed:0\.00%/ && f ~ /^(src|include)\//) print f; f=""}' |
    sort -u)
  count=$(echo "$files" | grep -c .)
  echo "$transport: $count files"
  echo "$files" | sed 's/^/  /'
done

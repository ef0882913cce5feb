#!/bin/sh
# Exits 0 when this machine can run the 64-bit Windows build under Wine's
# 64-bit loader, which needs nothing but an x86-64 kernel. Otherwise says why
# and exits 1.
root=$(cd "$(dirname "$0")/.." && pwd)
loader=$("$root/cmake/wine64-loader.sh") || { echo "$loader"; exit 1; }
if ! out=$(WINEDEBUG=-all "$loader" --version 2>&1); then
    echo "Wine's 64-bit loader does not run here: $out"
    exit 1
fi
exit 0

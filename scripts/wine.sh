#!/bin/sh
# Runs a program of the Windows build under Wine in the build's own Wine
# prefix (build/win32/wine-prefix), as the tests do:
#
#   scripts/wine.sh build/win32/bin/arrayhost.exe examples/qspan.txt --out qspan-output
root=$(cd "$(dirname "$0")/.." && pwd)
exec "$root/cmake/wine-run.sh" "$root/build/win32/wine-prefix" "$@"

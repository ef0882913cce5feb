#!/bin/sh
# Runs a program of a Windows build under Wine in that build's own Wine
# prefix, as the tests do: build/win32/wine-prefix for the 32-bit build, and
# build/win64/wine-prefix through Wine's 64-bit loader for the 64-bit build.
#
#   scripts/wine.sh build/win32/bin/arrayhost.exe examples/qspan.txt --out qspan-output
#   scripts/wine.sh build/win64/bin/validator.exe --plugin=ktr4
root=$(cd "$(dirname "$0")/.." && pwd)
case "$1" in
    *build/win64/*) exec "$root/cmake/wine-run.sh" --win64 "$root/build/win64/wine-prefix" "$@" ;;
    *) exec "$root/cmake/wine-run.sh" "$root/build/win32/wine-prefix" "$@" ;;
esac

#!/bin/sh
# Runs a cross-built Windows program under Wine, quietly, in a Wine prefix of
# its own, so that every machine behaves alike:
#
#   wine-run.sh [--win64] <prefix folder> <program.exe> [arguments]
#
# --win64 runs a 64-bit program through Wine's 64-bit loader in a 64-bit
# prefix. It needs no 32-bit loader, so it works on kernels that refuse 32-bit
# programs; plain `wine` picks the 32-bit loader whenever one is installed.
#
# The prefix is made on first use, without the Mono and Gecko installers
# (nothing here needs .NET or a browser engine); runs that start together
# make it once, under a lock.
set -u
loader=wine
if [ "${1:-}" = --win64 ]; then
    shift
    loader=$("$(dirname "$0")/wine64-loader.sh") || { echo "wine-run: $loader" >&2; exit 1; }
    WINEARCH=win64
    export WINEARCH
fi
prefix=$1
shift
WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES

if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock -w 600 9 || { echo "wine-run: could not lock $prefix" >&2; exit 1; }
        if [ ! -f "$prefix/system.reg" ]; then
            # A 64-bit prefix made where 32-bit programs cannot run reports
            # that its 32-bit half (syswow64) cannot start, and is usable.
            if ! DISPLAY= timeout 300 "$loader" wineboot -i >/dev/null 2>&1; then :; fi
            if ! timeout 120 wineserver -w || [ ! -f "$prefix/system.reg" ]; then
                echo "wine-run: wineboot could not make the Wine prefix $prefix" >&2
                exit 1
            fi
        fi
    ) 9>"$prefix.lock" || exit 1
fi
exec "$loader" "$@"

#!/bin/sh
# Runs a cross-built Windows program under Wine, quietly, in a Wine prefix of
# its own, so that every machine behaves alike:
#
#   wine-run.sh <prefix folder> <program.exe> [arguments]
#
# The prefix is made on first use, without the Mono and Gecko installers
# (nothing here needs .NET or a browser engine); runs that start together
# make it once, under a lock.
set -u
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
            if ! DISPLAY= timeout 300 wineboot -i >/dev/null 2>&1 || ! timeout 120 wineserver -w \
                || [ ! -f "$prefix/system.reg" ]; then
                echo "wine-run: wineboot could not make the Wine prefix $prefix" >&2
                exit 1
            fi
        fi
    ) 9>"$prefix.lock" || exit 1
fi
exec wine "$@"

#!/usr/bin/env bash
# Sets up a fresh Debian machine (run as root), builds everything and runs the
# main job: the stand-in host loads ktr4.dll under Wine the way the host
# program does, runs the default scenario, prints its report and writes the
# coverage maps and the side view into build/win32/arrayhost-output/.
# On a machine that cannot execute 32-bit programs it runs the same job under
# wine64, with the 64-bit build of the stand-in host and of ktr4.dll, into
# build/win64/arrayhost-output/.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-dependencies.sh
scripts/build.sh
if why=$(scripts/can-run-win32.sh); then
    scripts/wine.sh build/win32/bin/arrayhost.exe --out build/win32/arrayhost-output
else
    echo "setup: $why"
    echo "setup: running the main job with the 64-bit build under wine64 instead, into build/win64/arrayhost-output/"
    scripts/wine.sh build/win64/bin/arrayhost.exe --out build/win64/arrayhost-output
fi

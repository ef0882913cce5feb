#!/usr/bin/env bash
# Sets up a fresh Debian machine (run as root), builds everything and runs the
# main job: the stand-in host loads ktr4.dll under Wine the way the host
# program does, runs the default scenario, prints its report and writes the
# coverage maps and the side view into build/win32/arrayhost-output/.
# On a machine that cannot execute 32-bit programs (so Wine cannot load the
# DLLs) it runs the same job natively against the ktr4 shared library.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-dependencies.sh
scripts/build.sh
if why=$(scripts/can-run-win32.sh); then
    scripts/wine.sh build/win32/bin/arrayhost.exe --out build/win32/arrayhost-output
else
    echo "setup: $why"
    echo "setup: running the main job natively instead, into build/native/arrayhost-output/"
    build/native/bin/arrayhost --plugin ktr4 --out build/native/arrayhost-output
fi

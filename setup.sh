#!/usr/bin/env bash
# Sets up a fresh Debian machine (run as root), builds everything and runs the
# main job: the stand-in host loads ktr4.dll under Wine the way the host
# program does, runs the default scenario, prints its report and writes the
# coverage maps and the side view into build/win32/arrayhost-output/.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-dependencies.sh
scripts/build.sh
export WINEDEBUG=-all
wine build/win32/bin/arrayhost.exe --out build/win32/arrayhost-output

#!/usr/bin/env bash
# Sets up a fresh Debian machine (run as root), builds everything and runs the
# main job: loads each plug-in DLL under Wine the way the host program does and
# prints what the host reads first.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-dependencies.sh
scripts/build.sh
export WINEDEBUG=-all
wine build/win32/bin/plugininfo.exe

#!/usr/bin/env bash
# Runs every test: the native suite and the Windows suite under Wine. Builds
# first, so it can follow setup.sh or any change. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
scripts/build.sh || exit 1
status=0
ctest --preset native || status=1
WINEDEBUG=-all ctest --preset win32 || status=1
exit $status

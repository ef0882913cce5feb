#!/usr/bin/env bash
# Runs every test: the native suite, the Windows suite under Wine, and the
# native suite again under the sanitizers with the fuzz targets. Builds
# first, so it can follow setup.sh or any change. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
scripts/build.sh || exit 1
status=0
ctest --preset native || status=1
WINEDEBUG=-all ctest --preset win32 || status=1
# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang), with the fuzz targets run for a while.
{ cmake --preset sanitize >/dev/null && cmake --build --preset sanitize -j "$(nproc)"; } || exit 1
ctest --preset sanitize || status=1
exit $status

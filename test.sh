#!/usr/bin/env bash
# Runs every test: the native suite, the Windows suite under Wine, and the
# native suite again under the sanitizers with the fuzz targets. Builds
# first, so it can follow setup.sh or any change. Exits non-zero on any failure.
#
# The Windows suite runs on every machine as 64-bit programs under wine64
# (the win64 preset), and again as the shipped 32-bit DLLs where the kernel
# runs 32-bit programs. Where it does not, the 32-bit build's tests that need
# no Wine still run (the static checks of the DLLs' calling contract, the
# release archive and the reproducibility check), and the end of the output
# names the 32-bit runs that were not made. REQUIRE_WINDOWS_SUITE=1 makes
# that a failure.
set -uo pipefail
cd "$(dirname "$0")"
scripts/build.sh || exit 1
status=0
ctest --preset native || status=1

if why=$(scripts/can-run-win64.sh); then
    ctest --preset win64 || status=1
else
    echo "test: the 64-bit Windows suite cannot run: $why" >&2
    status=1
fi

win32_missing=""
if why=$(scripts/can-run-win32.sh); then
    ctest --preset win32 || status=1
else
    win32_missing=$why
    ctest --preset win32 -R '^(abi\.|release\.(package|reproducible|origins|hostile_text)$)' || status=1
fi

# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang), with the fuzz targets run for a while.
{ cmake --preset sanitize >/dev/null && cmake --build --preset sanitize -j "$(nproc)"; } || exit 1
ctest --preset sanitize || status=1

if [ -n "$win32_missing" ]; then
    cat <<MSG

======================================================================
NOT RUN: the 32-bit DLLs under Wine (the test host, the validator, the
dialog and arrayhost end to end, and release.check on the archive).
Reason: $win32_missing
Run instead: the same suite as 64-bit programs under wine64, and the
static checks of the 32-bit DLLs (exports, stack pops, imports, x87,
checksum), the release archive, the reproducibility check, the release's
data check and the release built twice from hostile data.
======================================================================
MSG
    if [ "${REQUIRE_WINDOWS_SUITE:-0}" = 1 ]; then status=1; fi
fi
exit $status

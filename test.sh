#!/usr/bin/env bash
# Runs every test: the native suite, the Windows suite under Wine, and the
# native suite again under the sanitizers with the fuzz targets. Builds
# first, so it can follow setup.sh or any change. Exits non-zero on any failure.
#
# On a machine that cannot execute 32-bit x86 programs Wine cannot load the
# DLLs: the Windows build is still made, its tests that need no Wine (the
# release archive and the reproducibility check) still run, and the end of
# the output says loudly what was not run. REQUIRE_WINDOWS_SUITE=1 makes that
# a failure.
set -uo pipefail
cd "$(dirname "$0")"
scripts/build.sh || exit 1
status=0
ctest --preset native || status=1

windows_suite_missing=""
if why=$(scripts/can-run-win32.sh); then
    ctest --preset win32 || status=1
else
    windows_suite_missing=$why
    ctest --preset win32 -R '^release\.(package|reproducible)$' || status=1
fi

# The native suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang), with the fuzz targets run for a while.
{ cmake --preset sanitize >/dev/null && cmake --build --preset sanitize -j "$(nproc)"; } || exit 1
ctest --preset sanitize || status=1

if [ -n "$windows_suite_missing" ]; then
    cat <<MSG

======================================================================
NOT RUN: the Windows suite under Wine (the test host, the validator,
the dialog and arrayhost end to end, the release archive's check).
Reason: $windows_suite_missing
The DLLs and the Windows test programs were built, not run.
======================================================================
MSG
    if [ "${REQUIRE_WINDOWS_SUITE:-0}" = 1 ]; then status=1; fi
fi
exit $status

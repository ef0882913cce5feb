#!/usr/bin/env bash
# Configures and builds the presets: native (core, tests, shared libraries),
# win32 (the three DLLs as shipped, the Windows test host and the static
# checks of the DLLs) and win64 (the same code as 64-bit Windows programs, so
# that the Windows suite runs under wine64 on any x86-64 kernel).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in native win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done

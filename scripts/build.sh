#!/usr/bin/env bash
# Configures and builds both presets: native (core, tests, shared libraries)
# and win32 (the three DLLs and the Windows test host).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in native win32; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done

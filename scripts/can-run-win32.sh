#!/bin/sh
# Exits 0 when this machine can run the Windows build under Wine: Debian's
# Wine runs 32-bit programs through a 32-bit x86 Linux loader, which some
# kernels (and sandboxes) refuse to execute. Otherwise says why and exits 1.
if ! command -v wine >/dev/null 2>&1; then
    echo "wine is not installed (scripts/install-dependencies.sh installs it)"
    exit 1
fi
if ! out=$(WINEDEBUG=-all wine --version 2>&1); then
    echo "this machine cannot execute 32-bit x86 programs, which Wine needs for 32-bit DLLs: $out"
    exit 1
fi
exit 0

#!/bin/sh
# Exits 0 when this machine can run the 32-bit Windows build under Wine:
# Debian's Wine runs 32-bit programs through a 32-bit x86 Linux loader, which
# some kernels (and sandboxes) refuse to execute. Otherwise says why and exits 1.
if ! command -v wine >/dev/null 2>&1; then
    echo "wine is not installed (scripts/install-dependencies.sh installs it)"
    exit 1
fi
if [ -d /usr/lib/wine ] && [ ! -x /usr/lib/wine/wine ]; then
    echo "Wine's 32-bit loader /usr/lib/wine/wine is missing or not executable (wine32:i386; scripts/install-dependencies.sh installs it)"
    exit 1
fi
if ! out=$(WINEDEBUG=-all wine --version 2>&1); then
    echo "this machine cannot execute 32-bit x86 programs, which Wine needs for 32-bit DLLs: $out"
    exit 1
fi
exit 0

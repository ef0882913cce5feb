#!/bin/sh
# Prints the path of Wine's 64-bit loader, or says why there is none and
# exits 1. Debian's wine64 package installs it as /usr/lib/wine/wine64 with no
# command on the PATH; other installs name it wine64.
for candidate in "${WINE64_LOADER:-}" /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then
        echo "$candidate"
        exit 0
    fi
done
echo "Wine's 64-bit loader is not installed (scripts/install-dependencies.sh installs wine64)"
exit 1

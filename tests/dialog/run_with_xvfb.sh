#!/usr/bin/env bash
# Runs the dialog's end-to-end test program under Wine on a private, headless
# X server, then turns its screenshots into PNG files.
#
#   run_with_xvfb.sh [--win64] <prefix dir> <screenshot dir> <test.exe> [test arguments]
#
# --win64 runs a 64-bit test program through Wine's 64-bit loader in a 64-bit
# prefix, which works where the kernel refuses 32-bit programs.
#
# The Wine prefix is the test's own (made on first use), so its desktop
# belongs to this X server and no other Wine session can interfere; runs that
# share it take turns through a lock. Every process started here is ended
# here, and the whole run is bounded in time.
set -uo pipefail

loader=wine
if [ "${1:-}" = --win64 ]; then
    shift
    loader=$("$(dirname "$0")/../../cmake/wine64-loader.sh") || { echo "$loader" >&2; exit 1; }
    export WINEARCH=win64
fi
prefix=$1
shots=$2
shift 2
exe=$1
shift

run_seconds=${DIALOG_TEST_TIMEOUT_SECONDS:-300}
mkdir -p "$prefix" "$shots"
exec 9>"$prefix.lock"
if ! flock -w 600 9; then
    echo "could not lock the Wine prefix $prefix" >&2
    exit 1
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

if [ ! -f "$prefix/system.reg" ]; then
    echo "making the Wine prefix $prefix (once)"
    # A 64-bit prefix made where 32-bit programs cannot run reports that its
    # 32-bit half cannot start, and is usable: the registry decides.
    DISPLAY= timeout 300 "$loader" wineboot -i >/dev/null 2>&1
    if ! timeout 60 wineserver -w || [ ! -f "$prefix/system.reg" ]; then
        echo "wineboot could not make the Wine prefix $prefix" >&2
        exit 1
    fi
fi
# No window manager runs here: Wine draws the caption and frame itself and
# does not wait for a manager's answer on every show and hide.
if ! grep -q '"Managed"="N"' "$prefix/user.reg" 2>/dev/null; then
    DISPLAY= timeout 120 "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    timeout 60 wineserver -w
fi

# The first display number whose server starts: no lock file or socket
# beforehand, and our server still alive once its socket appears.
display=""
xvfb_pid=""
cleanup() {
    WINEPREFIX=$prefix timeout 30 wineserver -k >/dev/null 2>&1
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
}
trap cleanup EXIT
for n in $(seq 90 190); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then
        continue
    fi
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        if [ -e "/tmp/.X11-unix/X$n" ] || ! kill -0 "$xvfb_pid" 2>/dev/null; then
            break
        fi
        sleep 0.1
    done
    if [ -e "/tmp/.X11-unix/X$n" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
        display=$n
        break
    fi
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
done
if [ -z "$display" ]; then
    echo "could not start Xvfb on any display from :90 to :190" >&2
    exit 1
fi
export DISPLAY=":$display"

rm -f "$shots"/*.bmp
started=$(date +%s)
(cd "$shots" && timeout -k 10 "$run_seconds" "$loader" "$exe" "$@")
status=$?
echo "end-to-end run took $(( $(date +%s) - started )) s, status $status"
if [ "$status" -eq 124 ]; then
    echo "the test program did not finish within $run_seconds s" >&2
fi

for bmp in "$shots"/*.bmp; do
    [ -e "$bmp" ] || continue
    if convert "$bmp" "${bmp%.bmp}.png"; then
        rm -f "$bmp"
        echo "screenshot ${bmp%.bmp}.png"
    else
        echo "could not convert $bmp" >&2
        status=1
    fi
done
exit "$status"

#!/usr/bin/env bash
# Remakes every picture in docs/ from a fresh build:
#   docs/arrayhost-*.png     the default scenario, run and designed by arrayhost
#                            under Wine
#   docs/setup-dialog-*.png  the setup dialogs, photographed by their end-to-end
#                            test under Wine on a private X server
#   docs/balloons/*.svg      polar plots of the balloons in models/data/
# Run after ./setup.sh (or on a machine set up by it); takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

# The stand-in host's maps and side view of the default scenario: the 32-bit
# build where the kernel runs it, else the 64-bit one under wine64 (the same
# numbers).
build=build/win32
if ! scripts/can-run-win32.sh >/dev/null; then build=build/win64; fi
out=$build/pictures
rm -rf "$out"
scripts/wine.sh $build/bin/arrayhost.exe --quiet --out "$out/arrayhost"
for name in arrayhost-map-250Hz arrayhost-map-1kHz arrayhost-map-4kHz arrayhost-map-broadband arrayhost-side; do
    cp "$out/arrayhost/$name.png" docs/
done
# Its design for the default floor: level against distance.
scripts/wine.sh $build/bin/arrayhost.exe --design --quiet --out "$out/design"
cp "$out/design/arrayhost-design-profile.png" docs/

# The dialogs: ktr4 after its splays were edited, qspan with sixteen cells.
WINEDEBUG=-all ctest --preset win32 -R '^dialog\.e2e\.(ktr4|qspan)$'
cp build/win32/dialog-screenshots/ktr4-edited.png docs/setup-dialog-ktr4.png
cp build/win32/dialog-screenshots/qspan-sixteen.png docs/setup-dialog-qspan.png

# Polar plots: file stem, band in Hz, title.
plot() {
    build/native/bin/balloon plot "models/data/$1.f32" "$2" "docs/balloons/$1_$2hz.svg" "$3 balloon"
}
for band in 125 1000 4000 10000; do plot ktr "$band" "ktr2 / ktr4"; done
plot qsa 8000 "qspan QSA"
plot qsb 1000 "qspan QSB"
plot qsb 8000 "qspan QSB"
plot qsc 8000 "qspan QSC"
echo "make-pictures: docs/ is up to date; git status shows what changed"

#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root. Safe to run
# again: it installs only what is missing.
set -euo pipefail

packages=(
    cmake g++ make
    g++-mingw-w64-i686          # the 32-bit Windows plug-ins (posix thread model)
    binutils-mingw-w64-i686     # objdump, for the static checks of the 32-bit DLLs
    g++-mingw-w64-x86-64        # the same code as 64-bit Windows programs, for testing
    wine64                      # runs the 64-bit Windows suite, on any x86-64 kernel
    wine wine32:i386            # runs the 32-bit Windows suite where the kernel allows
    xvfb imagemagick            # the setup dialog, headless, and its screenshots
    googletest libgtest-dev     # tests: sources for the Windows build, the library natively
    libbenchmark-dev            # the benchmark of the host's inner loop
    clang libclang-rt-14-dev    # the sanitize preset: sanitizer and libFuzzer runtimes
    libstb-dev                  # PNG writing and text for the stand-in host's pictures
    libnetcdf-dev               # reading measured balloons from AES69 (SOFA) files, natively
    libqhull-dev                # triangulating measured directions (Qhull), natively
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-dependencies: everything is installed"
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "install-dependencies: these packages are missing, and installing them needs root:" >&2
    echo "  run this script (or ./setup.sh) as root, or install them with: sudo apt-get install ${missing[*]}" >&2
    echo "  (wine32:i386 also needs: sudo dpkg --add-architecture i386 && sudo apt-get update)" >&2
    exit 1
fi
echo "install-dependencies: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"

#!/usr/bin/env bash
# Installs every Debian package the project needs (with --fuzz also those of
# scripts/fuzz.sh, with --lint lintian). Safe to run again and again.
set -euo pipefail
PKGS=(build-essential cmake ninja-build pkg-config
      qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
      libgtest-dev googletest
      xvfb xauth picocom
      g++-mingw-w64-x86-64-win32 wine64
      desktop-file-utils man-db dpkg-dev file
      zlib1g-dev libzstd-dev
      libxcb1-dev xdotool   # bench_stop drives the window on its own X display
      zstd xz-utils         # bench_context sets Velotrax beside zstd -19 and xz -9e
      time bc)              # scripts/large-file.sh measures time and peak memory
# scripts/fuzz.sh: clang with its sanitizer runtimes and libFuzzer.
if [ "${1:-}" = "--fuzz" ]; then PKGS+=(clang libclang-rt-14-dev libfuzzer-14-dev); fi
# scripts/check-packages.sh: lintian.
if [ "${1:-}" = "--lint" ]; then PKGS+=(lintian); fi
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

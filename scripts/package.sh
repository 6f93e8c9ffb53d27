#!/usr/bin/env bash
# Builds the Debian packages into dist/: velotrax-cli (console program,
# qrnstamp, receiver service) and velotrax (the desktop program).
# Install with: apt install ./dist/velotrax-cli_*.deb ./dist/velotrax_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVELOTRAX_TESTS=OFF >/dev/null
cmake --build build-package -j2
# Only this build's packages, so that dist/*.deb never picks up an old version.
mkdir -p dist
rm -f dist/*.deb
(cd build-package && cpack -G DEB -B "$PWD/../dist" >/dev/null)
rm -rf dist/_CPack_Packages
ls -1 dist/*.deb

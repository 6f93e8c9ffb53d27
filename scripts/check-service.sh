#!/usr/bin/env bash
# Checks the receiver service as it is installed: systemd takes every line of
# it, and its sandbox keeps an exposure of at most 2.5 in
# `systemd-analyze security`. Skipped where systemd-analyze is missing
# (package systemd).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v systemd-analyze >/dev/null; then
  echo "check-service: no systemd-analyze, skipped"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# verify checks that the program exists: a stand-in for the installed one.
mkdir "$work/bin"
printf '#!/bin/sh\n' > "$work/bin/velotrax-cli"
chmod +x "$work/bin/velotrax-cli"
unit=$work/velotrax-receive@ttyUSB0.service
sed "s|@CMAKE_INSTALL_FULL_BINDIR@|$work/bin|g" packaging/velotrax-receive@.service.in > "$unit"

# An unknown key or a bad value is only a warning to verify: any output fails.
if ! out=$(systemd-analyze verify --man=no "$unit" 2>&1) || [ -n "$out" ]; then
  echo "check-service: systemd-analyze verify objects:"
  echo "$out"
  exit 1
fi
if ! out=$(systemd-analyze security --offline=true --threshold=25 --no-pager "$unit" 2>&1); then
  echo "$out"
  echo "check-service: the exposure is above 2.5"
  exit 1
fi
last=${out##*$'\n'}
echo "check-service: ${last#→ }"

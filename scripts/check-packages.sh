#!/usr/bin/env bash
# Builds the Debian packages (scripts/package.sh) and lints them: any lintian
# error or warning fails, as does a subcommand of velotrax-cli --help that its
# manual page leaves out. Overrides: packaging/*.lintian-overrides.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --lint >/dev/null
scripts/package.sh >/dev/null

for cmd in $(build-package/bin/velotrax-cli --help | sed -n 's/^  velotrax-cli \([a-z][a-z]*\).*/\1/p'); do
  grep -q "^\.B velotrax-cli $cmd\$" packaging/velotrax-cli.1 ||
    { echo "check-packages: velotrax-cli.1 has no synopsis for '$cmd'"; exit 1; }
done
lintian --info --fail-on error,warning dist/*.deb
echo "check-packages: lintian found no errors or warnings"

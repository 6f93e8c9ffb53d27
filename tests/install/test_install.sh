#!/usr/bin/env bash
# Installs the build into a temporary root (DESTDIR) and runs what landed
# there: the console program, qrnstamp, the desktop program off screen with
# its settings in a temporary home, the manual pages and the desktop entry.
# Usage: test_install.sh BUILD_DIR INSTALL_PREFIX
set -euo pipefail
build=$1 prefix=$2
work=$(mktemp -d /tmp/velotrax-install.XXXXXX)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" >/dev/null
root="$work/root$prefix"
bin="$root/bin"
for p in velotrax velotrax-cli qrnstamp; do [ -x "$bin/$p" ] || fail "$p not installed in $bin"; done

grep -q '[0-9]' <<<"$("$bin/velotrax-cli" --version)" || fail "velotrax-cli --version"
# Read whole first: grep -q stops reading at its match, and with pipefail the
# writer's broken pipe would fail the line.
help=$("$bin/velotrax-cli" --help) || fail "velotrax-cli --help"
grep -q 'velotrax-cli receive' <<<"$help" || fail "velotrax-cli --help"
if grep -q '^ *velotrax-cli ports' <<<"$help"; then
  "$bin/velotrax-cli" ports >/dev/null || fail "velotrax-cli ports"
fi
echo x > "$work/a b.txt"
TZ=UTC0 "$bin/qrnstamp" "$work/a?b.txt" 20070315143055 || fail "qrnstamp"
[ "$(TZ=UTC0 date -r "$work/a b.txt" +%Y%m%d%H%M%S)" = 20070315143055 ] || fail "qrnstamp set no date"

for page in "$root"/share/man/man1/{velotrax,velotrax-cli,qrnstamp}.1.gz; do
  [ -f "$page" ] || fail "$page missing"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man -l $page"
  [ -z "$warnings" ] || fail "man -l $page: $warnings"
  grep -q '^NAME' <<<"$(MANWIDTH=80 man -l "$page" 2>/dev/null)" || fail "$page renders no NAME"
done
desktop-file-validate "$root/share/applications/velotrax.desktop" || fail "desktop entry"
[ -f "$root/share/icons/hicolor/192x192/apps/velotrax.png" ] || fail "icon missing"
grep -q "ExecStart=$prefix/bin/velotrax-cli receive --port /dev/%I" \
  "$root/lib/systemd/system/velotrax-receive@.service" || fail "service unit"

# The installed desktop program, in a folder it may not write, keeps its
# settings in the user's configuration folder.
chmod a-w "$bin"
mkdir -p "$work/home"
HOME="$work/home" XDG_CONFIG_HOME= QT_QPA_PLATFORM=offscreen VELOTRAX_SCREENSHOT=close \
  timeout 60 "$bin/velotrax" >"$work/velotrax.log" 2>&1 || { cat "$work/velotrax.log"; fail "velotrax did not close"; }
[ -f "$work/home/.config/Velotrax/qrn.ini" ] || { cat "$work/velotrax.log"; fail "no qrn.ini in the configuration folder"; }
[ ! -e "$bin/qrn.ini" ] || fail "qrn.ini written beside the installed program"
grep -q '^COM: 1' "$work/home/.config/Velotrax/qrn.ini" || fail "qrn.ini content"

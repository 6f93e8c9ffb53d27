#!/usr/bin/env bash
# The no-hardware demo: the virtual null-modem cable joins two Velotrax console
# stations, one sends a few sample files, the other receives them, and the
# files are shown with their dates on both sides. Needs a build (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${BIN:-$PWD/build/bin}
for p in vnullmodem velotrax-cli qrnstamp; do
  [ -x "$bin/$p" ] || { echo "demo: $bin/$p not found; run scripts/build.sh first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/velotrax-demo.XXXXXX)
cable_pid=""
cleanup() {
  [ -n "$cable_pid" ] && kill "$cable_pid" 2>/dev/null && wait "$cable_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/sender" "$work/receiver" "$work/outbox" "$work/inbox"

# Sample files with dates in the past, so the received dates are visibly the sender's.
printf 'Velotrax demo: a small text file.\n' > "$work/outbox/hello.txt"
head -c 40000 /dev/urandom > "$work/outbox/random 40k.bin"
head -c 12000 /dev/zero | tr '\0' '\001' > "$work/outbox/ones.bin"
touch -d '2007-03-15 14:30:55' "$work/outbox/hello.txt"
touch -d '2019-11-02 08:00:00' "$work/outbox/random 40k.bin"
touch -d '2024-02-29 23:59:59' "$work/outbox/ones.bin"

speed=115200
"$bin/vnullmodem" --link-a "$work/sender/COM1" --link-b "$work/receiver/COM1" --baud "$speed" \
  > "$work/cable.out" &
cable_pid=$!
for _ in $(seq 100); do grep -q '^READY' "$work/cable.out" 2>/dev/null && break; sleep 0.05; done
grep -q '^READY' "$work/cable.out" || { echo "demo: the cable did not start" >&2; exit 1; }
echo "Virtual null-modem cable at $speed baud 8N1:"
grep -E '^(A|B) ' "$work/cable.out" | sed 's/^/  /'

echo; echo "Receiver listening, writing into $work/inbox"
"$bin/velotrax-cli" receive --port "$work/receiver/COM1" --speed "$speed" --once "$work/inbox" &
receiver_pid=$!
echo "Sender sending:"; ls -l --time-style='+%Y-%m-%d %H:%M:%S' "$work/outbox" | tail -n +2 | sed 's/^/  /'
echo
start=$(date +%s%N)
send_status=0; receive_status=0
"$bin/velotrax-cli" send --port "$work/sender/COM1" --speed "$speed" --progress "$work"/outbox/* || send_status=$?
wait "$receiver_pid" || receive_status=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
# qrnstamp runs detached after each file: give the last one a moment to set its date.
for _ in $(seq 50); do
  [ "$(stat -c %Y "$work/inbox/ones.bin" 2>/dev/null)" = "$(stat -c %Y "$work/outbox/ones.bin")" ] && break
  sleep 0.02
done

echo; echo "Received in $ms ms (sender status $send_status, receiver status $receive_status):"
ls -l --time-style='+%Y-%m-%d %H:%M:%S' "$work/inbox" | tail -n +2 | sed 's/^/  /'
echo
same_dates=yes
for f in "$work"/outbox/*; do
  [ "$(stat -c %Y "$f")" = "$(stat -c %Y "$work/inbox/$(basename "$f")" 2>/dev/null)" ] || same_dates=no
done
if (cd "$work/outbox" && sha256sum -- *) | (cd "$work/inbox" && sha256sum --quiet -c -) && [ $same_dates = yes ]; then
  echo "All files arrived byte for byte with the sender's modified times."
else
  echo "Some files differ!"; exit 1
fi

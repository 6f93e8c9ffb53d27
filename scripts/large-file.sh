#!/usr/bin/env bash
# Sends a sparse file of 5 GiB with data past 4 GiB from one velotrax-cli to
# another through a pipe pair (no line time), then compares it and prints the
# time and the peak memory of each side. Needs about 5 GiB free in DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-$(mktemp -d)}
cli=${VELOTRAX_CLI:-build/bin/velotrax-cli}
mkdir -p "$dir/src" "$dir/in"
python3 - "$dir/src/big.bin" <<'PY'
import os, random, sys
random.seed(5)
with open(sys.argv[1], 'wb') as f:
    f.truncate(5 * 1024**3 + 12345)
    for pos in (0, 2**31 - 100, 2**32 - 50, 2**32 + 1000, 5 * 1024**3):
        f.seek(pos)
        f.write(bytes(random.getrandbits(8) for _ in range(3000)))
PY
rm -f "$dir/back" "$dir/in/big.bin"
mkfifo "$dir/back"
start=$(date +%s.%N)
/usr/bin/time -f "sender:   %e s, peak %M KiB" "$cli" send --stdio --quiet "$dir/src/big.bin" <"$dir/back" 2>"$dir/send.err" |
    /usr/bin/time -f "receiver: %e s, peak %M KiB" "$cli" receive --stdio --once --quiet "$dir/in" >"$dir/back" 2>"$dir/recv.err"
end=$(date +%s.%N)
tail -1 "$dir/send.err"
tail -1 "$dir/recv.err"
cmp "$dir/src/big.bin" "$dir/in/big.bin" && echo "identical: $(stat -c %s "$dir/in/big.bin") bytes in $(echo "$end - $start" | bc) s"
echo "the copy takes $(du -k "$dir/in/big.bin" | cut -f1) KiB on the disk"
rm -f "$dir/in/big.bin" "$dir/back"

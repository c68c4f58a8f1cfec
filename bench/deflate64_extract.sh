#!/usr/bin/env bash
# Deflate64 extract benchmark: a mixed corpus of about 100 MB (C headers, shared libraries,
# incompressible bytes, and data whose repeats lie beyond deflate's 32 KiB window) packed by
# 7-Zip with `-mm=Deflate64`, then extracted once by arcbench (the engine) and once by `7zz x`,
# side by side; prints both times and their ratio, best of RUNS each.
# Target: time at most 1.25 of 7-Zip's. The two extracted trees must be identical.
# Usage: bench/deflate64_extract.sh [BUILD_DIR] [WORK_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
work=${2:-/tmp/tarvelo-bench-d64}
runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
PEER_NAME=7zz
peer() { 7zz x -y -bd -o"$out/peer" "$archive" >/dev/null; }
. "$here/extract_race.sh"
corpus="$work/corpus"
archive="$work/deflate64.zip"

make_corpus() {
  mkdir -p "$corpus/src" "$corpus/bin" "$corpus/random" "$corpus/far"
  # Source text: the C headers, about 45 MB.
  (cd /usr/include && find . -type f -printf '%s %P\n' | sort -k2 |
    awk '{ t += $1; if (t <= 45000000) { sub(/^[0-9]+ /, ""); print } }' |
    tar -cf - --no-recursion -T - | tar -xf - -C "$corpus/src")
  # Binaries: shared libraries, about 25 MB.
  local total=0
  for f in /usr/lib/x86_64-linux-gnu/*.so.*; do
    [ -f "$f" ] && [ ! -L "$f" ] && [ "$(stat -c %s "$f")" -lt 8000000 ] || continue
    cp "$f" "$corpus/bin/"
    total=$((total + $(stat -c %s "$f")))
    [ $total -lt 25000000 ] || break
  done
  # Incompressible, 10 MB.
  for i in 1 2; do head -c 5000000 /dev/urandom > "$corpus/random/r$i.bin"; done
  # 20 MB whose repeats sit 40 to 60 KiB back, where only Deflate64 reaches, and long runs.
  python3 - "$corpus/far" <<'EOF'
import os, random, sys
rng = random.Random(64)
for n in range(4):
    out = bytearray()
    while len(out) < 5_000_000:
        block = rng.randbytes(rng.randint(40_000, 60_000))
        out += block * rng.randint(2, 5)
        out += bytes([rng.randint(0, 255)]) * rng.randint(300, 70_000)
    open(os.path.join(sys.argv[1], f"far{n}.bin"), "wb").write(out[:5_000_000])
EOF
}

if [ ! -f "$corpus/.complete" ]; then rm -rf "$corpus"; make_corpus; touch "$corpus/.complete"; fi
if [ ! -s "$archive" ]; then
  (cd "$corpus" && 7zz a -tzip -mm=Deflate64 -mx=5 -bd -y "$archive" . >/dev/null)
fi
echo "corpus: $(du -sb "$corpus" | cut -f1) bytes, $(find "$corpus" -type f | wc -l) files;" \
  "archive: $(stat -c %s "$archive") bytes"

race 1.25

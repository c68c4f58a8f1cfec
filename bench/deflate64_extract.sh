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
arcbench="$build/bench/arcbench"
[ -x "$arcbench" ] || { echo "no $arcbench: build first" >&2; exit 2; }
"$arcbench" 2>&1 | grep -q 'arcbench extract' || { echo "$arcbench has no extract command" >&2; exit 2; }
mkdir -p "$work"
corpus="$work/corpus"
archive="$work/deflate64.zip"

make_corpus() {
  mkdir -p "$corpus/src" "$corpus/bin" "$corpus/random" "$corpus/far"
  # Source text: the C headers, about 45 MB.
  local total=0
  while read -r f; do
    mkdir -p "$corpus/src/$(dirname "$f")"
    cp "/usr/include/$f" "$corpus/src/$f"
    total=$((total + $(stat -c %s "/usr/include/$f")))
    [ $total -lt 45000000 ] || break
  done < <(cd /usr/include && find . -type f | sort)
  # Binaries: shared libraries, about 25 MB.
  total=0
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

now() { date +%s.%N; }
best_e=; best_7=
for i in $(seq "$runs"); do
  rm -rf "$work/x-engine" "$work/x-7zip"; sync
  t0=$(now)
  "$arcbench" extract "$archive" "$work/x-engine" >"$work/extract-engine.out" 2>"$work/extract-engine.err" ||
    { echo "arcbench extract failed:" >&2; head "$work/extract-engine.err" >&2; exit 1; }
  t1=$(now)
  7zz x -y -bd -o"$work/x-7zip" "$archive" >/dev/null
  t2=$(now)
  te=$(echo "$t1 - $t0" | bc -l); t7=$(echo "$t2 - $t1" | bc -l)
  printf 'run %d: engine %.3f s, 7zz %.3f s\n' "$i" "$te" "$t7"
  if [ -z "$best_e" ] || (( $(echo "$te < $best_e" | bc -l) )); then best_e=$te; fi
  if [ -z "$best_7" ] || (( $(echo "$t7 < $best_7" | bc -l) )); then best_7=$t7; fi
done

diff -r -q "$work/x-engine" "$work/x-7zip" >/dev/null || { echo "the extracted trees differ" >&2; exit 1; }
printf 'engine : %8.3f s  (%s)\n' "$best_e" "$(cat "$work/extract-engine.out")"
printf '7zz x  : %8.3f s\n' "$best_7"
printf 'time ratio %.3f (target <= 1.25)\n' "$(echo "$best_e / $best_7" | bc -l)"

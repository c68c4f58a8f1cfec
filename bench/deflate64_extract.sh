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
usage=$("$arcbench" 2>&1 || true)
[[ "$usage" == *"arcbench extract"* ]] || { echo "$arcbench has no extract command" >&2; exit 2; }
mkdir -p "$work"
# Outputs go to memory (tmpfs) when it has room: on ext4 a tree extracted right after another
# was deleted pays for the allocator skipping recently freed inodes, which would favour
# whichever program runs second. DEST=folder overrides.
if [ -z "${DEST:-}" ] && [ -d /dev/shm ] && [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -gt 2000000 ]; then
  DEST=/dev/shm/tarvelo-extract.$$
fi
out=${DEST:-$work/extracted}
mkdir -p "$out"
trap 'rm -rf "$out"' EXIT
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

now() { date +%s.%N; }
# Seconds that one command takes.
timed() { local t0; t0=$(now); "$@"; echo "$(now) - $t0" | bc -l; }
engine() {
  "$arcbench" extract "$archive" "$out/engine" >"$work/extract-engine.out" 2>"$work/extract-engine.err" ||
    { echo "arcbench extract failed:" >&2; head "$work/extract-engine.err" >&2; exit 1; }
}
peer() { 7zz x -y -bd -o"$out/7zip" "$archive" >/dev/null; }
best_e=; best_p=
for i in $(seq "$runs"); do
  rm -rf "$out/engine" "$out/7zip"; sync
  # The order alternates, so that neither program always finds the caches as the other left them.
  if [ $((i % 2)) -eq 1 ]; then te=$(timed engine); tp=$(timed peer); else tp=$(timed peer); te=$(timed engine); fi
  printf 'run %d: engine %.3f s, 7zz %.3f s\n' "$i" "$te" "$tp"
  if [ -z "$best_e" ] || (( $(echo "$te < $best_e" | bc -l) )); then best_e=$te; fi
  if [ -z "$best_p" ] || (( $(echo "$tp < $best_p" | bc -l) )); then best_p=$tp; fi
done

diff -r -q "$out/engine" "$out/7zip" >/dev/null || { echo "the extracted trees differ" >&2; exit 1; }
printf 'engine : %8.3f s  (last run: %s)\n' "$best_e" "$(cat "$work/extract-engine.out")"
printf '7zz x  : %8.3f s\n' "$best_p"
printf 'time ratio %.3f (target <= 1.25)\n' "$(echo "$best_e / $best_p" | bc -l)"

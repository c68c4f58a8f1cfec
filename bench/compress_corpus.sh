#!/usr/bin/env bash
# Compress benchmark: a mixed corpus of about 200 MB written once by arcbench (the engine) and
# once by Info-ZIP `zip -r -6 -q`, side by side; prints both times and sizes and their ratios.
# Targets: time at most 1.05 of zip's, size within 1% of it.
# Usage: bench/compress_corpus.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
build=${1:-build}
work=${2:-$(mktemp -d /tmp/tarvelo-bench.XXXXXX)}
arcbench="$build/bench/arcbench"
[ -x "$arcbench" ] || { echo "no $arcbench: build first" >&2; exit 2; }
corpus="$work/corpus"

make_corpus() {
  mkdir -p "$corpus/src" "$corpus/bin" "$corpus/text" "$corpus/random"
  # Many small source files: the C headers, about 150 MB.
  cp -r /usr/include/. "$corpus/src/" 2>/dev/null || true
  # Links that lead nowhere in the copy (relative links out of /usr/include) would fail the run
  # as files it cannot read.
  find "$corpus/src" -xtype l -delete
  # Binaries: shared libraries, about 20 MB.
  local total=0
  for f in /usr/lib/x86_64-linux-gnu/*.so.*; do
    [ -f "$f" ] && [ ! -L "$f" ] && [ "$(stat -c %s "$f")" -lt 10000000 ] || continue
    cp "$f" "$corpus/bin/"
    total=$((total + $(stat -c %s "$f")))
    [ $total -lt 20000000 ] || break
  done
  # One large text file of about 30 MB.
  { find /usr/share/doc -name '*.gz' -size -200k 2>/dev/null | head -400 | xargs -r zcat 2>/dev/null > "$corpus/text/big.txt"; } || true
  [ -s "$corpus/text/big.txt" ] || seq 1 3000000 > "$corpus/text/big.txt"
  while [ "$(stat -c %s "$corpus/text/big.txt")" -lt 30000000 ]; do
    { cat "$corpus/text/big.txt" "$corpus/text/big.txt" | head -c 31000000 > "$corpus/text/big.tmp"; } || true
    mv "$corpus/text/big.tmp" "$corpus/text/big.txt"
  done
  # Incompressible files, 20 MB.
  for i in 1 2 3 4; do head -c 5000000 /dev/urandom > "$corpus/random/r$i.bin"; done
}

[ -f "$corpus/.complete" ] || { rm -rf "$corpus"; make_corpus; touch "$corpus/.complete"; }
echo "corpus: $(du -sb "$corpus" | cut -f1) bytes, $(find "$corpus" -type f | wc -l) files"
sync

rm -f "$work/engine.zip" "$work/infozip.zip"
t0=$(date +%s.%N)
"$arcbench" compress "$corpus" "$work/engine.zip" --level n 2>"$work/engine.err"
t1=$(date +%s.%N)
(cd "$corpus" && zip -r -6 -q "$work/infozip.zip" .)
t2=$(date +%s.%N)

te=$(echo "$t1 - $t0" | bc -l); tz=$(echo "$t2 - $t1" | bc -l)
se=$(stat -c %s "$work/engine.zip"); sz=$(stat -c %s "$work/infozip.zip")
printf 'engine : %8.3f s  %12d bytes\n' "$te" "$se"
printf 'zip -6 : %8.3f s  %12d bytes\n' "$tz" "$sz"
printf 'time ratio %.3f (target <= 1.05), size ratio %.4f (target within 0.99..1.01)\n' \
  "$(echo "$te / $tz" | bc -l)" "$(echo "$se / $sz" | bc -l)"

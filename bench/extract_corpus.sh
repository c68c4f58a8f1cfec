#!/usr/bin/env bash
# Extract benchmark: the corpus archive of the compress benchmark (bench/compress_corpus.sh,
# made by the engine) extracted once by arcbench (the engine) and once by Info-ZIP
# `unzip -o -q`, side by side; prints both times and their ratio, best of RUNS each.
# Target: time at most 1.0 of unzip's. The two extracted trees must be identical.
# Usage: bench/extract_corpus.sh [BUILD_DIR] [WORK_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
work=${2:-/tmp/tarvelo-bench}
runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
arcbench="$build/bench/arcbench"
[ -x "$arcbench" ] || { echo "no $arcbench: build first" >&2; exit 2; }
"$arcbench" 2>&1 | grep -q 'arcbench extract' || { echo "$arcbench has no extract command" >&2; exit 2; }
mkdir -p "$work"
archive="$work/engine.zip"

# The compress benchmark leaves the corpus and the engine's archive in WORK_DIR; reuse both.
if [ ! -f "$work/corpus/.complete" ] || [ ! -s "$archive" ]; then
  "$here/compress_corpus.sh" "$build" "$work"
fi
echo "archive: $(stat -c %s "$archive") bytes, $(unzip -Z1 "$archive" | wc -l) entries"

now() { date +%s.%N; }
best_e=; best_u=
for i in $(seq "$runs"); do
  rm -rf "$work/x-engine" "$work/x-unzip"; sync
  t0=$(now)
  "$arcbench" extract "$archive" "$work/x-engine" >"$work/extract-engine.out" 2>"$work/extract-engine.err" ||
    { echo "arcbench extract failed:" >&2; head "$work/extract-engine.err" >&2; exit 1; }
  t1=$(now)
  unzip -o -q "$archive" -d "$work/x-unzip"
  t2=$(now)
  te=$(echo "$t1 - $t0" | bc -l); tu=$(echo "$t2 - $t1" | bc -l)
  printf 'run %d: engine %.3f s, unzip %.3f s\n' "$i" "$te" "$tu"
  if [ -z "$best_e" ] || (( $(echo "$te < $best_e" | bc -l) )); then best_e=$te; fi
  if [ -z "$best_u" ] || (( $(echo "$tu < $best_u" | bc -l) )); then best_u=$tu; fi
done

diff -r -q "$work/x-engine" "$work/x-unzip" >/dev/null || { echo "the extracted trees differ" >&2; exit 1; }
printf 'engine   : %8.3f s  (%s)\n' "$best_e" "$(cat "$work/extract-engine.out")"
printf 'unzip -o : %8.3f s\n' "$best_u"
printf 'time ratio %.3f (target <= 1.0)\n' "$(echo "$best_e / $best_u" | bc -l)"

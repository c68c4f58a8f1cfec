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
archive="$work/engine.zip"

# The compress benchmark leaves the corpus and the engine's archive in WORK_DIR; reuse both.
if [ ! -f "$work/corpus/.complete" ] || [ ! -s "$archive" ]; then
  "$here/compress_corpus.sh" "$build" "$work"
fi
echo "archive: $(stat -c %s "$archive") bytes, $(unzip -Z1 "$archive" | wc -l) entries"

now() { date +%s.%N; }
# Seconds that one command takes.
timed() { local t0; t0=$(now); "$@"; echo "$(now) - $t0" | bc -l; }
engine() {
  "$arcbench" extract "$archive" "$out/engine" >"$work/extract-engine.out" 2>"$work/extract-engine.err" ||
    { echo "arcbench extract failed:" >&2; head "$work/extract-engine.err" >&2; exit 1; }
}
peer() { unzip -o -q "$archive" -d "$out/unzip"; }
best_e=; best_p=
for i in $(seq "$runs"); do
  rm -rf "$out/engine" "$out/unzip"; sync
  # The order alternates, so that neither program always finds the caches as the other left them.
  if [ $((i % 2)) -eq 1 ]; then te=$(timed engine); tp=$(timed peer); else tp=$(timed peer); te=$(timed engine); fi
  printf 'run %d: engine %.3f s, unzip %.3f s\n' "$i" "$te" "$tp"
  if [ -z "$best_e" ] || (( $(echo "$te < $best_e" | bc -l) )); then best_e=$te; fi
  if [ -z "$best_p" ] || (( $(echo "$tp < $best_p" | bc -l) )); then best_p=$tp; fi
done

diff -r -q "$out/engine" "$out/unzip" >/dev/null || { echo "the extracted trees differ" >&2; exit 1; }
printf 'engine   : %8.3f s  (last run: %s)\n' "$best_e" "$(cat "$work/extract-engine.out")"
printf 'unzip -o : %8.3f s\n' "$best_p"
printf 'time ratio %.3f (target <= 1.0)\n' "$(echo "$best_e / $best_p" | bc -l)"

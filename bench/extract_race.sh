# Shared by the extract benchmarks (sourced, not run): checks arcbench, picks the output folder,
# and times the engine against a peer program, best of RUNS each.
# Expects: build, work, runs, archive; PEER_NAME and a function peer that extracts "$archive"
# into "$out/peer".

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

now() { date +%s.%N; }
# Seconds that one command takes.
timed() { local t0; t0=$(now); "$@"; echo "$(now) - $t0" | bc -l; }
engine() {
  "$arcbench" extract "$archive" "$out/engine" >"$work/extract-engine.out" 2>"$work/extract-engine.err" ||
    { echo "arcbench extract failed:" >&2; head "$work/extract-engine.err" >&2; exit 1; }
}

# Prints each run, the best times and their ratio against TARGET.
race() {
  local target=$1 best_e= best_p= te tp i
  for i in $(seq "$runs"); do
    rm -rf "$out/engine" "$out/peer"; sync
    # The order alternates, so that neither program always finds the caches as the other left them.
    if [ $((i % 2)) -eq 1 ]; then te=$(timed engine); tp=$(timed peer); else tp=$(timed peer); te=$(timed engine); fi
    printf 'run %d: engine %.3f s, %s %.3f s\n' "$i" "$te" "$PEER_NAME" "$tp"
    if [ -z "$best_e" ] || (( $(echo "$te < $best_e" | bc -l) )); then best_e=$te; fi
    if [ -z "$best_p" ] || (( $(echo "$tp < $best_p" | bc -l) )); then best_p=$tp; fi
  done
  diff -r -q "$out/engine" "$out/peer" >/dev/null || { echo "the extracted trees differ" >&2; exit 1; }
  printf '%-9s: %8.3f s  (last run: %s)\n' engine "$best_e" "$(cat "$work/extract-engine.out")"
  printf '%-9s: %8.3f s\n' "$PEER_NAME" "$best_p"
  printf 'time ratio %.3f (target <= %s)\n' "$(echo "$best_e / $best_p" | bc -l)" "$target"
}

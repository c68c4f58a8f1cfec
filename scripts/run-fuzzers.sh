#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a bounded time on its seed corpus.
# Usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
# The corpora grow as the targets run; they go with the run, and so do targets still running
# when the run is interrupted.
work=$(mktemp -d /tmp/tarvelo-fuzz.XXXXXX)
cleanup() {
  local running
  running=$(jobs -p)
  if [[ -n $running ]]; then
    kill $running 2>/dev/null || true
    wait 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
shopt -s nullglob
pids=()
for bin in "$build"/tests/fuzz/fuzz_*; do
  [[ -x "$bin" && -f "$bin" ]] || continue
  name=$(basename "$bin")
  corpus="$work/$name"
  mkdir "$corpus"
  seeds="$root/tests/fuzz/corpus/$name"
  [[ -d "$seeds" ]] && cp -r "$seeds"/. "$corpus"/
  echo "fuzz: $name for ${seconds}s"
  "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 "$corpus" \
    >"$build/$name.log" 2>&1 &
  pids+=("$!:$name")
done
failed=0
for entry in "${pids[@]}"; do
  pid=${entry%%:*}; name=${entry#*:}
  if ! wait "$pid"; then
    echo "fuzz: $name FAILED"; tail -n 40 "$build/$name.log"; failed=1
  else
    echo "fuzz: $name ok ($(grep -o 'Done [0-9]* runs' "$build/$name.log" | tail -1))"
  fi
done
exit $failed

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
PEER_NAME=unzip
peer() { unzip -o -q "$archive" -d "$out/peer"; }
. "$here/extract_race.sh"
archive="$work/engine.zip"

# The compress benchmark leaves the corpus and the engine's archive in WORK_DIR; reuse both.
if [ ! -f "$work/corpus/.complete" ] || [ ! -s "$archive" ]; then
  "$here/compress_corpus.sh" "$build" "$work"
fi
echo "archive: $(stat -c %s "$archive") bytes, $(unzip -Z1 "$archive" | wc -l) entries"

race 1.0

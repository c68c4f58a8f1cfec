#!/usr/bin/env bash
# Writes the seeds of fuzz_restore_tree: its one tree backed up by each zip writer at hand.
# The tree comes from the target itself, so the seeds and the target's table cannot differ.
# Usage: tests/fuzz/make_restore_tree_seeds.sh [FUZZ_BUILD_DIR] [BUILD_DIR]
#   FUZZ_BUILD_DIR holds the fuzz target (default build-fuzz), BUILD_DIR the engine's arcbench
#   (default build), which writes the tree through the programs' own task run.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fuzz_build=$(cd "${1:-$root/build-fuzz}" && pwd)
build=$(cd "${2:-$root/build}" && pwd)
target="$fuzz_build/tests/fuzz/fuzz_restore_tree"
arcbench="$build/bench/arcbench"
[[ -x $target ]] || { echo "no $target: build the fuzz targets first" >&2; exit 2; }
[[ -x $arcbench ]] || { echo "no $arcbench: build first" >&2; exit 2; }
seeds="$root/tests/fuzz/corpus/fuzz_restore_tree"
work=$(mktemp -d /tmp/tarvelo-seeds.XXXXXX)
trap 'rm -rf "$work"' EXIT

tree="$work/tree"
mkdir "$tree"
TARVELO_WRITE_TREE="$tree" "$target" >/dev/null 2>&1
# One date for every file, so the seeds do not change with the day they are made.
find "$tree" -exec touch -h -d '2024-06-28 12:00:00' {} +

mkdir -p "$seeds"
rm -f "$seeds"/*.zip
cd "$tree"
zip -q -r -X "$seeds/infozip.zip" .
zip -q -r -X -0 "$seeds/infozip-stored.zip" .
# Written to a pipe, zip cannot seek back: every entry gets a data descriptor.
zip -q -r -X - . | cat > "$seeds/infozip-piped.zip"
7zz a -tzip -bd -bso0 "$seeds/7zip.zip" .
7zz a -tzip -mm=Deflate64 -bd -bso0 "$seeds/7zip-deflate64.zip" .
bsdtar --format zip -cf "$seeds/bsdtar.zip" .
python3 - "$seeds/python.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for folder, dirs, files in sorted(os.walk(".")):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            z.write(path, os.path.relpath(path, "."))
PY
"$arcbench" compress "$tree" "$seeds/tarvelo.zip" >/dev/null
ls -l "$seeds"

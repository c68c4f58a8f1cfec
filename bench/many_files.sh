#!/usr/bin/env bash
# Many-small-files benchmark: a home-folder-like tree of 100,000 files of 10-400 bytes in 100
# folders (about 20 MB, made once and deterministically), run through the engine (arcbench) and
# Info-ZIP side by side:
#   compress  tree -> new archive        arcbench compress   against  zip -r -6 -q
#   extract   archive -> empty folder    arcbench extract    against  unzip -q
#   add       the same tree onto its     arcbench compress   against  zip -r -u -q
#             archive, nothing changed
# Each is run with everything on disk (the tree, the archives and the extracted trees under
# WORK_DIR) and again with everything in memory (a copy of the tree on tmpfs, /dev/shm), unless
# PLACES names only one of "disk tmpfs". Prints for each the best of RUNS times of each program
# (real, with its user and system time) and their ratio, then the system calls per file of each
# program from `strace -c -f` (one run each, not timed, on disk; SYSCALLS=0 skips them).
# Targets: compress <= 0.85 of zip's, extract <= 0.85 of unzip's, add <= 1.0 of zip -u's.
# Needs: zip, unzip, python3, bc; strace for the system-call counts (skipped without it).
# Usage: bench/many_files.sh [BUILD_DIR] [WORK_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
work=${2:-/tmp/tarvelo-many}
runs=${3:-5}
arcbench="$build/bench/arcbench"
[ -x "$arcbench" ] || { echo "no $arcbench: build first" >&2; exit 2; }
for tool in zip unzip python3 bc; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
mkdir -p "$work"
work=$(cd "$work" && pwd)
tree="$work/tree"
files=100000

make_tree() { python3 "$(dirname "$0")/make_trees.py" many "$tree" "$files"; }

if [ ! -f "$work/.tree-complete" ]; then
  rm -rf "$tree"
  make_tree
  touch "$work/.tree-complete"
fi
echo "tree: $(find "$tree" -type f | wc -l) files, $(du -sb "$tree" | cut -f1) bytes in $(find "$tree" -mindepth 1 -type d | wc -l) folders"

engine_zip= peer_zip= out= tree_here=
now() { date +%s.%N; }

# Each run is a preparation (not timed, not traced) and the program's command.
prep_compress() { rm -f "$engine_zip" "$peer_zip"; }
e_compress() { "$arcbench" compress "$tree_here" "$engine_zip" --level n; }
p_compress() { cd "$tree_here" && zip -r -6 -q "$peer_zip" .; }
# Each extraction goes to folders of its own. On a file system without a journal, ext4 does not
# reuse an inode for a minute or more after its file was deleted, and every file created meanwhile
# searches past all of them: creating 100,000 files right after deleting as many takes ten times
# as long, whichever program does it. So on disk the extracted trees stay until the place's races
# are over (run the benchmark again only a few minutes later); in memory each goes at once.
n_extract=0
prep_extract() {
  [ "$keep_extracted" = 1 ] || rm -rf "$out/engine.$n_extract" "$out/peer.$n_extract"
  n_extract=$((n_extract + 1))
}
e_extract() { "$arcbench" extract "$engine_zip" "$out/engine.$n_extract"; }
p_extract() { unzip -q -o "$engine_zip" -d "$out/peer.$n_extract"; }
prep_add() { :; }
# arcbench runs the writer as the programs' task runs do: onto an existing archive it adds.
e_add() { "$arcbench" compress "$tree_here" "$engine_zip" --level n; }
# zip -u answers "nothing to do" with status 12 when nothing changed.
p_add() { cd "$tree_here" && { zip -r -u -q "$peer_zip" . || [ $? -eq 12 ]; }; }

# "real user sys" seconds of one command (in a subshell, so that its cd stays there; user and
# sys include its children).
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$( { time ( "$1" >/dev/null 2>"$work/last.err" ); } 2>&1 ) || { echo "failed: $1" >&2; head "$work/last.err" >&2; exit 1; }
  echo "$t"
}

# Best (by real time) of RUNS of the engine and the peer, alternating which goes first.
race() {
  local what=$1 peer=$2 target=$3 best_e= best_p= te tp i
  for i in $(seq "$runs"); do
    "prep_$what"; sync
    if [ $((i % 2)) -eq 1 ]; then te=$(timed "e_$what"); tp=$(timed "p_$what"); else tp=$(timed "p_$what"); te=$(timed "e_$what"); fi
    [ -n "$te" ] && [ -n "$tp" ] || exit 1
    if [ -z "$best_e" ] || (( $(echo "${te%% *} < ${best_e%% *}" | bc -l) )); then best_e=$te; fi
    if [ -z "$best_p" ] || (( $(echo "${tp%% *} < ${best_p%% *}" | bc -l) )); then best_p=$tp; fi
  done
  read -r er eu es <<<"$best_e"
  read -r pr pu ps <<<"$best_p"
  printf '%-8s engine %7.3f s (%.2f user, %.2f sys)   %-7s %7.3f s (%.2f user, %.2f sys)   ratio %.3f (target <= %s)\n' \
    "$what" "$er" "$eu" "$es" "$peer" "$pr" "$pu" "$ps" "$(echo "$er / $pr" | bc -l)" "$target"
}

# The three races with the tree, the archives and the extracted trees in one folder.
bench_in() {
  local place=$1 dir=$2
  tree_here=$3
  keep_extracted=$4
  engine_zip="$dir/engine.zip"
  peer_zip="$dir/infozip.zip"
  out="$dir/extracted"
  mkdir -p "$out"
  echo "== $place: $dir ($(df -PT "$dir" | awk 'NR==2 {print $2}'))"
  race compress "zip -6" 0.85
  race extract unzip 0.85
  diff -r -q "$out/engine.$n_extract" "$out/peer.$n_extract" >/dev/null || { echo "the extracted trees differ" >&2; exit 1; }
  diff -r -q "$out/engine.$n_extract" "$tree_here" >/dev/null || { echo "the extracted tree differs from the source" >&2; exit 1; }
  race add "zip -u" 1.0
  unzip -tq "$engine_zip" >/dev/null || { echo "unzip -t finds the engine's archive damaged" >&2; exit 1; }
  rm -rf "$out"
}

places=${PLACES:-disk tmpfs}
shm=
trap '[ -z "$shm" ] || rm -rf "$shm"' EXIT
for place in $places; do
  case $place in
    disk)
      bench_in "tree on disk" "$work" "$tree" 1 ;;
    tmpfs)
      if [ ! -d /dev/shm ] || [ "$(df -Pk /dev/shm | awk 'NR==2 {print $4}')" -lt 1000000 ]; then
        echo "== tree on tmpfs: skipped, /dev/shm has no room"
        continue
      fi
      shm=/dev/shm/tarvelo-many.$$
      mkdir -p "$shm"
      cp -a "$tree" "$shm/tree"
      bench_in "tree on tmpfs" "$shm" "$shm/tree" 0
      rm -rf "$shm"
      shm= ;;
    *) echo "unknown place $place (disk or tmpfs)" >&2; exit 2 ;;
  esac
done

# System calls per file of one run of a command, by kind (those of 0.05 per file or more).
syscalls() {
  local label=$1 fn=$2 log="$work/strace.txt"
  ( strace -c -f -o "$log" bash -c "$(declare -f "$fn"); $(declare -p arcbench tree_here engine_zip peer_zip out n_extract); $fn" ) \
    >/dev/null 2>&1 || { echo "strace of $label failed" >&2; return; }
  awk -v n="$files" -v label="$label" '
    $1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" {
      calls = $4; total += calls; if (calls / n >= 0.05) list = list sprintf(" %s %.2f", $NF, calls / n) }
    END { printf "%-16s %6.2f per file:%s\n", label, total / n, list }' "$log"
}
if [ "${SYSCALLS:-1}" != 0 ] && command -v strace >/dev/null; then
  echo "system calls per file (strace -c -f, whole run including the shell, on disk):"
  tree_here=$tree
  engine_zip="$work/engine.zip"
  peer_zip="$work/infozip.zip"
  out="$work/extracted"
  mkdir -p "$out"
  keep_extracted=0
  prep_compress
  syscalls "engine compress" e_compress
  syscalls "zip -6" p_compress
  prep_extract
  syscalls "engine extract" e_extract
  syscalls "unzip" p_extract
  syscalls "engine add" e_add
  syscalls "zip -u" p_add
  rm -rf "$out"
else
  echo "no strace: system-call counts skipped"
fi

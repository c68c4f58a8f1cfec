#!/usr/bin/env bash
# The programs' own task runs against the engine, on the 100,000-file tree of many_files.sh and on
# a tree of 8 large files (256 MiB, half text, half random bytes), both made once under WORK_DIR:
#   build/bench/manager_runs   the backup form (new, add) and the restore form
#   build/bench/executor_runs  the executor's task run (new, add)
# each beside the engine alone doing the same work, under the same conditions (a fresh folder, a
# folder whose files were just deleted), interleaved, best of RUNS. Target: every program run
# within 1.5 times the engine's. The forms run offscreen (QT_QPA_PLATFORM=offscreen) with their
# result boxes answered by a script.
# ONLY=TEXT runs only the races whose name holds TEXT; SIDE=engine or SIDE=program runs one side
# alone (for counting its system calls with strace -c, or its instructions with valgrind).
# The fresh-folder restores keep their trees until the tree's races are over: about 2 GB on disk.
# Needs: python3. Usage: bench/task_runs.sh [BUILD_DIR] [WORK_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
work=${2:-/tmp/tarvelo-many}
runs=${3:-3}
for program in manager_runs executor_runs; do
  [ -x "$build/bench/$program" ] || { echo "no $build/bench/$program: build first" >&2; exit 2; }
done
command -v python3 >/dev/null || { echo "needs python3" >&2; exit 2; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
here=$(dirname "$0")

# The small tree is many_files.sh's, in the same place by default.
if [ ! -f "$work/.tree-complete" ]; then
  rm -rf "$work/tree"
  python3 "$here/make_trees.py" many "$work/tree" 100000
  touch "$work/.tree-complete"
fi
if [ ! -f "$work/.large-complete" ]; then
  rm -rf "$work/large"
  python3 "$here/make_trees.py" large "$work/large"
  touch "$work/.large-complete"
fi

export QT_QPA_PLATFORM=offscreen
for tree in tree large; do
  echo "== $tree: $(find "$work/$tree" -type f | wc -l) files, $(du -sb "$work/$tree" | cut -f1) bytes ($(df -PT "$work" | awk 'NR==2 {print $2}'))"
  "$build/bench/manager_runs" "$work/$tree" "$work/runs" "$runs" "manager $tree"
  "$build/bench/executor_runs" "$work/$tree" "$work/runs" "$runs" "executor $tree"
done
rm -rf "$work/runs"

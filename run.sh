#!/usr/bin/env bash
# Installs what is missing, builds the programs, installs them into the installation folder and
# starts the manager. Only the programs are built here; ./test.sh builds everything.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
prefix=${TARVELO_HOME:-$HOME/Tarvelo}
cmake -S . -B build -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build build -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target Kalvenor Dorvexal Lokvist
cmake --install build
export TARVELO_HOME="$prefix"
exec "$prefix/Kalvenor"

#!/usr/bin/env bash
# Installs what is missing, builds the programs, installs them into the installation folder and
# starts the manager. Only the programs are built here, and only what they need is installed;
# ./test.sh installs and builds everything.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh programs
prefix=${TARVELO_HOME:-$HOME/Tarvelo}
# A new build folder leaves the tests out, so that no test package is needed; one that ./test.sh
# configured keeps them.
tests=()
[[ -f build/CMakeCache.txt ]] || tests=(-DTARVELO_TESTS=OFF)
cmake -S . -B build -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix" "${tests[@]}"
cmake --build build -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}" --target Kalvenor Dorvexal Lokvist
cmake --install build
export TARVELO_HOME="$prefix"
exec "$prefix/Kalvenor"

#!/usr/bin/env bash
# Installs what is missing, builds, installs into the installation folder and starts the manager.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
prefix=${TARVELO_HOME:-$HOME/Tarvelo}
cmake -S . -B build -G Ninja -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build build -j "$(nproc)"
if [[ -x build/manager/Kalvenor ]]; then
  cmake --install build
  export TARVELO_HOME="$prefix"
  exec "$prefix/Kalvenor"
fi
echo "run.sh: the manager program is not built yet; everything else was built in build/."

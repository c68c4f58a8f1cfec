#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the full build, the tests of
# what only a desktop shows on a private X server with a window manager, the engine under
# AddressSanitizer/UBSan, and the fuzz targets for a bounded time.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh

# CMAKE_BUILD_PARALLEL_LEVEL, when set, bounds the builds and the test runs alike.
jobs=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export QT_QPA_PLATFORM=offscreen
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
  XDG_RUNTIME_DIR=$(mktemp -d /tmp/tarvelo-xdg.XXXXXX)
  runtime_made=$XDG_RUNTIME_DIR
  trap 'rm -rf "$runtime_made"' EXIT
fi
export XDG_RUNTIME_DIR
chmod 700 "$XDG_RUNTIME_DIR"

echo "== build and test"
# The tests are switched on here, also in a build folder that ./run.sh made without them.
cmake -S . -B build -G Ninja -DTARVELO_WERROR=ON -DTARVELO_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" -E '^desktop_tests$'

echo "== desktop tests under Xvfb with openbox"
TARVELO_REQUIRE_DESKTOP=1 ctest --test-dir build --output-on-failure -R '^desktop_tests$'

echo "== engine under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DTARVELO_WERROR=ON -DTARVELO_SANITIZE=ON -DTARVELO_GUI=OFF \
  -DCMAKE_BUILD_TYPE=Debug
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

if command -v clang++ >/dev/null && [[ -n "$(ls tests/fuzz/fuzz_*.cpp 2>/dev/null)" ]]; then
  echo "== fuzz targets"
  CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTARVELO_FUZZ=ON -DTARVELO_GUI=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build-fuzz -j "$jobs"
  ./scripts/run-fuzzers.sh build-fuzz "${FUZZ_SECONDS:-60}"
fi
echo "== all tests passed"

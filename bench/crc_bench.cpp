// CRC-32 throughput of the engine's Crc32Update against zlib's crc32() over 256 MiB.
// Prints one line: the ratio (engine / zlib) and the MB/s of each.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "archive/qrnCrypt.h"

namespace {

constexpr size_t kTotal = size_t{256} << 20;
constexpr size_t kBlock = size_t{1} << 20;  // buffers the size the streams really hand over

double Seconds(const std::function<void()>& f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  const std::chrono::duration<double> d = std::chrono::steady_clock::now() - t0;
  return d.count();
}

}  // namespace

int main() {
  std::vector<uint8_t> block(kBlock);
  std::mt19937_64 rng(1);
  for (auto& b : block) b = static_cast<uint8_t>(rng());

  uint32_t engine = 0;
  auto runEngine = [&] {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t done = 0; done < kTotal; done += kBlock) Crc32Update(block.data(), block.size(), crc);
    engine = crc ^ 0xFFFFFFFFu;
  };
  uLong reference = 0;
  auto runZlib = [&] {
    uLong crc = crc32(0, nullptr, 0);
    for (size_t done = 0; done < kTotal; done += kBlock) crc = crc32(crc, block.data(), static_cast<uInt>(block.size()));
    reference = crc;
  };
  // A warm-up pass, then alternating rounds so that clock ramps and cache state favour neither.
  runEngine();
  runZlib();
  double tEngine = 1e30, tZlib = 1e30;
  for (int round = 0; round < 5; ++round) {
    tEngine = std::min(tEngine, Seconds(runEngine));
    tZlib = std::min(tZlib, Seconds(runZlib));
  }
  if (engine != reference) {
    std::fprintf(stderr, "CRC mismatch: engine %08x, zlib %08lx\n", engine, reference);
    return 1;
  }
  const double mb = static_cast<double>(kTotal) / 1e6;
  std::printf("crc32 ratio %.3f (engine %.0f MB/s, zlib %.0f MB/s, 256 MiB)\n", tZlib / tEngine, mb / tEngine,
              mb / tZlib);
  return 0;
}

// Time of DeflateFile on a 64 MiB file against a bare zlib loop at the same level.
// Usage: deflatefile_bench [folder]   (the test file is made there and removed)
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/qrnFilters.h"
#include "archive/qrnStreams.h"
#include "platform/files.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

std::vector<uint8_t> Corpus(size_t n) {
  // Text-like data with some incompressible runs, as a backup sees.
  static const char* words[] = {"backup ", "archive ", "folder ", "task ", "Tarvelo ", "schedule ", "\n"};
  std::mt19937 rng(42);
  std::vector<uint8_t> v;
  v.reserve(n);
  while (v.size() < n) {
    if (rng() % 50 == 0) {
      for (int i = 0; i < 512 && v.size() < n; ++i) v.push_back(static_cast<uint8_t>(rng()));
    } else {
      for (const char* p = words[rng() % 7]; *p && v.size() < n; ++p) v.push_back(static_cast<uint8_t>(*p));
    }
  }
  return v;
}

double BareZlib(const std::string& path, int level, size_t& outBytes) {
  auto t = std::chrono::steady_clock::now();
  int fd = platform::OpenFile(path, 0x20);
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> in(61440), out(131070);
  uLong crc = crc32(0, nullptr, 0);
  outBytes = 0;
  int32_t n;
  while ((n = platform::ReadFile(fd, in.data(), static_cast<int32_t>(in.size()))) > 0) {
    crc = crc32(crc, in.data(), static_cast<uInt>(n));
    z.next_in = in.data();
    z.avail_in = static_cast<uInt>(n);
    while (z.avail_in > 0) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, Z_NO_FLUSH);
      outBytes += out.size() - z.avail_out;
    }
  }
  int rc;
  do {
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    rc = deflate(&z, Z_FINISH);
    outBytes += out.size() - z.avail_out;
  } while (rc == Z_OK);
  deflateEnd(&z);
  platform::CloseFile(fd);
  return Seconds(t);
}

double Engine(const std::string& path, TDeflateType type, size_t& outBytes) {
  auto t = std::chrono::steady_clock::now();
  TFileStream32 in(path, 0x20);
  TMemoryStream32 out;
  int64_t left = in.Size();
  bool cancel = false;
  TFilterState state;
  state.BytesLeft = &left;
  state.Cancel = &cancel;
  uint32_t crc = 0;
  DeflateFile(&in, &out, state, crc, type, nullptr, -15);
  outBytes = static_cast<size_t>(out.Size());
  return Seconds(t);
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : "/tmp";
  std::string path = folder + "/deflatefile_bench.dat";
  auto data = Corpus(64u << 20);
  int fd = platform::OpenFile(path, platform::kModeCreate);
  platform::WriteFile(fd, data.data(), static_cast<int32_t>(data.size()));
  platform::CloseFile(fd);
  struct Level {
    const char* name;
    TDeflateType type;
    int zlevel;
  } levels[] = {{"fast (1)", dtDeflateF, 1}, {"normal (6)", dtDeflateN, 6}, {"max (9)", dtDeflateX, 9}};
  for (const auto& l : levels) {
    size_t a = 0, b = 0;
    double best1 = 1e9, best2 = 1e9;
    for (int i = 0; i < 3; ++i) {  // alternate, keep the best of each: the machine is shared
      best1 = std::min(best1, BareZlib(path, l.zlevel, a));
      best2 = std::min(best2, Engine(path, l.type, b));
    }
    std::printf("DeflateFile %-10s  zlib %.3f s  engine %.3f s  ratio %.3f  (sizes %zu / %zu)\n", l.name, best1,
                best2, best2 / best1, a, b);
  }
  platform::DeleteFile(path);
  return 0;
}

// Raw-inflate throughput of the engine's stream inflate against zlib's inflate() on text, binary
// and random data deflated by zlib at levels 1, 6 and 9. Prints output MB/s and the ratio.
#include "archive/qrnInflate.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kSize = 8u << 20;

Bytes MakeText() {
  static const char* const words[] = {"the", "archive", "backup", "of", "and", "file", "folder", "to", "is",
                                      "return", "if", "for", "while", "int32_t", "const", "std::string", "data",
                                      "window", "stream", "error", "value", "count", "size", "table", "entry",
                                      "Tarvelo", "extract", "compress", "a", "in", "with", "that", "on", "not"};
  std::mt19937 rng(1);
  std::string s;
  while (s.size() < kSize) {
    const int kind = static_cast<int>(rng() % 4);
    int n = 3 + static_cast<int>(rng() % 12);
    if (kind == 0) s += "  ";
    if (kind == 1) s += "    if (";
    while (n-- > 0) {
      s += words[rng() % std::size(words)];
      s += (rng() % 7 == 0) ? ", " : " ";
      if (rng() % 13 == 0) s += std::to_string(rng() % 100000);
    }
    s += (kind == 1) ? ") {\n" : ".\n";
  }
  s.resize(kSize);
  return Bytes(s.begin(), s.end());
}

Bytes MakeBinary() {
  Bytes out;
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator("/usr/bin", ec))
    if (e.is_regular_file(ec) && e.file_size(ec) > 4096) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out.insert(out.end(), b.begin(), b.end());
    if (out.size() >= kSize) break;
  }
  out.resize(std::min(out.size(), kSize));
  return out;
}

Bytes MakeRandom() {
  std::mt19937_64 rng(7);
  Bytes b(kSize / 2);
  for (auto& c : b) c = static_cast<uint8_t>(rng());
  return b;
}

Bytes Deflate(const Bytes& src, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, src.size()));
  z.next_in = const_cast<Bytef*>(src.data());
  z.avail_in = static_cast<uInt>(src.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

bool Ours(const Bytes& packed, Bytes& out) {
  TInflateStreamRec s;
  StreamInflateInit(&s, -15, StreamInflateRecSize);
  s.NextIn = packed.data();
  s.AvailIn = static_cast<uint32_t>(packed.size());
  s.NextOut = out.data();
  s.AvailOut = static_cast<uint32_t>(out.size());
  const int32_t r = StreamInflate(&s, 0);
  StreamInflateEnd(&s);
  return r == siStreamEnd;
}

bool Zlib(const Bytes& packed, Bytes& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(packed.data());
  z.avail_in = static_cast<uInt>(packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int r = inflate(&z, Z_NO_FLUSH);
  inflateEnd(&z);
  return r == Z_STREAM_END;
}

double BestMBs(const std::function<bool(const Bytes&, Bytes&)>& f, const Bytes& packed, const Bytes& orig) {
  Bytes out(orig.size());
  double best = 1e30;
  for (int i = 0; i < 7; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = f(packed, out);
    const double dt = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok || out != orig) {
      std::printf("MISMATCH\n");
      std::exit(1);
    }
    best = std::min(best, dt);
  }
  return static_cast<double>(orig.size()) / best / 1e6;
}

}  // namespace

int main() {
  struct Case {
    const char* name;
    Bytes data;
  };
  Case cases[] = {{"text", MakeText()}, {"binary", MakeBinary()}, {"random", MakeRandom()}};
  std::printf("%-8s %5s %10s %10s %10s %8s\n", "data", "level", "MiB", "ours MB/s", "zlib MB/s", "ratio");
  for (const auto& c : cases) {
    for (int level : {1, 6, 9}) {
      const Bytes packed = Deflate(c.data, level);
      const double ours = BestMBs(Ours, packed, c.data);
      const double zlib = BestMBs(Zlib, packed, c.data);
      std::printf("%-8s %5d %10.2f %10.1f %10.1f %8.2f\n", c.name, level, c.data.size() / 1048576.0, ours, zlib,
                  ours / zlib);
    }
  }
  return 0;
}

// Walk speed of the file scanner: trees of 25k, 50k and 100k files in 250, 500 and 1000
// folders, each walked with TqrnFileScan into its own list. The cost must grow linearly with
// the number of entries, so the growth ratio (time ratio over size ratio) should stay near 1.
//
//   scan_bench [folder]     (default /tmp; the trees are made there and removed afterwards)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "archive/qrnFileScan.h"

namespace {

constexpr int kFilesPerFolder = 100;
constexpr int kRuns = 3;

bool BuildTree(const std::string& root, int files) {
  if (::mkdir(root.c_str(), 0755) != 0) return false;
  for (int d = 0; d < files / kFilesPerFolder; ++d) {
    const std::string dir = root + "/d" + std::to_string(d);
    if (::mkdir(dir.c_str(), 0755) != 0) return false;
    for (int f = 0; f < kFilesPerFolder; ++f) {
      const std::string name = dir + "/file" + std::to_string(f) + (f % 2 ? ".txt" : ".dat");
      const int fd = ::open(name.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
      if (fd < 0) return false;
      ::close(fd);
    }
  }
  return true;
}

// Best of a few walks, so that the first walk's cold cache does not decide.
double WalkSeconds(const std::string& root, int expected) {
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    TqrnFileScan scan;
    TStrings spec;
    spec.Add(root + "/*.*");
    scan.SetFileSpec(spec);
    const auto t0 = std::chrono::steady_clock::now();
    scan.Scan();
    const auto t1 = std::chrono::steady_clock::now();
    if (scan.FilesCount() != expected || scan.FilesList().Count() != expected) {
      std::fprintf(stderr, "walk found %d files, expected %d\n", scan.FilesCount(), expected);
      return -1;
    }
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string base = argc > 1 ? argv[1] : "/tmp";
  const std::vector<int> sizes{25000, 50000, 100000};
  std::vector<double> seconds;
  std::printf("%10s %8s %10s %14s\n", "files", "folders", "seconds", "files/second");
  for (int files : sizes) {
    const std::string root = base + "/tarvelo_scan_bench_" + std::to_string(::getpid()) + "_" + std::to_string(files);
    const bool built = BuildTree(root, files);
    const double s = built ? WalkSeconds(root, files) : -1;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    if (!built || s < 0) {
      std::fprintf(stderr, "cannot build or walk %s\n", root.c_str());
      return 1;
    }
    seconds.push_back(s);
    std::printf("%10d %8d %10.4f %14.0f\n", files, files / kFilesPerFolder, s, files / s);
  }
  for (size_t i = 1; i < sizes.size(); ++i) {
    const double sizeRatio = static_cast<double>(sizes[i]) / sizes[i - 1];
    const double timeRatio = seconds[i] / seconds[i - 1];
    std::printf("%dk -> %dk: time x%.2f for size x%.2f, growth ratio %.2f (1.00 is linear)\n", sizes[i - 1] / 1000,
                sizes[i] / 1000, timeRatio, sizeRatio, timeRatio / sizeRatio);
  }
  const double overall = (seconds.back() / seconds.front()) / (static_cast<double>(sizes.back()) / sizes.front());
  std::printf("overall growth ratio 25k -> 100k: %.2f\n", overall);
  return 0;
}

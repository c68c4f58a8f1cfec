// Update scaling: an archive of 20k, 40k and 80k small files updated with the same files, once
// with swRefresh (nothing changed) and once with swAdd and one new file. Prints the times and
// the growth ratio of each doubling. Target: doubling N costs at most 2.3 times the time.
//   update_scaling [WORK_DIR]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "archive/qrnZip.h"

namespace {

double Seconds(TZip& zip) {
  const auto t0 = std::chrono::steady_clock::now();
  zip.Compress();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Setup(TZip& zip, const std::string& archive, const std::string& src, TSwitch sw) {
  zip.SetArchiveFile(archive);
  zip.FileSpec().Clear();
  zip.FileSpec().Add(src + "/*.*");
  zip.SetSwitch(sw);
  zip.SetTempDir(std::filesystem::path(archive).parent_path().string());
}

}  // namespace

int main(int argc, char** argv) {
  std::string work = argc > 1 ? argv[1] : (std::filesystem::temp_directory_path() / "tarvelo-update-bench").string();
  std::filesystem::create_directories(work);
  double prevRefresh = 0, prevAdd = 0;
  for (int n : {20000, 40000, 80000}) {
    const std::string src = work + "/src" + std::to_string(n);
    const std::string archive = work + "/a" + std::to_string(n) + ".zip";
    if (!std::filesystem::exists(src)) {
      for (int i = 0; i < n; ++i) {
        const std::string dir = src + "/d" + std::to_string(i / 500);
        if (i % 500 == 0) std::filesystem::create_directories(dir);
        std::ofstream(dir + "/file" + std::to_string(i) + ".txt") << "small file number " << i << '\n';
      }
    }
    std::filesystem::remove(archive);
    std::filesystem::remove(src + "/new.txt");
    {
      TZip zip;
      Setup(zip, archive, src, swAdd);
      zip.Compress();
    }
    double refresh, add;
    {
      TZip zip;
      Setup(zip, archive, src, swRefresh);
      refresh = Seconds(zip);
    }
    std::ofstream(src + "/new.txt") << "one new file\n";
    {
      TZip zip;
      Setup(zip, archive, src, swAdd);
      add = Seconds(zip);
    }
    std::printf("N=%6d  refresh %7.3f s", n, refresh);
    if (prevRefresh > 0) std::printf(" (x%.2f)", refresh / prevRefresh);
    std::printf("  add-one %7.3f s", add);
    if (prevAdd > 0) std::printf(" (x%.2f)", add / prevAdd);
    std::printf("\n");
    prevRefresh = refresh;
    prevAdd = add;
  }
  std::printf("target: each doubling at most x2.30\n");
  return 0;
}

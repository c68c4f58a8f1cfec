// An "add" run, set up as the programs' task runs set it up, over arbitrary bytes taken as the
// existing archive, with one new file in the source folder. Afterwards either the run failed and
// the archive is byte for byte what it was, or every entry the reader listed before is still
// listed with the same CRC (but the one the new file replaces by name), and the new file is
// there with its CRC.
#include <ftw.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnZip.h"
#include "tests/archive/reader_listing.h"

namespace {

constexpr const char* kNewName = "fresh-file.txt";
constexpr const char* kNewContent = "a file the run adds\n";

using TListing = readerlisting::Listing;

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

struct TWorkFolder {
  std::string Root;
  std::string Source;
  std::string Archive;
  std::string Temp;
  TWorkFolder() {
    char tmpl[] = "/tmp/fuzz-update-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    Root = tmpl;
    Source = Root + "/src";
    Archive = Root + "/backup.zip";
    Temp = Root + "/tmp";
    if (::mkdir(Source.c_str(), 0700) != 0 || ::mkdir(Temp.c_str(), 0700) != 0) std::abort();
    std::ofstream(Source + "/" + kNewName, std::ios::binary) << kNewContent;
  }
  ~TWorkFolder() { ::nftw(Root.c_str(), RemoveOne, 8, FTW_DEPTH | FTW_PHYS); }
};

const TWorkFolder& Work() {
  static const TWorkFolder work;
  return work;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TListing List(const std::string& archive) { return readerlisting::List(archive, Work().Root + "/never"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  const TWorkFolder& work = Work();
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::ofstream(work.Archive, std::ios::binary | std::ios::trunc) << input;
  const TListing before = List(work.Archive);

  int32_t added;
  {
    TZip zip;
    zip.SetTempDir(work.Temp);
    // The programs' answers: a changed file replaces its entry, a stored entry is never renamed.
    zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                           int32_t, int32_t, bool& replace) { replace = true; };
    zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
    zip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool, bool& cancel) { cancel = true; };
    zip.SetArchiveFile(work.Archive);
    zip.FileSpec().Add(work.Source + "/*.*");
    added = zip.Compress();
  }
  ::nftw(work.Temp.c_str(), RemoveOne, 8, FTW_DEPTH | FTW_PHYS);
  ::mkdir(work.Temp.c_str(), 0700);

  if (added < 1) {
    if (ReadFile(work.Archive) != input) {
      std::fprintf(stderr, "a failed run changed the archive\n");
      std::abort();
    }
    return 0;
  }
  const TListing after = List(work.Archive);
  for (const auto& entry : before) {
    if (entry.first == kNewName) continue;
    const auto n = std::count(before.begin(), before.end(), entry);
    if (std::count(after.begin(), after.end(), entry) < n) {
      std::fprintf(stderr, "entry lost or changed: %s (CRC %08x)\n", entry.first.c_str(), entry.second);
      std::abort();
    }
  }
  uint32_t crc = 0xFFFFFFFFu;
  Crc32Update(kNewContent, std::char_traits<char>::length(kNewContent), crc);
  if (std::find(after.begin(), after.end(), std::make_pair(std::string(kNewName), crc ^ 0xFFFFFFFFu)) == after.end()) {
    std::fprintf(stderr, "the new file is not in the archive; it lists:\n");
    for (const auto& entry : after) std::fprintf(stderr, "  %s (CRC %08x)\n", entry.first.c_str(), entry.second);
    std::abort();
  }
  return 0;
}

// Extraction of arbitrary bytes taken as an archive file: it must never crash, hang or write
// anything outside the extraction folder, whatever the names, sizes and offsets claim.
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "archive/qrnUnZip.h"

namespace {

std::string gRoot;
std::string gInside;
bool gEscaped = false;

int check(const char* path, const struct stat*, int, struct FTW*) {
  const std::string p = path;
  if (p != gRoot && p != gRoot + "/in.zip" && p.rfind(gInside, 0) != 0) {
    std::fprintf(stderr, "written outside the extraction folder: %s\n", path);
    gEscaped = true;
  }
  return 0;
}

int removeOne(const char* path, const struct stat*, int, struct FTW*) {
  ::chmod(path, 0700);
  return ::remove(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  char tmpl[] = "/tmp/fuzz-extract-XXXXXX";
  if (!::mkdtemp(tmpl)) return 0;
  gRoot = tmpl;
  gInside = gRoot + "/out";
  const std::string archive = gRoot + "/in.zip";
  if (FILE* f = std::fopen(archive.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  {
    TUnZip unzip;
    unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool, bool& cancel) { cancel = true; };
    unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    unzip.SetArchiveFile(archive);
    unzip.FileSpec().Add("*.*");
    unzip.SetExtractDir(gInside);
    unzip.SetCreateStoredDirs(true);
    unzip.SetPasswordAttempts(0);
    unzip.Passwords().Add("password");
    const int32_t n = unzip.Extract();
    if (n < 0 || unzip.FilesFailed() < 0) std::abort();
  }
  gEscaped = false;
  ::nftw(gRoot.c_str(), check, 16, FTW_PHYS);
  ::nftw(gRoot.c_str(), removeOne, 16, FTW_DEPTH | FTW_PHYS);
  if (gEscaped) std::abort();
  return 0;
}

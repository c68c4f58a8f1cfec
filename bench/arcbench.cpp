// A driver over the engine for benchmarks and outside checks (not part of the product).
//   arcbench compress SRC_DIR ARCHIVE [--level s|f|n|x] [--password P] [--memory]
// runs the writer through the task-run unit of the two programs (manager/TaskArchive: the same
// properties and answers to replace and rename, the same run), adding to ARCHIVE when it exists,
// and prints
//   added N files, B bytes in T s, R MB/s
// The options change only what the programs leave at its default. Every OnError report goes to
// standard error. Exit status 0 when the run succeeded as the programs count it (no error
// reported, the source gave files; an add with nothing new is 0 files and a success), else 1.
//   arcbench extract ARCHIVE DEST_DIR [--password P]
// sets the reader up as the restore form does and prints
//   extracted N files, B bytes in T s, R MB/s
// OnError reports go to standard error. Exit status 0 when every entry passed its CRC, else 1.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "archive/qrnBase.h"
#include "archive/qrnUnZip.h"
#include "archive/qrnZip.h"
#include "manager/TaskArchive.h"
#include "platform/files.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: arcbench compress SRC_DIR ARCHIVE [--level s|f|n|x] [--password P] [--memory]\n"
               "       arcbench extract ARCHIVE DEST_DIR [--password P]\n");
  return 2;
}

int Compress(int argc, char** argv) {
  if (argc < 4) return Usage();
  std::string src = argv[2];
  const std::string archive = platform::AbsolutePath(argv[3]);
  TDeflateType level = dtDeflateN;
  std::string password;
  bool memory = false;
  for (int i = 4; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--level" && i + 1 < argc) {
      const std::string v = argv[++i];
      if (v == "s") level = dtDeflateS;
      else if (v == "f") level = dtDeflateF;
      else if (v == "n") level = dtDeflateN;
      else if (v == "x") level = dtDeflateX;
      else return Usage();
    } else if (a == "--password" && i + 1 < argc) {
      password = argv[++i];
    } else if (a == "--memory") {
      memory = true;
    } else {
      return Usage();
    }
  }
  src = platform::AbsolutePath(src);
  while (src.size() > 1 && src.back() == '/') src.pop_back();

  TZip zip;
  SetTaskZipProperties(zip);
  int errors = 0;
  zip.OnError = [&errors](TObject*, const std::string& FileName, const std::string& ExtendedMsg,
                          const std::string& VolumeID, int32_t ECode) {
    ++errors;
    std::fprintf(stderr, "error %d: %s: %s (%s) [%s]\n", ECode, ErrorMessage(ECode).c_str(), FileName.c_str(),
                 ExtendedMsg.c_str(), VolumeID.c_str());
  };
  int64_t scanned = 0;
  zip.OnFileScanStatus = [&scanned](TObject*, const std::string&, int32_t, int64_t FilesSize) { scanned = FilesSize; };
  zip.SetDeflateType(level);
  zip.SetPassword(password);
  zip.SetCompressionMethod(memory ? cmInMemory : cmTempFile);

  const auto t0 = std::chrono::steady_clock::now();
  const TTaskRunResult run = CompressTaskArchive(zip, src, archive, false, "arcbench");
  const int32_t n = run.Added;
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const int64_t bytes = scanned;
  std::printf("added %d files, %lld bytes in %.3f s, %.1f MB/s\n", n, static_cast<long long>(bytes), secs,
              secs > 0 ? static_cast<double>(bytes) / 1e6 / secs : 0.0);
  return run.Succeeded && errors == 0 ? 0 : 1;
}

int Extract(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string archive = platform::AbsolutePath(argv[2]);
  const std::string dest = platform::AbsolutePath(argv[3]);
  std::string password;
  for (int i = 4; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--password" && i + 1 < argc) password = argv[++i];
    else return Usage();
  }
  TUnZip unzip;
  int errors = 0;
  unzip.OnError = [&errors](TObject*, const std::string& FileName, const std::string& ExtendedMsg,
                     const std::string& VolumeID, int32_t ECode) {
    ++errors;
    std::fprintf(stderr, "error %d: %s: %s (%s) [%s]\n", ECode, ErrorMessage(ECode).c_str(), FileName.c_str(),
                 ExtendedMsg.c_str(), VolumeID.c_str());
  };
  unzip.SetArchiveFile(archive);
  unzip.FileSpec().Clear();
  unzip.FileSpec().Add("*.*");
  unzip.SetExtractDir(dest);
  unzip.SetCreateStoredDirs(true);
  unzip.SetPasswordAttempts(0);
  if (!password.empty()) unzip.Passwords().Add(password);

  const auto t0 = std::chrono::steady_clock::now();
  const int32_t n = unzip.Extract();
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const int64_t bytes = unzip.BytesWritten();
  std::printf("extracted %d files, %lld bytes in %.3f s, %.1f MB/s\n", n, static_cast<long long>(bytes), secs,
              secs > 0 ? static_cast<double>(bytes) / 1e6 / secs : 0.0);
  return unzip.FilesFailed() == 0 && errors == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  if (std::strcmp(argv[1], "compress") == 0) return Compress(argc, argv);
  if (std::strcmp(argv[1], "extract") == 0) return Extract(argc, argv);
  return Usage();
}

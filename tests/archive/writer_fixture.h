#pragma once
// Test-side helpers for the writer: a fresh folder per test, files of given content, and a TZip
// set up as the programs set it up, recording every error report.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/qrnZip.h"
#include "tests/archive/zip_fixture.h"

namespace writerfixture {

class Folder {
 public:
  Folder() {
    std::string tmpl = std::filesystem::temp_directory_path() / "qrnwriterXXXXXX";
    path_ = mkdtemp(tmpl.data());
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline void Put(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

inline std::string Text(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "line " + std::to_string(i) + " of some text\n";
  s.resize(n);
  return s;
}

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Report {
  std::string file;
  std::string ext;
  int32_t code;
};

// A writer set up as the programs set it: ArchiveFile, FileSpec = SRC + "/*.*", swAdd.
struct Writer {
  TZip zip;
  std::vector<Report> errors;
  explicit Writer(const std::string& archive, const std::string& src = "") {
    zip.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string&, int32_t c) {
      errors.push_back({f, e, c});
    };
    zip.SetArchiveFile(archive);
    if (!src.empty()) zip.FileSpec().Add(src + "/*.*");
  }
  bool Reported(int32_t code) const {
    for (const auto& r : errors)
      if (r.code == code) return true;
    return false;
  }
};

inline std::vector<zipfixture::Entry> EntriesOf(const std::string& archive) {
  return zipfixture::Entries(zipfixture::ReadAll(archive));
}

inline const zipfixture::Entry* Find(const std::vector<zipfixture::Entry>& es, const std::string& name) {
  for (const auto& e : es)
    if (e.name == name) return &e;
  return nullptr;
}

inline int Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

inline std::string Q(const std::string& s) { return "'" + s + "'"; }

// Info-ZIP, 7-Zip, bsdtar and Python's zipfile all test the archive.
inline void ExpectPeersAccept(const std::string& archive) {
  EXPECT_EQ(Shell("unzip -tq " + Q(archive)), 0) << archive;
  EXPECT_EQ(Shell("7zz t " + Q(archive)), 0) << archive;
  EXPECT_EQ(Shell("bsdtar -tf " + Q(archive)), 0) << archive;
  EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " +
                  Q(archive)),
            0)
      << archive;
}

// Every entry's CRC as Python's zipfile lists it, by name; empty when it cannot read the archive.
inline std::map<std::string, uint32_t> PeerCrcs(const std::string& archive) {
  std::map<std::string, uint32_t> out;
  const std::string cmd = "python3 -c \"import sys,zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist(): "
                          "print('%08x' % i.CRC, i.filename)\" " +
                          Q(archive) + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char line[4096];
  while (fgets(line, sizeof line, p)) {
    std::string l(line);
    if (!l.empty() && l.back() == '\n') l.pop_back();
    if (l.size() < 9) continue;
    out[l.substr(9)] = static_cast<uint32_t>(std::stoul(l.substr(0, 8), nullptr, 16));
  }
  pclose(p);
  return out;
}

}  // namespace writerfixture

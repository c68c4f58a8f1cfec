#pragma once
// Test-side helpers for the writer: a fresh folder per test, files of given content, and a TZip
// set up as the programs set it up, recording every error report.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

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

}  // namespace writerfixture

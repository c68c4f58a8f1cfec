#pragma once
// Test-side builders for detection: a minimal PE program file with an RT_STRING table, files
// written into a fresh folder, and peer tools run there.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "zip_fixture.h"

namespace detectfixture {

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// Offsets of the parts of the image that damage tests aim at.
struct PeLayout {
  size_t peHeader = 0x40, optionalHeader = 0x58, sectionTable = 0, resource = 0x200;
};

// A program image: MZ header, PE header (PE32 or PE32+), one .rsrc section whose string table
// (block 1, identifiers 0 to 15) holds Strings. Padded to a multiple of 16 bytes.
inline std::vector<uint8_t> MakePe(const std::map<uint32_t, std::u16string>& strings, bool pe32Plus = false,
                                   PeLayout* layout = nullptr) {
  PeLayout l;
  const uint32_t optSize = pe32Plus ? 240 : 224;
  l.sectionTable = l.optionalHeader + optSize;
  std::vector<uint8_t> b(l.resource, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, static_cast<uint32_t>(l.peHeader));
  b[0x40] = 'P';
  b[0x41] = 'E';
  Put16(b, 0x44, pe32Plus ? 0x8664 : 0x14C);
  Put16(b, 0x46, 1);
  Put16(b, 0x54, optSize);
  Put16(b, l.optionalHeader, pe32Plus ? 0x20B : 0x10B);
  const size_t count = l.optionalHeader + (pe32Plus ? 108 : 92);
  Put32(b, count, 16);

  std::vector<uint8_t> r;
  Put16(r, 14, 1);  // root: one numbered entry, RT_STRING
  Put32(r, 16, 6);
  Put32(r, 20, 0x80000000u | 0x18);
  Put16(r, 0x18 + 14, 1);  // type: block 1
  Put32(r, 0x18 + 16, 1);
  Put32(r, 0x18 + 20, 0x80000000u | 0x30);
  Put16(r, 0x30 + 14, 1);  // name: one language
  Put32(r, 0x30 + 16, 0x409);
  Put32(r, 0x30 + 20, 0x48);
  std::vector<uint8_t> block;
  for (uint32_t i = 0; i < 16; ++i) {
    auto it = strings.find(i);
    const std::u16string s = it == strings.end() ? u"" : it->second;
    const size_t at = block.size();
    Put16(block, at, static_cast<uint32_t>(s.size()));
    for (size_t k = 0; k < s.size(); ++k) Put16(block, at + 2 + 2 * k, s[k]);
  }
  Put32(r, 0x48, 0x1000 + 0x58);
  Put32(r, 0x4C, static_cast<uint32_t>(block.size()));
  r.resize(0x58);
  r.insert(r.end(), block.begin(), block.end());
  r.resize((r.size() + 15) / 16 * 16, 0);

  Put32(b, count + 4 + 16, 0x1000);  // resource directory entry
  Put32(b, count + 4 + 20, static_cast<uint32_t>(r.size()));
  const size_t sec = l.sectionTable;
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (int i = 0; i < 8; ++i) b[sec + i] = static_cast<uint8_t>(name[i]);
  Put32(b, sec + 8, static_cast<uint32_t>(r.size()));
  Put32(b, sec + 12, 0x1000);
  Put32(b, sec + 16, static_cast<uint32_t>(r.size()));
  Put32(b, sec + 20, static_cast<uint32_t>(l.resource));
  b.insert(b.end(), r.begin(), r.end());
  if (layout) *layout = l;
  return b;
}

inline std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// A fresh folder per test, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tarvelo-detect-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& leaf) const { return path_ + "/" + leaf; }
  const std::string& path() const { return path_; }
  // Runs a shell command in the folder; true on exit status 0.
  bool Run(const std::string& cmd) const { return std::system(("cd '" + path_ + "' && (" + cmd + ") >/dev/null 2>&1").c_str()) == 0; }

 private:
  std::string path_;
};

}  // namespace detectfixture

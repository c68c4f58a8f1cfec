#pragma once
// Test-side helpers for names and modes across the peers: one-entry archives of a given host,
// Info-ZIP's Unicode Path field as a test reads it, what each peer lists and extracts, and a
// backup of a folder as the programs make it.
#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/archive/unzip_fixture.h"
#include "tests/interop/extract_fixture.h"

namespace namesfixture {

using namespace extractfixture;

// Host -1: an archive without its directory, whose local header names no host.
constexpr int kNoDirectory = -1;

// A one-entry archive holding Bytes under the stored name, made on Host with the given external
// attributes (the mode in the high 16 bits for a Unix host) and extra field.
inline std::vector<uint8_t> OneEntry(int Host, const std::string& Stored, const std::string& Bytes,
                                     uint32_t Attributes = 0x20, std::vector<uint8_t> Extra = {}) {
  auto e = unzipfixture::Stored(Stored, Bytes);
  e.madeBy = static_cast<uint16_t>((Host < 0 ? 0 : Host) << 8 | 20);
  e.attributes = Attributes;
  e.extra = std::move(Extra);
  return unzipfixture::Build({e}, Host != kNoDirectory);
}

// Info-ZIP's Unicode Path field for a stored name.
inline std::vector<uint8_t> UnicodePath(const std::string& Stored, const std::string& Utf8) {
  std::vector<uint8_t> f(9 + Utf8.size());
  const uint32_t crc = unzipfixture::Crc(Stored);
  f[0] = 0x75, f[1] = 0x70, f[2] = static_cast<uint8_t>((5 + Utf8.size()) & 0xFF);
  f[3] = static_cast<uint8_t>((5 + Utf8.size()) >> 8), f[4] = 1;
  for (int i = 0; i < 4; ++i) f[5 + i] = static_cast<uint8_t>(crc >> (8 * i));
  std::copy(Utf8.begin(), Utf8.end(), f.begin() + 9);
  return f;
}

// The Unicode Path fields of an extra field (block bodies after the tag and size), in order.
inline std::vector<std::string> UnicodePathFields(const std::vector<uint8_t>& Extra) {
  std::vector<std::string> out;
  for (size_t at = 0; at + 4 <= Extra.size();) {
    const size_t size = Extra[at + 2] | size_t{Extra[at + 3]} << 8;
    if (at + 4 + size > Extra.size()) break;
    const auto body = Extra.begin() + static_cast<std::ptrdiff_t>(at + 4);
    if (Extra[at] == 0x75 && Extra[at + 1] == 0x70) out.emplace_back(body, body + static_cast<std::ptrdiff_t>(size));
    at += 4 + size;
  }
  return out;
}

// Standard output of a shell command, line by line.
inline std::vector<std::string> Lines(const std::string& Command) {
  std::vector<std::string> out;
  FILE* p = popen((Command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  std::string line;
  for (int c; (c = fgetc(p)) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    out.push_back(line);
    line.clear();
  }
  pclose(p);
  return out;
}

// What the peers list: unzip -Z1, 7-Zip's "Path = " lines, bsdtar -tf (which writes a '\' as
// "\\"), each as a set of names.
inline std::set<std::string> UnzipListing(const std::string& Archive) {
  const auto l = Lines("unzip -Z1 " + writerfixture::Q(Archive));
  return {l.begin(), l.end()};
}
inline std::set<std::string> SevenZipListing(const std::string& Archive) {
  std::set<std::string> out;
  for (const auto& l : Lines("7zz l -ba -slt " + writerfixture::Q(Archive)))
    if (l.rfind("Path = ", 0) == 0) out.insert(l.substr(7));
  return out;
}
inline std::set<std::string> BsdtarListing(const std::string& Archive) {
  std::set<std::string> out;
  for (const auto& l : Lines("bsdtar -tf " + writerfixture::Q(Archive))) {
    std::string name;
    for (size_t i = 0; i < l.size(); ++i) {
      name += l[i];
      if (l[i] == '\\' && i + 1 < l.size() && l[i + 1] == '\\') ++i;
    }
    out.insert(name);
  }
  return out;
}

// Extracts Archive with a peer into Out: "unzip", "7z" or "bsdtar".
inline int PeerExtract(const std::string& Peer, const std::string& Archive, const std::string& Out) {
  using writerfixture::Q;
  std::filesystem::create_directories(Out);
  if (Peer == "unzip") return Shell("unzip -q -o " + Q(Archive) + " -d " + Q(Out));
  if (Peer == "7z") return Shell("7zz x -y -o" + Q(Out) + " " + Q(Archive));
  return Shell("cd " + Q(Out) + " && bsdtar -xf " + Q(Archive));
}

// The files of a tree, by name, with their bytes.
inline std::map<std::string, std::string> Files(const Tree& T) {
  std::map<std::string, std::string> out;
  for (const auto& [name, node] : T)
    if (!node.folder) out[name] = node.bytes;
  return out;
}

// Backs Src up into Archive as the programs do (an "add" run that replaces changed files and
// keeps the stored entry of an unchanged one); the files added.
inline int32_t Backup(const std::string& Archive, const std::string& Src, bool EmptyFolders = false) {
  writerfixture::Writer w(Archive, Src);
  w.zip.SetStoreEmptySubDirs(EmptyFolders);
  w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                           int32_t, int32_t, bool& replace) { replace = true; };
  w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
  const int32_t n = w.zip.Compress();
  EXPECT_TRUE(w.errors.empty()) << (w.errors.empty() ? "" : w.errors[0].file + " " + w.errors[0].ext);
  return n;
}

// The permission bits of a path, or 01000 when it cannot be read.
inline uint32_t PermissionsOf(const std::string& Path) {
  struct stat st {};
  return stat(Path.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000;
}

}  // namespace namesfixture

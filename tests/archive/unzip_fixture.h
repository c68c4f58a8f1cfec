#pragma once
// Test-side helpers for the reader: a TUnZip set up as the restore form sets it up (FileSpec
// "*.*", CreateStoredDirs, PasswordAttempts 0), recording every report and verdict, plus a walk
// of a folder tree and small archive builders for hand-made hostile inputs.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/qrnCrypt.h"
#include "archive/qrnUnZip.h"
#include "archive/qrnZipRecords.h"
#include "tests/archive/writer_fixture.h"

namespace unzipfixture {

using writerfixture::Folder;
using writerfixture::Put;
using writerfixture::Shell;
using writerfixture::Slurp;

struct Report {
  std::string file;
  std::string ext;
  int32_t code;
};

struct Verdict {
  std::string file;
  bool pass;
};

struct Reader {
  TUnZip unzip;
  std::vector<Report> errors;
  std::vector<Verdict> verdicts;
  explicit Reader(const std::string& archive, const std::string& dest) {
    unzip.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string&, int32_t c) {
      errors.push_back({f, e, c});
    };
    unzip.OnEnd = [this](TObject*, const std::string& f, bool pass) { verdicts.push_back({f, pass}); };
    unzip.SetArchiveFile(archive);
    unzip.FileSpec().Add("*.*");
    unzip.SetExtractDir(dest);
    unzip.SetCreateStoredDirs(true);
    unzip.SetPasswordAttempts(0);
  }
  int Count(int32_t code) const {
    return static_cast<int>(std::count_if(errors.begin(), errors.end(), [&](const Report& r) { return r.code == code; }));
  }
  bool Passed(const std::string& nameEnd) const {
    for (const auto& v : verdicts)
      if (v.file.size() >= nameEnd.size() && v.file.compare(v.file.size() - nameEnd.size(), nameEnd.size(), nameEnd) == 0)
        return v.pass;
    return false;
  }
  int Failed() const {
    return static_cast<int>(std::count_if(verdicts.begin(), verdicts.end(), [](const Verdict& v) { return !v.pass; }));
  }
};

// Every regular file under root, as a path relative to root, with its content.
inline std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> out;
  if (!std::filesystem::exists(root)) return out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) out[std::filesystem::relative(e.path(), root).string()] = Slurp(e.path().string());
  }
  return out;
}

inline bool IsFolder(const std::string& path) { return std::filesystem::is_directory(path); }
inline bool Exists(const std::string& path) { return std::filesystem::exists(std::filesystem::symlink_status(path)); }

// A hand-made entry of a hand-made archive.
struct RawEntry {
  std::string name;
  std::vector<uint8_t> data;  // as stored (packed, enciphered when flag bit 0)
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t crc = 0;
  uint32_t unpacked = 0;
  uint32_t attributes = 0x20;
  uint32_t dos = 0x5A8C6000;  // 2025-04-12 12:00:00
  bool badLocalSignature = false;
  uint16_t madeBy = 20;        // "version made by": the host in the high byte (0, MS-DOS)
  std::vector<uint8_t> extra;  // in the local and the central header alike
};

inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

inline uint32_t Crc(const std::string& s) {
  uint32_t c = 0xFFFFFFFFu;
  Crc32Update(s.data(), s.size(), c);
  return c ^ 0xFFFFFFFFu;
}

// A stored entry of content s.
inline RawEntry Stored(const std::string& name, const std::string& s) {
  RawEntry e;
  e.name = name;
  e.data = Bytes(s);
  e.crc = Crc(s);
  e.unpacked = static_cast<uint32_t>(s.size());
  return e;
}

// An archive of the entries in file order with a directory in the same order (or in `order`).
// withDirectory false leaves the directory and end record out (an archive cut short).
inline std::vector<uint8_t> Build(const std::vector<RawEntry>& entries, bool withDirectory = true,
                                  std::vector<size_t> order = {}) {
  std::vector<uint8_t> zip;
  auto append = [&zip](const auto& bytes) { zip.insert(zip.end(), bytes.begin(), bytes.end()); };
  std::vector<uint32_t> offsets;
  for (const auto& e : entries) {
    offsets.push_back(static_cast<uint32_t>(zip.size()));
    TLocalHeader l;
    if (e.badLocalSignature) l.Signature = 0x04034B51u;
    l.VersionNeeded = 20;
    l.Flags = e.flags;
    l.Method = e.method;
    l.DosDateTime = e.dos;
    l.Crc32 = e.crc;
    l.PackedSize = static_cast<uint32_t>(e.data.size());
    l.UnpackedSize = e.unpacked;
    l.NameLength = static_cast<uint16_t>(e.name.size());
    l.ExtraLength = static_cast<uint16_t>(e.extra.size());
    append(l.Encode());
    append(e.name);
    append(e.extra);
    append(e.data);
  }
  if (!withDirectory) return zip;
  if (order.empty())
    for (size_t i = 0; i < entries.size(); ++i) order.push_back(i);
  TEndRecord end;
  end.DirectoryOffset = static_cast<uint32_t>(zip.size());
  for (size_t i : order) {
    const auto& e = entries[i];
    TCentralHeader c;
    c.VersionMadeBy = e.madeBy;
    c.VersionNeeded = 20;
    c.Flags = e.flags;
    c.Method = e.method;
    c.DosDateTime = e.dos;
    c.Crc32 = e.crc;
    c.PackedSize = static_cast<uint32_t>(e.data.size());
    c.UnpackedSize = e.unpacked;
    c.NameLength = static_cast<uint16_t>(e.name.size());
    c.ExternalAttributes = e.attributes;
    c.LocalHeaderOffset = offsets[i];
    c.ExtraLength = static_cast<uint16_t>(e.extra.size());
    append(c.Encode());
    append(e.name);
    append(e.extra);
  }
  end.DirectorySize = static_cast<uint32_t>(zip.size() - end.DirectoryOffset);
  end.EntriesOnDisk = static_cast<uint16_t>(order.size());
  end.TotalEntries = end.EntriesOnDisk;
  append(end.Encode());
  return zip;
}

inline bool HaveTool(const std::string& tool) { return Shell("command -v " + tool) == 0; }

}  // namespace unzipfixture

#pragma once
// Test-side helpers for spanned writing: a simulated removable drive whose disks are folders
// of the test, a writer aimed at it that swaps in a fresh disk whenever one is asked for, and
// the written set laid out as a split archive for the peers (disk N as name.zNN, the last one
// as name.zip), which 7-Zip tests and extracts and Info-ZIP zip joins for unzip.
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/qrnZipRecords.h"
#include "platform/volumes.h"
#include "tests/archive/writer_fixture.h"

namespace spanfixture {

using namespace writerfixture;

inline uint32_t SerialOf(int disk) { return 0x5A000000u + static_cast<uint32_t>(disk); }

// The user's Trash lives in the test folder while the object lives.
class TrashHere {
 public:
  explicit TrashHere(const std::string& dir) {
    if (const char* old = std::getenv("XDG_DATA_HOME")) old_ = old;
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
  }
  ~TrashHere() {
    if (old_) setenv("XDG_DATA_HOME", old_->c_str(), 1);
    else unsetenv("XDG_DATA_HOME");
  }

 private:
  std::optional<std::string> old_;
};

struct SpanRig {
  Folder d;
  TrashHere trash{d / "share"};
  platform::SimulatedDrive drive;
  Writer w;
  std::vector<std::string> asked;  // the disk numbers OnInsertDisk was fired with
  std::vector<std::string> disks;  // the disk folders in the order they went into the drive
  // What a request for disk N does; by default a fresh empty disk goes in and the answer is
  // "go on".
  std::function<void(const std::string& volume, bool& cancel)> onInsert;
  // The archive's path on a disk.
  std::string name;

  explicit SpanRig(int64_t capacity, const std::string& nameOnDisk = "set.zip")
      : drive(d / "floppy", capacity, "", SerialOf(1), d / "disk1"),
        w(d / ("floppy/" + nameOnDisk), d / "src"),
        name(nameOnDisk) {
    disks.push_back(d / "disk1");
    std::filesystem::create_directories(d / "tmp");
    w.zip.SetTempDir(d / "tmp");
    w.zip.SetCompressMethod(cmStore);
    onInsert = [this](const std::string& volume, bool& cancel) {
      Insert(std::stoi(volume));
      cancel = false;
    };
    w.zip.OnInsertDisk = [this](TObject* sender, const std::string& volume, bool& cancel) {
      EXPECT_NE(sender, &w.zip);  // the span object passes itself
      EXPECT_TRUE(cancel);
      asked.push_back(volume);
      onInsert(volume, cancel);
    };
  }
  std::string Disk(int n) { return d / ("disk" + std::to_string(n)); }
  void Insert(int n) {
    drive.InsertDisk(Disk(n), "", SerialOf(n));
    disks.push_back(Disk(n));
  }
  // Source files of random (incompressible) bytes, stored: the sizes on the disks are known.
  void Source(int count, size_t size, uint32_t seed = 1) {
    for (int i = 0; i < count; ++i) Put(d / ("src/f" + std::to_string(100 + i) + ".bin"), Random(size, seed + i));
  }
  // The disks of an earlier set go back into the drive in the order asked for, fresh ones after
  // them; the request for disk refused is refused.
  void ReuseDisks(const std::string& refused = {}) {
    onInsert = [this, refused](const std::string& volume, bool& cancel) {
      if (volume == refused) return;
      const int n = std::stoi(volume);
      if (std::filesystem::exists(Disk(n))) {
        drive.ReinsertDisk(Disk(n));
        disks.push_back(Disk(n));
      } else {
        Insert(n);
      }
      cancel = false;
    };
  }
  // The programs' answers in an update: a changed file replaces its entry, an entry is never
  // renamed.
  void AnswerAsThePrograms() {
    w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                             int32_t, int32_t, bool& replace) { replace = true; };
    w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
  }
  std::string Piece(int n) { return Slurp(Disk(n) + "/" + name); }
  std::string LabelOf(int n) {
    drive.ReinsertDisk(Disk(n));
    return drive.Label();
  }
  // The distinct disks that hold a piece, in order of use.
  std::vector<std::string> UsedDisks() {
    std::vector<std::string> out;
    for (const auto& f : disks)
      if (std::filesystem::exists(f + "/" + name) && std::find(out.begin(), out.end(), f) == out.end())
        out.push_back(f);
    return out;
  }
  // The pieces as a split archive in folder out; returns the name of the last part.
  std::string SplitSet(const std::string& out) {
    std::filesystem::create_directories(out);
    const auto used = UsedDisks();
    for (size_t i = 0; i < used.size(); ++i) {
      char ext[32];
      std::snprintf(ext, sizeof ext, ".z%02zu", i + 1);
      const std::string target = out + "/set" + (i + 1 == used.size() ? std::string(".zip") : std::string(ext));
      std::filesystem::copy_file(used[i] + "/" + name, target, std::filesystem::copy_options::overwrite_existing);
    }
    return out + "/set.zip";
  }
  // 7-Zip tests the split set and extracts it; every source file must come back unchanged.
  bool PeersAgree() {
    const std::string last = SplitSet(d / "split");
    if (Shell("7zz t '" + last + "'") != 0) return false;
    if (Shell("7zz x -y -o'" + (d / "x7") + "' '" + last + "'") != 0) return false;
    if (!SameTree(d / "src", d / "x7")) return false;
    // Info-ZIP joins the parts into one archive, which unzip and Python test.
    const std::string joined = d / "joined.zip";
    if (Shell("cd '" + (d / "split") + "' && zip -s 0 set.zip --out '" + joined + "'") != 0) return false;
    if (Shell("unzip -tq '" + joined + "'") != 0) return false;
    return Shell("python3 -c \"import zipfile,sys; sys.exit(zipfile.ZipFile('" + joined +
                 "').testzip() is not None)\"") == 0;
  }
  static bool SameTree(const std::string& a, const std::string& b) {
    size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(a)) {
      if (!e.is_regular_file()) continue;
      ++files;
      const auto rel = std::filesystem::relative(e.path(), a);
      if (Slurp(e.path()) != Slurp((std::filesystem::path(b) / rel).string())) return false;
    }
    size_t got = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(b))
      if (e.is_regular_file()) ++got;
    return files == got;
  }
};

// The end record at the end of a piece.
inline std::optional<TEndRecord> EndOf(const std::string& piece) {
  if (piece.size() < TEndRecord::kSize) return std::nullopt;
  auto r = TEndRecord::Decode(reinterpret_cast<const uint8_t*>(piece.data()) + piece.size() - TEndRecord::kSize,
                              TEndRecord::kSize);
  if (!r || r->Signature != kEndRecordSignature) return std::nullopt;
  return r;
}

// The central headers of a set, read across the pieces from the directory's disk on.
inline std::vector<zipfixture::Entry> DirectoryOf(const std::vector<std::string>& pieces) {
  std::vector<zipfixture::Entry> out;
  auto end = EndOf(pieces.back());
  if (!end) return out;
  std::string dir = pieces[end->DirectoryDisk].substr(end->DirectoryOffset);
  for (size_t k = end->DirectoryDisk + 1; k < pieces.size(); ++k) dir += pieces[k];
  size_t at = 0;
  for (uint16_t i = 0; i < end->TotalEntries; ++i) {
    auto c = TCentralHeader::Decode(reinterpret_cast<const uint8_t*>(dir.data()) + at, dir.size() - at);
    if (!c || c->Signature != kCentralHeaderSignature) return {};
    zipfixture::Entry e;
    e.central = *c;
    e.name = dir.substr(at + TCentralHeader::kSize, c->NameLength);
    at += TCentralHeader::kSize + c->NameLength + c->ExtraLength + c->CommentLength;
    out.push_back(e);
  }
  return out;
}

}  // namespace spanfixture

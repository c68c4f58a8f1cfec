#pragma once
// Test-side helpers for extraction against other tools: a source tree with fixed odd-second
// dates and a read-only file, a TUnZip set up as the restore form sets it up (recording every
// report, CRC verdict and volume request), and a comparison of two trees by names, bytes, dates
// at DOS resolution and the owner's write bit.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "archive/qrnUnZip.h"
#include "tests/archive/writer_fixture.h"

namespace extractfixture {

using writerfixture::Folder;
using writerfixture::Put;
using writerfixture::Random;
using writerfixture::Shell;
using writerfixture::Slurp;
using writerfixture::Q;
using writerfixture::Text;

// What a tree holds at one relative name ('/' between folders).
struct Node {
  bool folder = false;
  std::string bytes;
  int64_t mtime = 0;
  bool readOnly = false;
};
using Tree = std::map<std::string, Node>;

inline Tree Snapshot(const std::string& root) {
  Tree t;
  if (!std::filesystem::is_directory(root)) return t;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string rel = std::filesystem::relative(e.path(), root).generic_string();
    struct stat st {};
    if (lstat(e.path().c_str(), &st) != 0) continue;
    Node n;
    n.folder = S_ISDIR(st.st_mode);
    n.mtime = st.st_mtime;
    n.readOnly = (st.st_mode & S_IWUSR) == 0;
    if (!n.folder) n.bytes = Slurp(e.path());
    t[rel] = std::move(n);
  }
  return t;
}

// Sets a file's modification time (seconds since 1970).
inline void SetTime(const std::string& path, int64_t seconds) {
  struct timeval tv[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(utimes(path.c_str(), tv), 0) << path;
}

// Data for Deflate64: random blocks each repeated once 40000 bytes later (beyond deflate's 32 KiB
// window, inside Deflate64's 64 KiB), and long runs that need code 285's 16-bit extra length.
inline std::string FarRepeats(size_t n, uint32_t seed) {
  std::string s;
  for (uint32_t i = 0; s.size() < n; ++i) {
    const std::string block = Random(40000, seed * 1000 + i);
    s += block;
    s += block;
    s += std::string(70000, static_cast<char>('a' + i % 26));
    s += Text(3000);
  }
  s.resize(n);
  return s;
}

// The usual source tree: text, incompressible bytes, an empty file, a one-byte file, nested
// folders, a read-only file and an empty folder. Every file gets its own odd-second date in 2021.
struct SourceOptions {
  bool emptyFolder = true;
  bool readOnlyFile = true;
  size_t scale = 1;  // multiplies the two large files
};

inline Tree MakeSource(const std::string& root, SourceOptions o = {}) {
  std::vector<std::pair<std::string, std::string>> files = {
      {"text.txt", Text(120000 * o.scale)},
      {"random.bin", Random(90000 * o.scale, 11)},
      {"empty.dat", ""},
      {"one.txt", "x"},
      {"sub/deep/nested.txt", Text(5000)},
      {"sub/zeros.bin", std::string(100000, '\0')},
  };
  if (o.readOnlyFile) files.emplace_back("sub/locked.txt", Text(3000) + "read only");
  int64_t when = 1614837967;  // 2021-03-04, an odd second
  for (const auto& [name, bytes] : files) {
    Put(root + "/" + name, bytes);
    SetTime(root + "/" + name, when);
    when += 86400 * 17 + 3 * 3600 + 7;  // odd steps keep the seconds odd
  }
  if (o.readOnlyFile) chmod((root + "/sub/locked.txt").c_str(), 0444);
  if (o.emptyFolder) std::filesystem::create_directories(root + "/emptyfolder");
  return Snapshot(root);
}

struct Report {
  std::string file;
  std::string ext;
  int32_t code;
};

// A reader set up as the restore form sets it: FileSpec "*.*", CreateStoredDirs, no password
// questions (passwords come from the Passwords list).
struct Reader {
  TUnZip unzip;
  std::vector<Report> errors;
  std::vector<std::pair<std::string, bool>> verdicts;  // OnEnd, in order
  std::vector<std::string> volumesAsked;                // VolumeID of each OnNextVolume
  Reader(const std::string& archive, const std::string& dest, const std::string& password = "") {
    unzip.OnError = [this](TObject*, const std::string& f, const std::string& e, const std::string&, int32_t c) {
      errors.push_back({f, e, c});
    };
    unzip.OnEnd = [this](TObject*, const std::string& f, bool pass) { verdicts.emplace_back(f, pass); };
    unzip.OnNextVolume = [this](TObject*, std::string&, const std::string& id, bool exists, bool& cancel) {
      volumesAsked.push_back(id);
      cancel = !exists;
    };
    unzip.SetCreateStoredDirs(true);
    unzip.SetPasswordAttempts(0);
    if (!password.empty()) unzip.Passwords().Add(password);
    unzip.SetArchiveFile(archive);
    unzip.FileSpec().Clear();
    unzip.FileSpec().Add("*.*");
    unzip.SetExtractDir(dest);
  }
  int32_t Extract() { return unzip.Extract(); }
  bool Reported(int32_t code) const {
    for (const auto& r : errors)
      if (r.code == code) return true;
    return false;
  }
  int FailedVerdicts() const {
    int n = 0;
    for (const auto& v : verdicts) n += v.second ? 0 : 1;
    return n;
  }
};

inline std::string Describe(const std::vector<Report>& errors) {
  std::string s;
  for (const auto& r : errors) s += std::to_string(r.code) + " " + r.file + " (" + r.ext + "); ";
  return s;
}

// How much of a file's state the archive's maker is known to keep.
struct Compare {
  bool dates = true;
  bool readOnly = true;  // the maker records it in the DOS attribute byte
  bool folders = true;   // every folder of the source, empty ones included, must come out
};

inline int FileCount(const Tree& t) {
  int n = 0;
  for (const auto& [name, node] : t) n += node.folder ? 0 : 1;
  return n;
}

// Every file of Expected is in Actual with the same bytes, a date within the DOS rounding of
// the source's (2 s either way, as makers round up or down) on an even second, and the same
// write bit; Actual holds nothing else.
inline void ExpectSameTree(const Tree& expected, const Tree& actual, Compare c = {}) {
  for (const auto& [name, want] : expected) {
    auto it = actual.find(name);
    if (want.folder && !c.folders) continue;
    ASSERT_NE(it, actual.end()) << "missing " << name;
    const Node& got = it->second;
    EXPECT_EQ(got.folder, want.folder) << name;
    if (want.folder) continue;
    EXPECT_TRUE(got.bytes == want.bytes) << name << ": " << got.bytes.size() << " bytes, want " << want.bytes.size();
    if (c.dates) {
      EXPECT_LE(std::abs(got.mtime - want.mtime), 2) << name << ": " << got.mtime << " want " << want.mtime;
      EXPECT_EQ(got.mtime % 2, 0) << name << " is not on a DOS (even) second";
    }
    if (c.readOnly) {
      EXPECT_EQ(got.readOnly, want.readOnly) << name;
    }
  }
  for (const auto& [name, got] : actual) {
    if (!got.folder || c.folders) {
      EXPECT_TRUE(expected.count(name)) << "unexpected " << name;
    }
  }
}

// Runs R's extraction into Out and expects it to give Source exactly: every file counted, no
// report, every verdict passed.
inline void ExpectIntact(Reader& r, const Tree& source, const std::string& out, Compare c = {}) {
  EXPECT_EQ(r.Extract(), FileCount(source));
  EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
  EXPECT_EQ(r.FailedVerdicts(), 0);
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  ExpectSameTree(source, Snapshot(out), c);
}

// Every verdict that passed belongs to a file whose bytes are the source's (Out and Src the
// extracted and the original tree).
inline void ExpectPassedMeansIntact(const Reader& r, const std::string& out, const std::string& src) {
  for (const auto& [name, pass] : r.verdicts) {
    if (!pass || !std::filesystem::is_regular_file(name)) continue;
    const std::string rel = std::filesystem::relative(name, out).generic_string();
    EXPECT_TRUE(Slurp(name) == Slurp(src + "/" + rel)) << rel << " passed but differs";
  }
}

// The system's interpreter starts several times faster than a version manager's shim.
inline std::string PythonCommand() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

// Runs a Python script (written to D) with arguments; returns its exit status. With PipeTo its
// standard output goes through a pipe into that file.
inline int Python(const Folder& d, const std::string& script, const std::string& args,
                  const std::string& pipeTo = "") {
  Put(d / "script.py", script);
  const std::string run = PythonCommand() + " " + Q(d / "script.py") + " " + args;
  return Shell(pipeTo.empty() ? run : "(" + run + " | cat > " + Q(pipeTo) + ")");
}

}  // namespace extractfixture

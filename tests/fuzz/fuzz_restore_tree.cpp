// Restores of damaged copies of one known backup, checked against the tree they were made from.
// Each input is taken as an archive of the tree below and extracted as the restore form extracts
// (a fresh folder, stored folders made, no password asked, every report and every entry's
// verdict taken). The target aborts when
//   - an entry is reported passed (OnEnd) while the file it wrote holds wrong content, or is
//     missing;
//   - the run reports success (no error, no failed entry) while a file it left in the folder
//     holds wrong content.
// Right content is the content of some file of the tree; the tree has an empty file, so an
// empty file is right content too. Names are not judged: a mutation that renames an entry in its
// directory record and its local header alike, or swaps two names, leaves a sound archive of
// another tree, and restoring it is right. Nor is a member whose data and CRC a mutation
// rewrote alike (libFuzzer learns the CRC a comparison wants): content of no tree file passes
// only where the input holds its CRC-32. What no mutation of the backup makes sound is content
// that no file of the tree has and no CRC in the input vouches for: a cut or mixed-up file,
// bytes decoded wrongly, or the files of the zip stored inside the backup (docs/old.zip, an old
// report.txt among them) taken for the backup's own.
// The one exception: the stored zip is a sound archive on its own, and so is any of its members
// cut out with its local header. Its files are wrong content only while the input still holds
// the backup's own record (local or directory header) of docs/old.zip, whose data they are; an
// input without one is the old zip, or a piece of it, and restoring its files is right.
//
// The seeds in corpus/fuzz_restore_tree are this tree written by several zip writers;
// make_restore_tree_seeds.sh makes them, and takes the tree from this target: run with
// TARVELO_WRITE_TREE=DIR it writes the tree into DIR and ends.
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "archive/qrnUnZip.h"

namespace {

// docs/old.zip: an Info-ZIP archive (deflated) of an earlier report.txt and a todo.txt, neither
// of which is content of the tree.
constexpr std::string_view kOldReport =
    "Quarterly report, first draft (March).\n"
    "Sales: to be filled in.\n"
    "Costs: to be filled in.\n"
    "This is the OLD report that an earlier backup kept inside old.zip.\n";
constexpr std::string_view kOldTodo = "Call the printer about the invoices.\nOld list, kept for the record.\n";
constexpr char kOldZip[] =
    "\x50\x4b\x03\x04\x14\x00\x00\x00\x08\x00\x8f\x52\x64\x4e\xb8\x1b\x10\x62\x76\x00\x00\x00\x9a\x00"
    "\x00\x00\x0a\x00\x00\x00\x72\x65\x70\x6f\x72\x74\x2e\x74\x78\x74\x6d\x8c\x31\x0e\xc2\x30\x10\x04"
    "\x7b\xbf\x62\x4b\x90\x90\x1f\x40\x0b\x25\x08\x21\xf8\xc0\x25\xbe\xc8\xa7\x9c\x62\xeb\x7c\x29\xc2"
    "\xeb\x71\x91\x32\xd2\x36\x3b\xda\xd9\xf7\x4a\xe6\x6c\xba\xc1\xb8\x16\xf3\x0b\x26\xb1\xe6\x48\x46"
    "\x93\xe3\xf4\x24\x1b\xf3\x39\x86\x0f\x29\xb7\x2b\xbc\x60\xe0\xbe\x50\xe5\x04\x59\x62\xb8\x95\xe6"
    "\x47\xfc\x9b\xa5\xa1\xc7\x33\xe3\xf5\xb8\xef\xe7\xbd\x92\x83\x16\x30\x99\x0a\x1b\x06\x1a\xe7\xb5"
    "\x62\xe6\xea\x5d\x6b\x92\x18\x45\x53\xfc\x49\x8d\xe1\x0f\x50\x4b\x03\x04\x14\x00\x00\x00\x08\x00"
    "\x8f\x52\x64\x4e\xff\xdc\xe4\x1f\x40\x00\x00\x00\x44\x00\x00\x00\x08\x00\x00\x00\x74\x6f\x64\x6f"
    "\x2e\x74\x78\x74\x73\x4e\xcc\xc9\x51\x28\xc9\x48\x55\x28\x28\xca\xcc\x2b\x49\x2d\x52\x48\x4c\xca"
    "\x2f\x2d\x01\x8b\x64\xe6\x95\xe5\x67\x26\xa7\x16\xeb\x71\xf9\xe7\xa4\x28\xe4\x64\x16\x97\xe8\x28"
    "\x64\xa7\x16\x94\x28\xa4\xe5\x17\x81\x15\x14\xa5\x26\xe7\x17\xa5\xe8\x71\x01\x00\x50\x4b\x01\x02"
    "\x1e\x03\x14\x00\x00\x00\x08\x00\x8f\x52\x64\x4e\xb8\x1b\x10\x62\x76\x00\x00\x00\x9a\x00\x00\x00"
    "\x0a\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\xa4\x81\x00\x00\x00\x00\x72\x65\x70\x6f\x72\x74"
    "\x2e\x74\x78\x74\x50\x4b\x01\x02\x1e\x03\x14\x00\x00\x00\x08\x00\x8f\x52\x64\x4e\xff\xdc\xe4\x1f"
    "\x40\x00\x00\x00\x44\x00\x00\x00\x08\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\xa4\x81\x9e\x00"
    "\x00\x00\x74\x6f\x64\x6f\x2e\x74\x78\x74\x50\x4b\x05\x06\x00\x00\x00\x00\x02\x00\x02\x00\x6e\x00"
    "\x00\x00\x04\x01\x00\x00\x00\x00"
    ;

constexpr std::string_view kReport =
    "Quarterly report (current version, June).\n"
    "Sales: 1200 units in April, 1350 in May, 1490 in June.\n"
    "Costs: rent 3000, wages 21000, materials 8400, transport 1900.\n"
    "Sales: 1200 units in April, 1350 in May, 1490 in June.\n"
    "Costs: rent 3000, wages 21000, materials 8400, transport 1900.\n"
    "Summary: the quarter closed with a profit; the figures above are final.\n";

std::string Notes(int Which) {
  std::string s;
  for (int i = 0; i < 12 + 6 * Which; ++i)
    s += "note " + std::to_string(Which) + "." + std::to_string(i) + ": check the shelf " +
         std::to_string((i * 7 + Which) % 13) + " and write down what is missing\n";
  return s;
}

// Bytes that do not compress: writers store them or deflate them into stored blocks.
std::string Noise(size_t Size) {
  std::string s(Size, '\0');
  uint32_t x = 0x9E3779B9u;
  for (char& c : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

struct TTreeFile {
  std::string Name;
  std::string Content;
};

const std::vector<TTreeFile>& Tree() {
  static const std::vector<TTreeFile> tree = {
      {"report.txt", std::string(kReport)},
      {"docs/notes0.txt", Notes(0)},
      {"docs/notes1.txt", Notes(1)},
      {"docs/notes2.txt", Notes(2)},
      {"docs/empty.txt", ""},
      {"docs/old.zip", std::string(kOldZip, sizeof kOldZip - 1)},
      {"docs/\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE2\x84\x96" "1.txt", "\xD0\x98\xD1\x82\xD0\xBE\xD0\xB3: 42\n"},
      {"data/noise.bin", Noise(300)},
  };
  return tree;
}

const std::set<std::string>& Contents() {
  static const std::set<std::string> contents = [] {
    std::set<std::string> s;
    for (const TTreeFile& f : Tree()) s.insert(f.Content);
    return s;
  }();
  return contents;
}

// Whether Data holds a local or directory header whose name is that of the stored zip.
bool HoldsRecordOfOldZip(const uint8_t* Data, size_t Size) {
  constexpr std::string_view kName = "docs/old.zip";
  const auto le16 = [&](size_t At) { return static_cast<size_t>(Data[At] | (Data[At + 1] << 8)); };
  for (size_t i = 0; i + 4 <= Size; ++i) {
    if (Data[i] != 'P' || Data[i + 1] != 'K') continue;
    size_t nameAt = 0;
    size_t lengthAt = 0;
    if (Data[i + 2] == 3 && Data[i + 3] == 4) {
      nameAt = i + 30;
      lengthAt = i + 26;
    } else if (Data[i + 2] == 1 && Data[i + 3] == 2) {
      nameAt = i + 46;
      lengthAt = i + 28;
    } else {
      continue;
    }
    if (nameAt > Size) continue;
    const size_t length = le16(lengthAt);
    if (length < kName.size() || nameAt + length > Size) continue;
    if (std::string_view(reinterpret_cast<const char*>(Data) + nameAt + length - kName.size(), kName.size()) == kName)
      return true;
  }
  return false;
}

// The stored zip's files, by their CRC in it: a table that has drifted from the bytes would
// let its files pass as right content.
void CheckOldZipTable() {
  const std::string zip(kOldZip, sizeof kOldZip - 1);
  for (const std::string_view text : {kOldReport, kOldTodo}) {
    const uint32_t crc = static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(text.data()),
                                                       static_cast<uInt>(text.size())));
    const char le[4] = {static_cast<char>(crc), static_cast<char>(crc >> 8), static_cast<char>(crc >> 16),
                        static_cast<char>(crc >> 24)};
    if (zip.find(std::string_view(le, 4)) == std::string::npos) {
      std::fprintf(stderr, "the stored zip does not hold the text it is said to hold\n");
      std::abort();
    }
  }
}

void WriteTree(const std::string& Dir) {
  for (const TTreeFile& f : Tree()) {
    const std::filesystem::path path = std::filesystem::path(Dir) / f.Name;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << f.Content;
  }
}

std::string Slurp(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool IsRegularFile(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& Path) {
  struct stat st {};
  return ::lstat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
  ::chmod(path, 0700);
  return ::remove(path);
}

// The folder of the input in work; a finding removes it too, as runs that go on after one
// would fill the temporary folder.
std::string gRoot;

[[noreturn]] void Finding(const char* What, const std::string& Path, const std::string& Content) {
  std::fprintf(stderr, "restore-tree finding: %s: %s (%zu bytes", What, Path.c_str(), Content.size());
  if (!Content.empty()) {
    std::fprintf(stderr, ": \"");
    for (size_t i = 0; i < Content.size() && i < 80; ++i) {
      const auto c = static_cast<unsigned char>(Content[i]);
      if (c >= 0x20 && c < 0x7F) std::fputc(c, stderr);
      else std::fprintf(stderr, "\\x%02x", c);
    }
    std::fprintf(stderr, "%s\"", Content.size() > 80 ? "..." : "");
  }
  std::fprintf(stderr, ")\n");
  ::nftw(gRoot.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  std::abort();
}

// Whether the CRC-32 of Content (or its complement, which the reader also takes) stands in Data
// as a stored CRC would. A mutation may rewrite a member's data and its CRC alike (libFuzzer
// learns the values that a comparison wants), which makes a sound member of another tree, and no
// reader can tell; a CRC that the input does not hold cannot have been checked.
bool CrcStandsIn(const uint8_t* Data, size_t Size, const std::string& Content) {
  const uint32_t crc = static_cast<uint32_t>(
      ::crc32(0, reinterpret_cast<const Bytef*>(Content.data()), static_cast<uInt>(Content.size())));
  for (const uint32_t stored : {crc, ~crc}) {
    const uint8_t le[4] = {static_cast<uint8_t>(stored), static_cast<uint8_t>(stored >> 8),
                           static_cast<uint8_t>(stored >> 16), static_cast<uint8_t>(stored >> 24)};
    for (size_t i = 0; i + 4 <= Size; ++i)
      if (std::memcmp(Data + i, le, 4) == 0) return true;
  }
  return false;
}

std::vector<std::string> gLeft;

// Everything but folders.
int Collect(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_F || type == FTW_SL || type == FTW_SLN || type == FTW_NS) gLeft.emplace_back(path);
  return 0;
}


}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  CheckOldZipTable();
  if (const char* dir = std::getenv("TARVELO_WRITE_TREE")) {
    WriteTree(dir);
    std::exit(0);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  char tmpl[] = "/tmp/fuzz-restore-tree-XXXXXX";
  if (!::mkdtemp(tmpl)) return 0;
  gRoot = tmpl;
  const std::string& root = gRoot;
  const std::string archive = root + "/backup.zip";
  const std::string out = root + "/out";
  if (FILE* f = std::fopen(archive.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  std::set<std::string> right = Contents();
  const bool oldZipRecord = HoldsRecordOfOldZip(data, size);
  if (!oldZipRecord) right.insert({std::string(kOldReport), std::string(kOldTodo)});
  // Content of no tree file is wrong when it is the stored zip's (its record still there), or
  // when the input holds no CRC of it.
  const auto wrong = [&](const std::string& content) {
    if (right.count(content) != 0) return false;
    if (oldZipRecord && (content == kOldReport || content == kOldTodo)) return true;
    return !CrcStandsIn(data, size, content);
  };
  int32_t reports = 0;
  int32_t failed = 0;
  {
    // As the restore form sets its reader up.
    TUnZip unzip;
    unzip.SetCpuType(cptAuto);
    unzip.SetCreateStoredDirs(true);
    unzip.SetPasswordAttempts(0);
    unzip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t) { ++reports; };
    // A passed entry is checked when it is reported: a later entry of the same name may
    // replace the file.
    unzip.OnEnd = [&wrong](TObject*, const std::string& file, bool passed) {
      // A folder entry passes with its folder.
      if (!passed || IsFolder(file)) return;
      if (!IsRegularFile(file)) Finding("entry passed but no file written", file, "");
      const std::string content = Slurp(file);
      if (wrong(content)) Finding("entry passed with content of no tree file", file, content);
    };
    unzip.SetArchiveFile(archive);
    unzip.FileSpec().Clear();
    unzip.FileSpec().Add("*.*");
    unzip.SetExtractDir(out);
    unzip.Extract();
    failed = unzip.FilesFailed();
  }
  gLeft.clear();
  ::nftw(out.c_str(), Collect, 16, FTW_PHYS);
  const std::vector<std::string> left = gLeft;
  if (reports == 0 && failed == 0) {
    for (const std::string& path : left) {
      if (!IsRegularFile(path)) Finding("run succeeded and left something that is no file", path, "");
      const std::string content = Slurp(path);
      if (wrong(content)) Finding("run succeeded with content of no tree file", path, content);
    }
  }
  ::nftw(root.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  return 0;
}

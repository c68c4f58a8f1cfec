// Putting a finished temporary archive under its final name. The old archive is the user's last
// good backup: whatever fails, it must still be there byte for byte. The temporary outputs put a
// complete archive in place even when their owner forgets to, and announce the move from the
// stream that holds the archive.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "archive/qrnBase.h"
#include "archive/qrnStreams.h"
#include "archive/qrnTempOut.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/archive/spanwrite_fixture.h"

namespace {

class Folder {
 public:
  explicit Folder(const std::string& base) {
    std::string templ = base + "/movetemp-XXXXXX";
    if (char* made = ::mkdtemp(templ.data())) FPath = made;
  }
  ~Folder() {
    if (!FPath.empty()) std::system(("chmod -R u+w '" + FPath + "' 2>/dev/null; rm -rf '" + FPath + "'").c_str());
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  bool Ok() const { return !FPath.empty(); }
  std::string operator/(const std::string& leaf) const { return FPath + "/" + leaf; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

void writeFile(const std::string& name, const std::string& content) {
  std::ofstream(name, std::ios::binary) << content;
}

std::string readFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string bigContent(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return s;
}

// Files of the folder other than the ones named: leftovers of a failed move.
size_t entriesIn(const std::string& folder) { return platform::ListDirectory(folder).size(); }

bool differentFileSystems(const std::string& a, const std::string& b) {
  int64_t da = platform::DeviceOf(a), db = platform::DeviceOf(b);
  return da >= 0 && db >= 0 && da != db;
}

}  // namespace

TEST(MoveTempFile, SameFileSystemRenamesOverTheOldArchive) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string finalName = dir / "backup.zip";
  const std::string tempName = dir / "qrnTEMP01";
  writeFile(finalName, "old archive");
  writeFile(tempName, "new archive");

  TZipCommon zip;
  zip.MoveTempFile(nullptr, finalName, 11, true, tempName);
  EXPECT_EQ(readFile(finalName), "new archive");
  EXPECT_FALSE(platform::FileExists(tempName));
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

TEST(MoveTempFile, SameFileSystemFailureKeepsTheOldArchive) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string tempName = dir / "qrnTEMP02";
  writeFile(tempName, "new archive");
  // The final name is a folder: the rename cannot replace it.
  ASSERT_TRUE(platform::MakeDirectory(dir / "backup.zip"));
  writeFile(dir / "backup.zip/inside", "keep");

  TZipCommon zip;
  std::vector<int32_t> codes;
  zip.OnError = [&codes](TObject*, const std::string&, const std::string&, const std::string&, int32_t c) {
    codes.push_back(c);
  };
  EXPECT_THROW(zip.MoveTempFile(nullptr, dir / "backup.zip", 11, true, tempName), E_RAISE);
  EXPECT_EQ(codes, std::vector<int32_t>{25136});
  EXPECT_EQ(readFile(dir / "backup.zip/inside"), "keep");
  EXPECT_EQ(readFile(tempName), "new archive");  // the caller still owns and removes it
}

TEST(MoveTempFile, CopyFromTheOpenTemporaryReplacesTheOldArchive) {
  // The copy path runs whenever the caller says the drives differ and hands the open stream.
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string finalName = dir / "backup.zip";
  writeFile(finalName, "old archive");
  const std::string content = bigContent(200000);  // several copy blocks
  TMemoryStream32 source;
  source.Write(content.data(), static_cast<int32_t>(content.size()));

  TZipCommon zip;
  zip.MoveTempFile(&source, finalName, static_cast<int64_t>(content.size()), false, "");
  EXPECT_EQ(readFile(finalName), content);
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
  EXPECT_EQ(zip.ArchiveTotal, 200000);
  EXPECT_EQ(zip.FileTotal, 200000);
}

TEST(MoveTempFile, AcrossFileSystemsCopiesAndRemovesNothingOfTheUser) {
  Folder shm("/dev/shm");
  Folder dir(TARVELO_BINARY_DIR);
  if (!shm.Ok() || !dir.Ok() || !differentFileSystems(shm.Path(), dir.Path())) {
    GTEST_SKIP() << "/dev/shm and the build folder share one file system";
  }
  const std::string tempName = shm / "qrnTEMP03";
  const std::string finalName = dir / "backup.zip";
  const std::string content = bigContent(150000);
  writeFile(tempName, content);
  writeFile(finalName, "old archive");

  TZipCommon zip;
  {
    TFileStream32 source(tempName, 0x20);
    ASSERT_GE(source.Handle(), 0);
    zip.MoveTempFile(&source, finalName, static_cast<int64_t>(content.size()), false, tempName);
  }
  EXPECT_EQ(readFile(finalName), content);
  EXPECT_EQ(entriesIn(dir.Path()), 1u);  // no staging file left behind

  // The caller believed in one drive and closed its stream: the file itself is copied.
  writeFile(finalName, "old archive");
  zip.MoveTempFile(nullptr, finalName, static_cast<int64_t>(content.size()), true, tempName);
  EXPECT_EQ(readFile(finalName), content);
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

TEST(MoveTempFile, CancelDuringTheCopyLeavesTheOldArchiveByteForByte) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string finalName = dir / "backup.zip";
  const std::string old = bigContent(5000);
  writeFile(finalName, old);
  const std::string content = bigContent(300000);
  TMemoryStream32 source;
  source.Write(content.data(), static_cast<int32_t>(content.size()));

  TZipCommon zip;
  int pumps = 0;
  // The user presses Cancel while the second block is on its way.
  platform::SetMessagePump([&] {
    if (++pumps == 2) zip.SetCancel(true);
  });
  EXPECT_THROW(zip.MoveTempFile(&source, finalName, static_cast<int64_t>(content.size()), false, ""), E_RAISE);
  platform::SetMessagePump(nullptr);
  EXPECT_EQ(readFile(finalName), old);
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

TEST(MoveTempFile, ShortSourceOrMissingFolderFailsAndKeepsTheOldArchive) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string finalName = dir / "backup.zip";
  writeFile(finalName, "old archive");
  TMemoryStream32 source;
  source.Write("short", 5);

  TZipCommon zip;
  // Fewer bytes than the size claimed: the copy fails, nothing is published.
  EXPECT_ANY_THROW(zip.MoveTempFile(&source, finalName, 100, false, ""));
  EXPECT_EQ(readFile(finalName), "old archive");
  EXPECT_EQ(entriesIn(dir.Path()), 1u);

  // No folder for the final name: no file can be made there.
  try {
    zip.MoveTempFile(&source, dir / "missing/backup.zip", 5, false, "");
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Error opening file");
  }
  EXPECT_EQ(readFile(finalName), "old archive");
}

TEST(MoveTempFile, CopyOntoAFolderNameFailsWithoutLeftovers) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  ASSERT_TRUE(platform::MakeDirectory(dir / "backup.zip"));
  TMemoryStream32 source;
  source.Write("new archive", 11);
  TZipCommon zip;
  EXPECT_THROW(zip.MoveTempFile(&source, dir / "backup.zip", 11, false, ""), E_RAISE);
  EXPECT_TRUE(platform::DirectoryExists(dir / "backup.zip"));
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

TEST(TempOutput, MemoryImageAnnouncesItsMoveItselfOnceTheFinalFileCanBeMade) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string content = bigContent(150000);
  TZipCommon zip;
  std::vector<TObject*> begun, ended;
  zip.OnTmpFileMoveBegin = [&](TObject* sender, const std::string&, const std::string&) { begun.push_back(sender); };
  zip.OnTmpFileMoveEnd = [&](TObject* sender) { ended.push_back(sender); };
  {
    TTempMemStream image(&zip, platform::kModeCreate, dir / "backup.zip");
    image.Write(content.data(), static_cast<int32_t>(content.size()));
    image.MoveToFinal();
    EXPECT_EQ(begun, std::vector<TObject*>{&image});
    EXPECT_EQ(ended, std::vector<TObject*>{&image});
  }
  EXPECT_EQ(readFile(dir / "backup.zip"), content);
  EXPECT_EQ(entriesIn(dir.Path()), 1u);

  // No file can be made for the archive: "Error opening file" before any move is announced.
  begun.clear();
  ended.clear();
  TTempMemStream image(&zip, platform::kModeCreate, dir / "missing/backup.zip");
  image.Write(content.data(), 1000);
  try {
    image.MoveToFinal();
    FAIL() << "no error";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.what(), "Error opening file");
  }
  EXPECT_TRUE(begun.empty());
  EXPECT_TRUE(ended.empty());
}

TEST(TempOutput, CompleteArchiveThatNobodyPublishedIsPutInPlaceNotDropped) {
  Folder dir(TARVELO_BINARY_DIR);
  ASSERT_TRUE(dir.Ok());
  const std::string finalName = dir / "backup.zip";
  TZipCommon zip;
  zip.SetTempDir(dir.Path());
  std::vector<int32_t> codes;
  zip.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int32_t c) {
    codes.push_back(c);
  };
  const auto fileOutput = [&](const std::string& name, const std::string& bytes) {
    auto out = std::make_unique<TTempFileStream>(&zip, platform::kModeCreate, name, dir.Path());
    out->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
    return out;
  };
  // Neither published nor cancelled: the archive is complete and goes in place.
  writeFile(finalName, "old archive");
  fileOutput(finalName, "new archive").reset();
  EXPECT_EQ(readFile(finalName), "new archive");
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
  {
    TTempMemStream image(&zip, platform::kModeCreate, finalName);
    image.Write("from memory", 11);
  }
  EXPECT_EQ(readFile(finalName), "from memory");
  EXPECT_EQ(entriesIn(dir.Path()), 1u);

  // Cancelled, or dropped while an exception unwinds the run: the old archive stays.
  auto cancelled = fileOutput(finalName, "half an archive");
  cancelled->Mode = 0;
  cancelled.reset();
  try {
    auto unwinding = fileOutput(finalName, "half an archive");
    throw std::runtime_error("the run failed");
  } catch (const std::runtime_error&) {
  }
  try {
    TTempMemStream image(&zip, platform::kModeCreate, finalName);
    image.Write("half", 4);
    throw std::runtime_error("the run failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(readFile(finalName), "from memory");
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
  EXPECT_TRUE(codes.empty());

  // A move that fails in the destructor is reported, not thrown.
  ASSERT_NO_THROW(fileOutput(dir / "missing/backup.zip", "new archive").reset());
  EXPECT_FALSE(codes.empty());
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

// Guards the permissions of a published archive. The temporary file it is built in is its
// owner's alone; an archive that cannot take the permissions it is published with (a disk that
// keeps no Unix modes) still goes in place, complete, as the run's backup, but never without a
// word: the run reports it (25136) against the archive. So whether the archive is renamed into
// place, copied there from another file system or from memory, or is a spanned piece that
// replaces an older one.
TEST(MoveTempFile, AnArchiveThatCannotTakeItsPermissionsIsReported) {
  struct Case {
    const char* what;
    bool tempOnTheDisk;
    TCompressionMethod method;
    bool spanned;
  };
  const std::vector<Case> cases = {
      {"renamed into place", true, cmTempFile, false},
      {"copied from another file system", false, cmTempFile, false},
      {"written from memory", false, cmInMemory, false},
      {"a spanned piece over an older one", false, cmTempFile, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Spanned: four files over two disks, the second of which holds a piece of an older set.
    const int files = c.spanned ? 4 : 2;
    spanfixture::SpanRig r(c.spanned ? 64 * 1024 : 1000000);
    r.Source(files, c.spanned ? 20000 : 2000);
    const std::string piece = r.Disk(c.spanned ? 2 : 1) + "/" + r.name;
    if (c.spanned) {
      writerfixture::Put(piece, "a piece of an older set");
      r.w.zip.OnDiskSpanFileExists = [](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
        m = omOverwrite;
      };
    } else {
      r.w.zip.OnInsertDisk = nullptr;  // nobody changes disks: an ordinary archive
    }
    if (c.tempOnTheDisk) {
      std::filesystem::create_directories(r.d / "floppy/tmp");
      r.w.zip.SetTempDir(r.d / "floppy/tmp");
    }
    r.w.zip.SetCompressionMethod(c.method);
    r.drive.SetModesRefused(true);
    EXPECT_EQ(r.w.zip.Compress(), files);
    EXPECT_EQ(r.w.errors.size(), 1u);
    for (const auto& e : r.w.errors) {
      EXPECT_EQ(e.code, E_WRITE_ERROR);
      EXPECT_EQ(e.file, r.d / ("floppy/" + r.name));
      EXPECT_EQ(e.ext, "its permissions could not be set: Operation not permitted");
    }
    struct stat st {};
    ASSERT_EQ(::stat(piece.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "what the report tells";
    EXPECT_TRUE(r.PeersAgree());
  }
}

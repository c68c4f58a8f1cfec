// Writing a new archive: names, the store-or-deflate choice, empty files, encryption flags, the
// run's checks and its counters, cancelling.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "archive/qrnBase.h"
#include "archive/qrnEndian.h"
#include "tests/archive/writer_fixture.h"
#include "tests/support/OrdinaryUser.h"

using namespace writerfixture;

namespace {

TEST(WriterNew, NamesAreRelativeToTheMaskFolderWithSlashes) {
  Folder d;
  Put(d / "src/a.txt", "hello");
  Put(d / "src/sub/deep/b.txt", Text(5000));
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 2);
  EXPECT_TRUE(w.errors.empty());
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 2u);
  EXPECT_NE(Find(es, "a.txt"), nullptr);
  const auto* b = Find(es, "sub/deep/b.txt");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->central.Method, 8);
  EXPECT_EQ(b->central.UnpackedSize, 5000u);
  EXPECT_EQ(b->local.PackedSize, b->central.PackedSize);
  EXPECT_EQ(b->central.InternalAttributes, 1);
  EXPECT_EQ(b->central.ExternalAttributes & 0x20u, 0x20u);
  EXPECT_EQ(b->central.ExtraLength, 0);
}

TEST(WriterNew, StoreOrDeflateChoice) {
  Folder d;
  Put(d / "src/exact256.txt", std::string(256, 'a'));
  Put(d / "src/just257.txt", std::string(257, 'a'));
  Put(d / "src/rnd10.bin", Random(10, 1));
  Put(d / "src/pack.RaR", Text(3000));
  Put(d / "src/other.Zip", Text(3000));
  Put(d / "src/empty.txt", "");
  Writer w(d / "out.zip", d / "src");
  w.zip.SetPassword("pw");
  EXPECT_EQ(w.zip.Compress(), 6);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 6u);
  EXPECT_EQ(Find(es, "exact256.txt")->central.Method, 8);
  EXPECT_EQ(Find(es, "just257.txt")->central.Method, 8);
  // Ten random bytes deflate to more than ten: stored, still behind an encryption header.
  const auto* r = Find(es, "rnd10.bin");
  EXPECT_EQ(r->central.Method, 0);
  EXPECT_EQ(r->central.PackedSize, 22u);
  EXPECT_EQ(Find(es, "pack.RaR")->central.Method, 0);
  EXPECT_EQ(Find(es, "other.Zip")->central.Method, 0);
  const auto* e = Find(es, "empty.txt");
  EXPECT_EQ(e->central.Method, 0);
  EXPECT_EQ(e->central.Crc32, 0u);
  EXPECT_EQ(e->central.PackedSize, 0u);
  EXPECT_EQ(e->central.Flags & kFlagEncrypted, 0);
  EXPECT_EQ(Find(es, "just257.txt")->central.Flags & kFlagEncrypted, kFlagEncrypted);
}

TEST(WriterNew, DeflateTypeSetsFlagBitsAndStoreStoresEverything) {
  const std::pair<TDeflateType, uint16_t> rows[] = {{dtDeflateF, 4}, {dtDeflateN, 0}, {dtDeflateX, 2}};
  for (auto [type, bits] : rows) {
    Folder d;
    Put(d / "src/t.txt", Text(20000));
    Writer w(d / "out.zip", d / "src");
    w.zip.SetDeflateType(type);
    ASSERT_EQ(w.zip.Compress(), 1);
    const auto es = EntriesOf(d / "out.zip");
    ASSERT_EQ(es.size(), 1u);
    EXPECT_EQ(es[0].central.Method, 8);
    EXPECT_EQ(es[0].central.Flags & 6, bits) << type;
  }
  Folder d;
  Put(d / "src/t.txt", Text(20000));
  Writer w(d / "out.zip", d / "src");
  w.zip.SetCompressMethod(cmStore);
  ASSERT_EQ(w.zip.Compress(), 1);
  const auto es = EntriesOf(d / "out.zip");
  EXPECT_EQ(es[0].central.Method, 0);
  EXPECT_EQ(es[0].central.PackedSize, 20000u);
}

TEST(WriterNew, PropertiesRefuseWhatTheyCannotHold) {
  TZip zip;
  zip.SetCompressMethod(cmFuse);
  EXPECT_EQ(zip.CompressMethod(), cmDeflate);
  zip.SetCompressMethod(cmStore);
  EXPECT_EQ(zip.CompressMethod(), cmStore);
  Folder d;
  zip.SetDefaultExt(".zip");
  zip.SetArchiveFile(d / "backup");
  EXPECT_EQ(zip.ArchiveFile(), d / "backup.zip");
  zip.SetDefaultExt("RAR");
  EXPECT_EQ(zip.ArchiveFile(), d / "backup.rar");
  zip.SetDefaultExt("");
  EXPECT_EQ(zip.DefaultExt(), ".ZIP");
}

TEST(WriterNew, RunChecksReportAndReturnZero) {
  Folder d;
  Put(d / "src/a.txt", "x");
  {
    Writer w(d / "out.zip");  // empty FileSpec
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_NOTHING_TO_DO));
  }
  {
    Writer w(d / "missing/out.zip", d / "src");
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_INVALID_DIRECTORY));
  }
  {
    Writer w(d / "out.zip", d / "src");
    w.zip.SetSwitch(swDelete);
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_NOTHING_TO_DELETE));
  }
  {
    Writer w(d / "out.zip", d / "src");
    w.zip.SetStoredDirNames(sdExplorer_UserDefineDefaultDir);
    EXPECT_EQ(w.zip.Compress(), 0);
    ASSERT_TRUE(w.Reported(E_PROPERTY_NOT_ASSIGNED));
    EXPECT_FALSE(std::filesystem::exists(d / "out.zip"));
  }
}

TEST(WriterNew, AFileThatCannotBeOpenedIsDroppedAndTheRunGoesOn) {
  Folder d;
  Put(d / "src/a.txt", "aaa");
  Put(d / "src/b.txt", "bbb");
  Writer w(d / "out.zip", d / "src");
  w.zip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) {
    if (f.ends_with("a.txt")) std::filesystem::remove(d / "src/a.txt");
  };
  EXPECT_EQ(w.zip.Compress(), 1);
  EXPECT_TRUE(w.Reported(E_OPEN_ERROR));
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 1u);
  EXPECT_EQ(es[0].name, "b.txt");
}

// A file the scan found but the run cannot open is reported with the system's reason, as a
// folder that cannot be listed is: one taken away after the scan, one the user may not read, one
// that became a folder.
TEST(WriterNew, AFileThatCannotBeOpenedIsReportedWithTheReason) {
  struct Row {
    const char* name;
    std::function<void(const std::string& path)> change;  // at the start of the file's entry
    const char* reason;
  };
  const Row rows[] = {
      {"deleted.txt", [](const std::string& p) { std::filesystem::remove(p); }, "No such file or directory"},
      {"closed.txt", [](const std::string& p) { std::filesystem::permissions(p, std::filesystem::perms::none); },
       "Permission denied"},
      {"folder.txt",
       [](const std::string& p) {
         std::filesystem::remove(p);
         std::filesystem::create_directory(p);
       },
       "Is a directory"},
  };
  Folder d;
  Put(d / "src/kept.txt", "kept");
  for (const Row& r : rows) Put(d / ("src/" + std::string(r.name)), "gone before it was read");
  Writer w(d / "out.zip", d / "src");
  w.zip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) {
    for (const Row& r : rows)
      if (f.ends_with(r.name)) r.change(d / ("src/" + std::string(r.name)));
  };
  {
    const testsupport::TOrdinaryUser user;
    EXPECT_EQ(w.zip.Compress(), 1);
  }
  std::map<std::string, std::string> reasons;
  for (const auto& e : w.errors) {
    EXPECT_EQ(e.code, E_OPEN_ERROR) << e.file;
    reasons[e.file] = e.ext;
  }
  std::map<std::string, std::string> want;
  for (const Row& r : rows) want[d / ("src/" + std::string(r.name))] = r.reason;
  EXPECT_EQ(reasons, want);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 1u);
  EXPECT_EQ(es[0].name, "kept.txt");
}

// An enciphered file is read twice: once for the CRC that the encryption header's check bytes
// need, then for the data. A file that changes in between must not be stored under a CRC that
// its data fails: it is reported as unreadable and left out.
TEST(WriterNew, EncipheredFileThatChangesBetweenItsTwoReadsIsLeftOut) {
  Folder d;
  Put(d / "src/x.txt", Text(600000));
  Put(d / "src/y.txt", Text(1000));
  Writer w(d / "out.zip", d / "src");
  w.zip.SetPassword("pw");
  bool changed = false;
  w.zip.OnProgress = [&](TObject*, uint8_t byFile, uint8_t) {
    if (changed || byFile == 0 || w.zip.CurrentFileName() != "x.txt") return;
    changed = true;
    std::fstream f(d / "src/x.txt", std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(400000);
    f << "changed in place, the size stays";
  };
  EXPECT_EQ(w.zip.Compress(), 1);
  ASSERT_TRUE(changed);
  int unreadable = 0;
  for (const auto& r : w.errors)
    if (r.code == E_READ_ERROR && r.file == d / "src/x.txt") ++unreadable;
  EXPECT_EQ(unreadable, 1);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 1u);
  EXPECT_EQ(es[0].name, "y.txt");
  EXPECT_EQ(Shell("unzip -tq -P pw '" + (d / "out.zip") + "'"), 0);
}

// The archive, its temporary output and the archive a run replaces may lie in the folder being
// packed under another spelling of their path (a doubled slash, a linked folder): they are
// recognised as the same files and never packed into the archive.
TEST(WriterNew, TheArchiveAndItsTemporaryOutputAreNeverPackedIntoIt) {
  Folder d;
  Put(d / "src/a.txt", "aaa");
  std::filesystem::create_directory_symlink(d / "src", d / "link");
  auto names = [](const std::string& archive) {
    std::vector<std::string> out;
    for (const auto& e : EntriesOf(archive)) out.push_back(e.name);
    std::sort(out.begin(), out.end());
    return out;
  };
  {  // the archive beside its files, named with a doubled slash, then updated
    Writer first(d / "src//x.zip", d / "src");
    EXPECT_EQ(first.zip.Compress(), 1);
    Put(d / "src/b.txt", "bbb");
    Writer update(d / "src//x.zip", d / "src");
    EXPECT_EQ(update.zip.Compress(), 1);
    EXPECT_EQ(names(d / "src/x.zip"), (std::vector<std::string>{"a.txt", "b.txt"}));
    std::filesystem::remove(d / "src/x.zip");
  }
  {  // the archive named through a linked folder, and its temporary output in the packed folder
    Writer first(d / "link/y.zip", d / "src");
    first.zip.SetTempDir(d / "link");
    EXPECT_EQ(first.zip.Compress(), 2);
    Put(d / "src/c.txt", "ccc");
    Writer update(d / "link/y.zip", d / "src");
    update.zip.SetTempDir(d / "link");
    EXPECT_EQ(update.zip.Compress(), 1);
    EXPECT_EQ(names(d / "src/y.zip"), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(Shell("unzip -tq '" + (d / "src/y.zip") + "'"), 0);
  }
  {  // the archive a new one replaces, named through the linked folder
    Writer w(d / "new.zip", d / "src");
    w.zip.ReplacedArchive = d / "link/y.zip";
    EXPECT_EQ(w.zip.Compress(), 3);
    EXPECT_EQ(names(d / "new.zip"), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
  }
}

// Exclusion masks with a folder part, relative to the folder being packed or absolute, are
// tested against the stored name; a mask without one against the file name alone.
TEST(WriterNew, ExclusionMasksWithAFolderLeaveOutThatFolderOnly) {
  Folder d;
  for (const char* f : {"a.tmp", "sub/a.tmp", "sub/deeper/b.tmp", "sub/b.txt", "logs/x.log", "x.log", "old.bak",
                        "sub/old.bak"})
    Put(d / ("src/" + std::string(f)), f);
  Writer w(d / "out.zip", d / "src");
  w.zip.ExcludeSpec().Add("sub/*.tmp");
  w.zip.ExcludeSpec().Add(d / "src/logs/*.log");
  w.zip.ExcludeSpec().Add("*.bak");
  EXPECT_EQ(w.zip.Compress(), 3);
  std::vector<std::string> names;
  for (const auto& e : EntriesOf(d / "out.zip")) names.push_back(e.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a.tmp", "sub/b.txt", "x.log"}));
}

TEST(WriterNew, CancelInTheMiddleKeepsTheEntriesDoneAndCutsThePartialOne) {
  Folder d;
  for (int i = 0; i < 4; ++i) Put(d / ("src/f" + std::to_string(i) + ".txt"), Text(400000 + i));
  Writer w(d / "out.zip", d / "src");
  int begun = 0;
  w.zip.OnBegin = [&](TObject*, const std::string&, int32_t, bool&) { ++begun; };
  w.zip.OnProgress = [&](TObject*, uint8_t byFile, uint8_t) {
    if (begun == 3 && byFile > 10) w.zip.SetCancel(true);
  };
  EXPECT_EQ(w.zip.Compress(), 2);
  EXPECT_TRUE(w.Reported(E_USER_CANCELED));
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 2u);
  // Nothing of the partial entry is left between the last entry and the directory.
  const auto bytes = zipfixture::ReadAll(d / "out.zip");
  size_t end = 0;
  for (const auto& e : es) end = std::max<size_t>(end, e.dataOffset + e.central.PackedSize);
  EXPECT_EQ(GetLE32(std::span<const uint8_t>(bytes).subspan(end), 0), kCentralHeaderSignature);
}

TEST(WriterNew, EmptyFoldersOnlyWithStoreEmptySubDirs) {
  Folder d;
  Put(d / "src/a.txt", "a");
  std::filesystem::create_directories(d / "src/emptydir");
  {
    Writer w(d / "out1.zip", d / "src");
    EXPECT_EQ(w.zip.Compress(), 1);
  }
  Writer w(d / "out2.zip", d / "src");
  w.zip.SetStoreEmptySubDirs(true);
  EXPECT_EQ(w.zip.Compress(), 2);
  const auto es = EntriesOf(d / "out2.zip");
  const auto* f = Find(es, "emptydir/");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->central.ExternalAttributes & 0x10u, 0x10u);
  EXPECT_EQ(f->central.PackedSize, 0u);
}

TEST(WriterNew, NamesAreCp866OrUtf8WithFlagBit11) {
  Folder d;
  Put(d / "src/Документ.txt", "ru");
  Put(d / "src/日本.txt", "jp");
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 2);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 2u);
  const auto* ru = Find(es, "\x84\xAE\xAA\xE3\xAC\xA5\xAD\xE2.txt");
  ASSERT_NE(ru, nullptr);
  EXPECT_EQ(ru->central.Flags & kFlagUtf8, 0);
  const auto* jp = Find(es, "日本.txt");
  ASSERT_NE(jp, nullptr);
  EXPECT_EQ(jp->central.Flags & kFlagUtf8, kFlagUtf8);
  EXPECT_EQ(jp->local.Flags & kFlagUtf8, kFlagUtf8);
}

TEST(WriterNew, InMemoryOutputGivesTheSameArchiveShape) {
  Folder d;
  Put(d / "src/a.txt", Text(100000));
  Writer w(d / "out.zip", d / "src");
  w.zip.SetCompressionMethod(cmInMemory);
  EXPECT_EQ(w.zip.Compress(), 1);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 1u);
  EXPECT_EQ(es[0].central.UnpackedSize, 100000u);
}

TEST(WriterNew, WorkListLooksUpNamesWithCase) {
  // Names that differ only in letter case are different files here.
  TCompHeaderList list;
  TCompFileInfo info;
  list.Add("Docs/Отчёт.TXT", info);
  list.Add("b.txt", info);
  list.Add("B.TXT", info);
  EXPECT_EQ(list.IndexOfName("Docs/Отчёт.TXT"), 0);
  EXPECT_EQ(list.IndexOfName("docs/ОТЧЁТ.txt"), -1);
  EXPECT_EQ(list.IndexOfName("b.txt"), 1);
  EXPECT_EQ(list.IndexOfName("B.TXT"), 2);
  EXPECT_EQ(list.IndexOfName("b.TXT"), -1);
  list.SetName(1, "c.txt");
  EXPECT_EQ(list.IndexOfName("b.txt"), -1);
  EXPECT_EQ(list.IndexOfName("c.txt"), 1);
  EXPECT_EQ(list.IndexOfName("C.TXT"), -1);
  EXPECT_EQ(list.IndexOfName("none"), -1);
}

}  // namespace

namespace {

TEST(WriterNew, CancelledNewArchiveInMemoryStillKeepsTheEntriesDone) {
  Folder d;
  for (int i = 0; i < 3; ++i) Put(d / ("src/f" + std::to_string(i) + ".txt"), Text(300000 + i));
  Writer w(d / "out.zip", d / "src");
  w.zip.SetCompressionMethod(cmInMemory);
  int begun = 0;
  w.zip.OnBegin = [&](TObject*, const std::string&, int32_t, bool&) {
    if (++begun == 3) w.zip.SetCancel(true);
  };
  EXPECT_EQ(w.zip.Compress(), 2);
  EXPECT_EQ(EntriesOf(d / "out.zip").size(), 2u);
  EXPECT_EQ(Shell("unzip -tq '" + (d / "out.zip") + "'"), 0);
}

// A linked folder of the source is backed up like a real one; each folder once, under its own
// path when it lies in the source; links to parents, and to the folders that hold the source, do
// not loop; a link to nothing holds nothing to lose: it is named as not stored, and no error.
TEST(WriterNew, LinkedFoldersAreEnteredEachFolderOnceAndABrokenLinkIsReported) {
  namespace fs = std::filesystem;
  Folder d;
  Put(d / "src/a.txt", "aaa");
  Put(d / "src/real/r.txt", Text(3000));
  Put(d / "elsewhere/e.txt", "outside the source");
  fs::create_directory_symlink("real", d / "src/alias");
  fs::create_directory_symlink("..", d / "src/real/up");
  fs::create_directory_symlink("../elsewhere", d / "src/out");
  fs::create_directory_symlink("../src", d / "elsewhere/back");
  fs::create_directory_symlink(".", d / "elsewhere/again");
  fs::create_directory_symlink("../missing", d / "src/broken");
  // Folders that hold the source lead back into it: loops too.
  fs::create_directory_symlink(d.Path(), d / "src/real/holder");
  fs::create_directory_symlink("/", d / "src/top");
  Writer w(d / "out.zip", d / "src");
  std::vector<std::string> notStored;
  w.zip.OnNotStored = [&](TObject*, const std::string& file, const std::string& reason) {
    notStored.push_back(file + " (" + reason + ")");
  };
  EXPECT_EQ(w.zip.Compress(), 3);
  EXPECT_TRUE(w.errors.empty());
  EXPECT_EQ(notStored,
            std::vector<std::string>{d / "src/broken" + " (link to nothing: No such file or directory)"});
  ExpectPeersAccept(d / "out.zip");
  std::set<std::string> names;
  for (const auto& [name, crc] : PeerCrcs(d / "out.zip")) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"a.txt", "real/r.txt", "out/e.txt"}));
}

}  // namespace

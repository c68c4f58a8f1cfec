// Updating an existing archive: add, refresh, move, delete, read; stored entries are never lost
// by a cancelled or failed run, by a file that cannot be read, or by a file that is not a zip,
// nor by an archive that other tools made in their own ways (a prefix, Zip64 fields, data
// descriptors, a split set, no directory at all).
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/qrnBase.h"
#include "archive/qrnEndian.h"
#include "platform/volumes.h"
#include "tests/archive/reader_listing.h"
#include "tests/archive/unzip_fixture.h"
#include "tests/archive/writer_fixture.h"

using namespace writerfixture;

namespace {

const std::string kReference = std::string(TARVELO_TESTDATA) + "/reference/";

void MakeBase(const Folder& d) {
  Put(d / "src/a.txt", Text(3000));
  Put(d / "src/sub/b.txt", Text(7000));
  Writer w(d / "out.zip", d / "src");
  ASSERT_EQ(w.zip.Compress(), 2);
}

// Pushes the file's modification time far back so that a refresh sees it as changed.
void Age(const std::string& path) {
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) - std::chrono::hours(48));
}

TEST(WriterUpdate, AddKeepsStoredEntriesAndAddsNewFiles) {
  Folder d;
  MakeBase(d);
  Put(d / "src/c.txt", "new");
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 1);
  // Unchanged files meet their stored entries: without a rename handler that is reported, and
  // the stored entries stay.
  EXPECT_TRUE(w.Reported(E_EVENT_NOT_ASSIGNED));
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 3u);
  EXPECT_NE(Find(es, "sub/b.txt"), nullptr);
  EXPECT_EQ(Find(es, "c.txt")->central.UnpackedSize, 3u);
}

TEST(WriterUpdate, ChangedFileWithoutHandlersKeepsTheStoredEntry) {
  Folder d;
  MakeBase(d);
  const auto before = EntriesOf(d / "out.zip");
  Put(d / "src/a.txt", "changed");
  Put(d / "src/new.txt", "n");
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 1);
  int unassigned = 0;
  for (const auto& r : w.errors)
    if (r.code == E_EVENT_NOT_ASSIGNED && r.file == "a.txt") ++unassigned;
  EXPECT_EQ(unassigned, 2);  // OnReplaceFile, then OnRenameDupeFile
  const auto es = EntriesOf(d / "out.zip");
  EXPECT_EQ(Find(es, "a.txt")->central.Crc32, Find(before, "a.txt")->central.Crc32);
}

TEST(WriterUpdate, ReplaceAndRenameDupe) {
  Folder d;
  MakeBase(d);
  Put(d / "src/a.txt", "replaced");
  {
    Writer w(d / "out.zip", d / "src");
    w.zip.OnReplaceFile = [](TObject*, const std::string& f, const std::string&, TDateTime, TDateTime, int64_t s,
                             int64_t ns, int32_t, int32_t, bool& replace) {
      replace = f == "a.txt" && s == 3000 && ns == 8;
    };
    w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
    EXPECT_EQ(w.zip.Compress(), 1);
    const auto es = EntriesOf(d / "out.zip");
    ASSERT_EQ(es.size(), 2u);
    EXPECT_EQ(Find(es, "a.txt")->central.UnpackedSize, 8u);
  }
  Put(d / "src/sub/b.txt", "again");
  Writer w(d / "out.zip", d / "src");
  w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                           int32_t, int32_t, bool& replace) { replace = false; };
  w.zip.OnRenameDupeFile = [](TObject*, const std::string& f, std::string& n, bool& rename) {
    rename = f == "sub/b.txt";
    n = "sub/b-old.txt";
  };
  EXPECT_GE(w.zip.Compress(), 1);
  const auto es = EntriesOf(d / "out.zip");
  EXPECT_EQ(Find(es, "sub/b-old.txt")->central.UnpackedSize, 7000u);
  EXPECT_EQ(Find(es, "sub/b.txt")->central.UnpackedSize, 5u);
}

TEST(WriterUpdate, RefreshWithoutChangesIsNothingToDoAndLeavesTheArchive) {
  Folder d;
  MakeBase(d);
  const auto before = Slurp(d / "out.zip");
  Writer w(d / "out.zip", d / "src");
  w.zip.SetSwitch(swRefresh);
  EXPECT_EQ(w.zip.Compress(), 0);
  EXPECT_TRUE(w.Reported(E_NOTHING_TO_DO));
  EXPECT_EQ(Slurp(d / "out.zip"), before);
}

TEST(WriterUpdate, RefreshReadsTheFileFromTheMaskFolderWhateverTheCurrentFolder) {
  Folder d;
  MakeBase(d);
  Put(d / "src/sub/b.txt", "refreshed content");
  Age(d / "src/sub/b.txt");
  Put(d / "src/notstored.txt", "x");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path("/");
  Writer w(d / "out.zip", d / "src");
  w.zip.SetSwitch(swRefresh);
  const int32_t n = w.zip.Compress();
  std::filesystem::current_path(cwd);
  EXPECT_EQ(n, 1);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 2u);  // a refresh adds no new files
  EXPECT_EQ(Find(es, "sub/b.txt")->central.UnpackedSize, 17u);
}

TEST(WriterUpdate, RefreshWhoseFileCannotBeOpenedKeepsTheStoredEntry) {
  Folder d;
  MakeBase(d);
  const auto before = EntriesOf(d / "out.zip");
  Put(d / "src/a.txt", "changed");
  Age(d / "src/a.txt");
  Put(d / "src/sub/b.txt", "also changed");
  Age(d / "src/sub/b.txt");
  Writer w(d / "out.zip", d / "src");
  w.zip.SetSwitch(swRefresh);
  w.zip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) {
    if (f.ends_with("a.txt")) std::filesystem::remove(d / "src/a.txt");
  };
  EXPECT_EQ(w.zip.Compress(), 1);
  EXPECT_TRUE(w.Reported(E_OPEN_ERROR));
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 2u);
  const auto* a = Find(es, "a.txt");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->central.Crc32, Find(before, "a.txt")->central.Crc32);
  EXPECT_EQ(Find(es, "sub/b.txt")->central.UnpackedSize, 12u);
  EXPECT_EQ(Shell("unzip -tq '" + (d / "out.zip") + "'"), 0);
}

TEST(WriterUpdate, ReplacementThatCannotBeReadKeepsTheStoredEntry) {
  Folder d;
  MakeBase(d);
  Put(d / "src/a.txt", "replacement");
  Writer w(d / "out.zip", d / "src");
  w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                           int32_t, int32_t, bool& replace) { replace = true; };
  w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
  w.zip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) {
    if (f.ends_with("a.txt")) std::filesystem::remove(d / "src/a.txt");
  };
  Put(d / "src/z.txt", "z");
  EXPECT_EQ(w.zip.Compress(), 1);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 3u);
  EXPECT_EQ(Find(es, "a.txt")->central.UnpackedSize, 3000u);
  EXPECT_EQ(Shell("unzip -tq '" + (d / "out.zip") + "'"), 0);
}

TEST(WriterUpdate, CancelledUpdateLeavesTheArchiveExactlyAsItWas) {
  Folder d;
  MakeBase(d);
  const auto before = Slurp(d / "out.zip");
  for (int i = 0; i < 3; ++i) Put(d / ("src/n" + std::to_string(i) + ".txt"), Text(300000));
  Writer w(d / "out.zip", d / "src");
  int begun = 0;
  w.zip.OnBegin = [&](TObject*, const std::string&, int32_t, bool&) {
    if (++begun == 2) w.zip.SetCancel(true);
  };
  EXPECT_EQ(w.zip.Compress(), 0);
  EXPECT_EQ(Slurp(d / "out.zip"), before);
}

TEST(WriterUpdate, FailedRunLeavesTheArchiveExactlyAsItWas) {
  Folder d;
  MakeBase(d);
  const auto before = Slurp(d / "out.zip");
  Put(d / "src/big.txt", Text(2000000));
  Writer w(d / "out.zip", d / "src");
  bool failed = false;
  w.zip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) {
    if (!failed && f.ends_with("big.txt")) {
      failed = true;
      throw EWriteError("Stream write error");  // the run breaks off half-way
    }
  };
  EXPECT_EQ(w.zip.Compress(), 0);
  EXPECT_TRUE(failed);
  EXPECT_FALSE(w.errors.empty());
  EXPECT_TRUE(Slurp(d / "out.zip") == before);
}

// Guards the temporary archive's collected writes: a temporary folder that fills up part-way
// through the entries (when a collected piece is put down, or a large file goes straight to it)
// fails the run as a full disk, reported, whether it builds a new archive or updates one; the
// old archive stays byte for byte and nothing is left in the temporary folder.
TEST(WriterUpdate, ATemporaryFolderThatFillsUpFailsTheRunAsAFullDisk) {
  Folder d;
  for (int i = 0; i < 1500; ++i) Put(d / ("src/f" + std::to_string(i) + ".bin"), Random(300, static_cast<uint32_t>(i)));
  Put(d / "src/large.bin", Random(200000, 7));
  platform::SimulatedDrive temp(d / "temp", 300000, "TEMP", 1);
  {
    Writer w(d / "new.zip", d / "src");
    w.zip.SetTempDir(temp.Path());
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_DISK_FULL));
    EXPECT_FALSE(std::filesystem::exists(d / "new.zip"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path()), {}), 0) << "nothing left behind";
  }
  {
    Writer w(d / "old.zip", d / "src");
    ASSERT_EQ(w.zip.Compress(), 1501);
  }
  const auto before = Slurp(d / "old.zip");
  Put(d / "src/new.txt", "one more");
  Writer w(d / "old.zip", d / "src");
  w.zip.SetTempDir(temp.Path());
  EXPECT_EQ(w.zip.Compress(), 0);
  EXPECT_TRUE(w.Reported(E_DISK_FULL));
  EXPECT_TRUE(Slurp(d / "old.zip") == before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path()), {}), 0) << "nothing left behind";
}

// Guards the code of a full temporary folder: one that fills while the directory of many small
// entries is written fails the run as a full disk (25160), as it does anywhere else in the run,
// never as another write error, whether the run builds a new archive or updates one; the old
// archive stays byte for byte and nothing is left in the temporary folder.
TEST(WriterUpdate, ATemporaryFolderThatFillsWhileTheDirectoryIsWrittenIsAFullDisk) {
  Folder d;
  // Long names make a directory of some 700 KB, several times the pieces the output puts down.
  const std::string folder = "a-folder-whose-name-makes-every-directory-record-long/";
  for (int i = 0; i < 6000; ++i) Put(d / ("src/" + folder + "file-" + std::to_string(i) + ".txt"), "x");
  struct Case {
    const char* what;
    bool update;
  };
  for (const Case c : {Case{"new archive", false}, Case{"update", true}}) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(d / "out.zip");
    if (c.update) {
      Writer w(d / "out.zip", d / "src");
      ASSERT_EQ(w.zip.Compress(), 6000);
      Put(d / "src/new.txt", "one more");
    }
    const auto before = Slurp(d / "out.zip");
    // Where the directory lies in the archive this run writes: the temporary folder is made to
    // fill half-way through it.
    {
      Writer w(d / "out.zip", d / "src");
      ASSERT_GT(w.zip.Compress(), 0);
    }
    const auto written = zipfixture::ReadAll(d / "out.zip");
    const auto end = TEndRecord::Decode(written.data() + written.size() - TEndRecord::kSize, TEndRecord::kSize);
    ASSERT_TRUE(end.has_value());
    ASSERT_GT(end->DirectorySize, 2u * THandleStream32::kWriteBehindSize);
    if (c.update) {
      Put(d / "out.zip", before);
    } else {
      std::filesystem::remove(d / "out.zip");
    }
    platform::SimulatedDrive temp(d / "temp", int64_t{end->DirectoryOffset} + end->DirectorySize / 2, "TEMP", 1);
    Writer w(d / "out.zip", d / "src");
    w.zip.SetTempDir(temp.Path());
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_DISK_FULL));
    EXPECT_FALSE(w.Reported(E_WRITE_ERROR)) << "a full disk is named as such";
    EXPECT_EQ(Slurp(d / "out.zip"), before);
    EXPECT_EQ(std::filesystem::exists(d / "out.zip"), c.update);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path()), {}), 0) << "nothing left behind";
  }
}

// A file that cannot be read as it was found (a log rotated or truncated while it is read) must
// not cost the whole backup: it is reported as unreadable and left out, its stored entry stays,
// and every other file reaches the archive. A file that grows while it is read is stored as it
// stood when it was opened, so its headers describe its data.
TEST(WriterUpdate, AFileThatCannotBeReadToItsEndIsLeftOutAndTheRunGoesOn) {
  Folder d;
  MakeBase(d);
  const auto before = EntriesOf(d / "out.zip");
  Put(d / "src/a.txt", Text(2000000));  // changed: it replaces its entry
  Put(d / "src/c.txt", "new");
  const std::string growing = Text(500000);
  Put(d / "src/log.txt", growing);
  Writer w(d / "out.zip", d / "src");
  w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                           int32_t, int32_t, bool& replace) { replace = true; };
  w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
  bool cut = false, grown = false;
  w.zip.OnProgress = [&](TObject*, uint8_t byFile, uint8_t) {
    if (byFile == 0 || byFile >= 100) return;
    if (!cut && w.zip.CurrentFileName() == "a.txt") {
      cut = true;
      std::filesystem::resize_file(d / "src/a.txt", 10);  // the file shrinks under the reader
    }
    if (!grown && w.zip.CurrentFileName() == "log.txt") {
      grown = true;
      std::ofstream(d / "src/log.txt", std::ios::binary | std::ios::app) << Text(300000);
    }
  };
  EXPECT_EQ(w.zip.Compress(), 2);
  ASSERT_TRUE(cut && grown);
  int unreadable = 0;
  for (const auto& r : w.errors)
    if (r.code == E_READ_ERROR && r.file == d / "src/a.txt") ++unreadable;
  EXPECT_EQ(unreadable, 1);
  EXPECT_EQ(ErrorMessage(E_READ_ERROR), "Error reading file");
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 4u);
  ASSERT_NE(Find(es, "a.txt"), nullptr);
  EXPECT_EQ(Find(es, "a.txt")->central.Crc32, Find(before, "a.txt")->central.Crc32);
  EXPECT_EQ(Find(es, "c.txt")->central.UnpackedSize, 3u);
  EXPECT_EQ(Find(es, "log.txt")->central.UnpackedSize, growing.size());
  EXPECT_EQ(Shell("unzip -tq '" + (d / "out.zip") + "'"), 0);
  EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                  "sys.exit(z.read('log.txt') != open(sys.argv[2],'rb').read()[:" +
                  std::to_string(growing.size()) + "])\" '" + (d / "out.zip") + "' '" + (d / "src/log.txt") + "'"),
            0);
}

// A name that starts with a dot is hidden here and cannot be made otherwise: once the handler
// allows the write, such an archive (read-only too) is updated; without its leave it stays.
TEST(WriterUpdate, HiddenOrReadOnlyArchiveIsUpdatedOnlyWithTheHandlersLeave) {
  Folder d;
  Put(d / "src/a.txt", "aaa");
  ASSERT_EQ(Writer(d / ".backup.zip", d / "src").zip.Compress(), 1);
  std::filesystem::permissions(d / ".backup.zip", std::filesystem::perms::owner_read);
  const auto before = Slurp(d / ".backup.zip");
  Put(d / "src/b.txt", "bbb");
  {
    Writer w(d / ".backup.zip", d / "src");
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_EVENT_NOT_ASSIGNED));
    w.zip.OnNonWriteableArchive = [](TObject*, const std::string&, bool& write) { write = false; };
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(Slurp(d / ".backup.zip") == before);
  }
  Writer w(d / ".backup.zip", d / "src");
  std::string asked;
  w.zip.OnNonWriteableArchive = [&](TObject*, const std::string& archive, bool& write) {
    asked = archive;
    write = true;
  };
  EXPECT_EQ(w.zip.Compress(), 1);
  EXPECT_EQ(asked, d / ".backup.zip");
  EXPECT_EQ(EntriesOf(d / ".backup.zip").size(), 2u);
  EXPECT_EQ(Shell("unzip -tq '" + (d / ".backup.zip") + "'"), 0);
}

TEST(WriterUpdate, AFileThatIsNotAZipIsNeverReplaced) {
  Folder d;
  Put(d / "src/a.txt", "a");
  Put(d / "out.zip", "this is somebody's text file, not an archive");
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 0);
  EXPECT_TRUE(w.Reported(E_UNSUPPORTED_TYPE));
  EXPECT_EQ(Slurp(d / "out.zip"), "this is somebody's text file, not an archive");
}

TEST(WriterUpdate, DeleteShiftsOffsetsAndDeletingAllLeavesABareEndRecord) {
  Folder d;
  Put(d / "src/a.txt", Text(3000));
  Put(d / "src/b.log", Text(4000));
  Put(d / "src/c.txt", Text(5000));
  {
    Writer w(d / "out.zip", d / "src");
    ASSERT_EQ(w.zip.Compress(), 3);
  }
  {
    Writer w(d / "out.zip");
    w.zip.FileSpec().Add("*.log");
    w.zip.SetSwitch(swDelete);
    int deleted = 0;
    w.zip.OnDeleteFile = [&](TObject*, const std::string& f, int32_t, int32_t) {
      EXPECT_EQ(f, "b.log");
      ++deleted;
    };
    EXPECT_EQ(w.zip.Compress(), 1);
    EXPECT_EQ(deleted, 1);
    const auto es = EntriesOf(d / "out.zip");
    ASSERT_EQ(es.size(), 2u);
    // The entries after the deleted one moved down: the archive starts with an entry and every
    // offset points at its local header.
    EXPECT_EQ(std::min(es[0].central.LocalHeaderOffset, es[1].central.LocalHeaderOffset), 0u);
    EXPECT_EQ(Shell("unzip -tq '" + (d / "out.zip") + "'"), 0);
  }
  {
    Writer w(d / "out.zip");
    w.zip.FileSpec().Add("*.*");
    w.zip.SetSwitch(swDelete);
    EXPECT_EQ(w.zip.Compress(), 2);
    EXPECT_EQ(Slurp(d / "out.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  }
  // The bare end record is an archive that can be added to again.
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 3);
  EXPECT_EQ(EntriesOf(d / "out.zip").size(), 3u);
}

TEST(WriterUpdate, MoveDeletesTheSourcesOnlyAfterTheArchiveIsInPlace) {
  for (bool verify : {false, true}) {
    Folder d;
    Put(d / "src/a.txt", "a");
    Put(d / "src/sub/b.txt", "b");
    Writer w(d / "out.zip", d / "src");
    w.zip.SetSwitch(swMove);
    w.zip.SetDeleteOptions(doFinal);
    w.zip.SetVerifyBeforeDelete(verify);
    std::vector<std::string> deleted;
    w.zip.OnDeleteFile = [&](TObject*, const std::string& f, int32_t, int32_t) {
      EXPECT_TRUE(std::filesystem::exists(d / "out.zip"));
      deleted.push_back(f);
    };
    EXPECT_EQ(w.zip.Compress(), 2);
    EXPECT_EQ(deleted.size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(d / "src/a.txt"));
    EXPECT_FALSE(std::filesystem::exists(d / "src/sub/b.txt"));
    EXPECT_EQ(EntriesOf(d / "out.zip").size(), 2u);
  }
}

TEST(WriterUpdate, ReadListsEveryEntryAndAddsNothing) {
  Folder d;
  MakeBase(d);
  const auto before = Slurp(d / "out.zip");
  Writer w(d / "out.zip");
  w.zip.SetSwitch(swRead);
  std::vector<std::string> names;
  w.zip.OnRead = [&](TObject*, int32_t, int32_t n) { names.push_back(w.zip.CurrentFileName() + std::to_string(n)); };
  EXPECT_EQ(w.zip.Compress(), 0);
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].substr(0, 5), "a.txt");
  EXPECT_EQ(names[1].substr(0, 9), "sub/b.txt");
  EXPECT_NE(names[0].back(), names[1].back());
  EXPECT_EQ(Slurp(d / "out.zip"), before);
  Writer w2(d / "out.zip");
  w2.zip.SetSwitch(swRead);
  EXPECT_EQ(w2.zip.Compress(), 0);
  EXPECT_TRUE(w2.Reported(E_EVENT_NOT_ASSIGNED));
}

TEST(WriterUpdate, CommentsAreSetCommittedAndKeptThroughUpdates) {
  Folder d;
  MakeBase(d);
  {
    TZip zip;
    zip.SetArchiveFile(d / "out.zip");
    ASSERT_EQ(zip.OpenArchiveDirectory(), 2);
    zip.SetZipComment("archive note");
    std::string name, text;
    for (int32_t i = 0; i < 2; ++i)
      if (zip.GetFileComment(i, name, text) && name == "sub/b.txt") zip.SetFileComment(i, "entry note");
    zip.CommitComments();
  }
  Put(d / "src/c.txt", "c");
  Writer w(d / "out.zip", d / "src");
  EXPECT_EQ(w.zip.Compress(), 1);
  TZip zip;
  zip.SetArchiveFile(d / "out.zip");
  ASSERT_EQ(zip.OpenArchiveDirectory(), 3);
  std::string text, name;
  zip.GetZipComment(text);
  EXPECT_EQ(text, "archive note");
  int found = 0;
  for (int32_t i = 0; i < 3; ++i) {
    zip.GetFileComment(i, name, text);
    if (name == "sub/b.txt") {
      EXPECT_EQ(text, "entry note");
      ++found;
    } else {
      EXPECT_EQ(text, "");
    }
  }
  EXPECT_EQ(found, 1);
  // The same text again is no change: nothing is rewritten.
  const auto before = Slurp(d / "out.zip");
  zip.SetZipComment("archive note");
  zip.CommitComments();
  EXPECT_EQ(Slurp(d / "out.zip"), before);
  EXPECT_EQ(Shell("unzip -tq '" + (d / "out.zip") + "'"), 0);
}


// The programs' answers: a changed file replaces its entry, an unchanged one keeps it.
void ProgramAnswers(TZip& zip) {
  zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                         int32_t, int32_t, bool& replace) { replace = true; };
  zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
}

// Adds one new file to the archive and checks that every entry Python listed before is still
// there with its CRC, that the new one came, and that the peers accept the result.
void ExpectUpdateKeepsEverything(const Folder& d, const std::string& archive, Writer& w) {
  const auto before = PeerCrcs(archive);
  ASSERT_FALSE(before.empty()) << archive;
  Put(d / "new/added.txt", "the new file");
  w.zip.FileSpec().Clear();
  w.zip.FileSpec().Add(d / "new/*.*");
  EXPECT_EQ(w.zip.Compress(), 1) << archive;
  const auto after = PeerCrcs(archive);
  for (const auto& [name, crc] : before) {
    ASSERT_EQ(after.count(name), 1u) << name;
    EXPECT_EQ(after.at(name), crc) << name;
  }
  EXPECT_EQ(after.size(), before.size() + 1);
  EXPECT_EQ(after.count("added.txt"), 1u);
  ExpectPeersAccept(archive);
}

TEST(WriterUpdate, NamesThatDifferOnlyInCaseAreDifferentFiles) {
  Folder d;
  Put(d / "src/A.txt", "upper first");
  Put(d / "src/a.txt", "lower first");
  {
    Writer w(d / "out.zip", d / "src");
    ASSERT_EQ(w.zip.Compress(), 2);
  }
  Put(d / "src/A.txt", "upper, changed");
  Put(d / "src/a.txt", "lower, changed too");
  {
    Writer w(d / "out.zip", d / "src");
    ProgramAnswers(w.zip);
    EXPECT_EQ(w.zip.Compress(), 2);
    const auto es = EntriesOf(d / "out.zip");
    ASSERT_EQ(es.size(), 2u);
    ASSERT_NE(Find(es, "A.txt"), nullptr);
    ASSERT_NE(Find(es, "a.txt"), nullptr);
    EXPECT_EQ(Find(es, "A.txt")->central.UnpackedSize, 14u);
    EXPECT_EQ(Find(es, "a.txt")->central.UnpackedSize, 18u);
    EXPECT_EQ(Shell("unzip -tq " + Q(d / "out.zip")), 0);
  }
  // A dupe renamed to its own name in other letters is a new name.
  {
    Put(d / "src/a.txt", "lower, changed too");
    Writer w(d / "out.zip", d / "src");
    w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t,
                             int64_t, int32_t, int32_t, bool& replace) { replace = false; };
    w.zip.OnRenameDupeFile = [](TObject*, const std::string& f, std::string& n, bool& rename) {
      rename = f == "a.txt";
      n = "a.TXT";
    };
    w.zip.Compress();
    const auto es = EntriesOf(d / "out.zip");
    EXPECT_NE(Find(es, "a.TXT"), nullptr);
    EXPECT_NE(Find(es, "a.txt"), nullptr);
  }
  // Two folders whose names differ only in case do not share one stored name.
  Put(d / "two/Docs/x.txt", "from Docs");
  Put(d / "two/docs/x.txt", "from docs");
  {
    Writer w(d / "two.zip");
    w.zip.FileSpec().Add(d / "two/Docs/*.*");
    w.zip.FileSpec().Add(d / "two/docs/*.*");
    w.zip.SetStoredDirNames(sdExplorer_Auto);
    EXPECT_EQ(w.zip.Compress(), 2);
    const auto es = EntriesOf(d / "two.zip");
    EXPECT_NE(Find(es, "Docs/x.txt"), nullptr);
    EXPECT_NE(Find(es, "docs/x.txt"), nullptr);
  }
  // The reader, told to write to a name that differs from an existing file only in case,
  // writes a new file and leaves the existing one alone.
  Put(d / "one/a.txt", "lower, changed too");
  {
    Writer w(d / "one.zip", d / "one");
    ASSERT_EQ(w.zip.Compress(), 1);
  }
  Put(d / "ex/a.txt", "already here");
  unzipfixture::Reader r(d / "one.zip", d / "ex");
  r.unzip.SetConfirmOverwrites(true);
  r.unzip.OnFileExists = [&](TObject*, const std::string& f, std::string& n, TOverwriteMode& mode) {
    n = f.ends_with("a.txt") ? FolderPart(f) + "A.txt" : f;
    mode = omOverwrite;
  };
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "ex/a.txt"), "already here");
  EXPECT_EQ(Slurp(d / "ex/A.txt"), "lower, changed too");
}

// Guards an "add" run over names that the reader lists and the writer read otherwise: Info-ZIP
// on Linux stores UTF-8 names without flag bit 11, and Info-ZIP on Windows gives a name its code
// page cannot hold in a Unicode Path block (0x7075) beside an ASCII stand-in. The run did not
// find the user's file among the stored entries: it stored a second entry of the listed name,
// and the old one was never replaced. A block whose CRC is not that of the header's name
// belongs to another name and is not taken, by the peers either.
TEST(WriterUpdate, AnAddRunFindsEntriesUnderTheNamesTheReaderLists) {
  if (!unzipfixture::HaveTool("zip")) GTEST_SKIP() << "zip not available";
  // What the reader extracts, by name, and how many files it lists.
  auto extracted = [](const Folder& d, const std::string& archive, size_t& listed) {
    listed = readerlisting::List(archive, d / "never").size();
    std::filesystem::remove_all(d / "out");
    unzipfixture::Reader r(archive, d / "out");
    r.unzip.Extract();
    EXPECT_TRUE(r.errors.empty());
    return unzipfixture::Tree(d / "out");
  };
  Folder d;
  const std::string report = "Документы/Отчёт №1.txt";
  const std::string japanese = "日本語.txt";
  Put(d / ("src/" + report), "old report");
  Put(d / ("src/" + japanese), "old");
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && LC_ALL=C.UTF-8 zip -q -r ../iz.zip ."), 0);
  Put(d / ("src/" + report), "the report of today");
  Put(d / ("src/" + japanese), "new, and longer");
  {
    Writer w(d / "iz.zip", d / "src");
    ProgramAnswers(w.zip);
    EXPECT_EQ(w.zip.Compress(), 2);
    EXPECT_TRUE(w.errors.empty());
  }
  ExpectPeersAccept(d / "iz.zip");
  size_t listed = 0;
  auto out = extracted(d, d / "iz.zip", listed);
  EXPECT_EQ(listed, 2u);
  EXPECT_EQ(EntriesOf(d / "iz.zip").size(), 3u);  // with the folder's own entry
  EXPECT_EQ(out, (std::map<std::string, std::string>{{report, "the report of today"}, {japanese, "new, and longer"}}));

  const std::string standIn = "#U0442#U0435#U0441#U0442.txt";
  Put(d / "make.py",
      "import sys,struct,zipfile,zlib\n"
      "name=sys.argv[2]; crc=zlib.crc32(name.encode())^int(sys.argv[3])\n"
      "data=b'\\x01'+struct.pack('<I',crc)+'тест.txt'.encode()\n"
      "zi=zipfile.ZipInfo(name); zi.extra=struct.pack('<HH',0x7075,len(data))+data\n"
      "with zipfile.ZipFile(sys.argv[1],'w') as z: z.writestr(zi,b'old data')\n");
  Put(d / "new/тест.txt", "new data");
  for (const bool crcMatches : {true, false}) {
    SCOPED_TRACE(crcMatches ? "CRC matches" : "CRC of another name");
    const std::string archive = d / (crcMatches ? "good.zip" : "stale.zip");
    ASSERT_EQ(Shell("python3 " + Q(d / "make.py") + " " + Q(archive) + " " + Q(standIn) + (crcMatches ? " 0" : " 1")),
              0);
    EXPECT_EQ(Shell("unzip -Z1 " + Q(archive) + " | grep -qxF " + Q(crcMatches ? "тест.txt" : standIn)), 0);
    Writer w(archive, d / "new");
    ProgramAnswers(w.zip);
    EXPECT_EQ(w.zip.Compress(), 1);
    EXPECT_TRUE(w.errors.empty());
    ExpectPeersAccept(archive);
    out = extracted(d, archive, listed);
    if (crcMatches) {
      EXPECT_EQ(listed, 1u);
      EXPECT_EQ(out, (std::map<std::string, std::string>{{"тест.txt", "new data"}}));
    } else {
      EXPECT_EQ(listed, 2u);
      EXPECT_EQ(out, (std::map<std::string, std::string>{{standIn, "old data"}, {"тест.txt", "new data"}}));
    }
  }
}

TEST(WriterUpdate, AnArchiveBehindAPrefixKeepsEveryEntryAndThePrefix) {
  for (const std::string& prefix : {std::string("#!/bin/sh\necho an installer\nexit 0\n"),
                                    std::string("MZ") + Random(3000, 11)}) {
    Folder d;
    Put(d / "src/a.txt", Text(3000));
    Put(d / "src/sub/b.bin", Random(5000, 2));
    ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -qr " + Q(d / "plain.zip") + " ."), 0);
    Put(d / "out.zip", prefix + Slurp(d / "plain.zip"));
    Writer w(d / "out.zip");
    ExpectUpdateKeepsEverything(d, d / "out.zip", w);
    EXPECT_EQ(Slurp(d / "out.zip").substr(0, prefix.size()), prefix);
    // A comment is written into it soundly too.
    const auto entries = PeerCrcs(d / "out.zip");
    TZip zip;
    zip.SetArchiveFile(d / "out.zip");
    ASSERT_EQ(zip.OpenArchiveDirectory(), static_cast<int32_t>(entries.size()));
    zip.SetZipComment("note");
    zip.CommitComments();
    EXPECT_EQ(PeerCrcs(d / "out.zip"), entries);
    EXPECT_EQ(Shell("unzip -tq " + Q(d / "out.zip")), 0);
    EXPECT_EQ(Slurp(d / "out.zip").substr(0, prefix.size()), prefix);
  }
}

// Archives of other tools behind a prefix whose length their offsets do not count: a shell
// script, Info-ZIP's self-extractor (its offsets fixed up by zip -A or not), junk. The Zip64
// ones were lost: their directory was looked for where the 22-byte end record says, 76 bytes
// past the Zip64 records, so the reader reported a missing directory and the writer refused the
// archive as one whose end record counts no entries. Each is read whole, and updated whole.
TEST(WriterUpdate, ArchivesBehindAPrefixAreReadAndUpdatedWhole) {
  if (!unzipfixture::HaveTool("zip") || !unzipfixture::HaveTool("unzipsfx")) GTEST_SKIP() << "Info-ZIP missing";
  Folder d;
  Put(d / "src/a.txt", "alpha file\n");
  Put(d / "src/b.bin", Random(5000, 9));
  // Python writes Zip64 fields and 64-bit data descriptors to a stream it cannot seek.
  Put(d / "pipe64.py",
      "import sys,zipfile\n"
      "class Pipe:\n"
      "  def __init__(s, f): s.f = f\n"
      "  def write(s, b): return s.f.write(b)\n"
      "  def flush(s): s.f.flush()\n"
      "z = zipfile.ZipFile(Pipe(open(sys.argv[1], 'wb')), 'w', zipfile.ZIP_DEFLATED)\n"
      "for n in ('a.txt', 'b.bin'):\n"
      "  with z.open(n, 'w', force_zip64=True) as w: w.write(open(n, 'rb').read())\n"
      "z.close()\n");
  struct Maker {
    std::string what;
    std::string command;
    bool zip64End;  // zip -A cannot fix the offsets of a Zip64 end record
  };
  const std::vector<Maker> makers = {
      {"zip", "zip -q ../x.zip a.txt b.bin", false},
      {"zip -fz", "zip -q -fz ../x.zip a.txt b.bin", true},
      {"zip -fd", "zip -q -fd ../x.zip a.txt b.bin", false},
      {"Zip64 with descriptors", "python3 ../pipe64.py ../x.zip", false},
  };
  struct Prefix {
    std::string what;
    std::string bytes;
    bool fixOffsets;
  };
  const std::vector<Prefix> prefixes = {
      {"a 27-byte script", std::string("#!/bin/sh\nexit 0 # archive\n"), false},
      {"Info-ZIP's self-extractor", Slurp("/usr/bin/unzipsfx"), false},
      {"Info-ZIP's self-extractor after zip -A", Slurp("/usr/bin/unzipsfx"), true},
      {"5,000 bytes of junk", Random(5000, 27), false},
  };
  ASSERT_EQ(prefixes[0].bytes.size(), 27u);
  for (const Maker& maker : makers) {
    for (const Prefix& prefix : prefixes) {
      if (prefix.fixOffsets && maker.zip64End) continue;
      SCOPED_TRACE(maker.what + " behind " + prefix.what);
      Folder t;
      ASSERT_EQ(Shell("rm -f " + Q(d / "x.zip") + " && cd " + Q(d / "src") + " && " + maker.command), 0);
      const std::string archive = t / "x.zip";
      Put(archive, prefix.bytes + Slurp(d / "x.zip"));
      if (prefix.fixOffsets) {
        ASSERT_EQ(Shell("zip -qA " + Q(archive)), 0);
      }
      {
        unzipfixture::Reader r(archive, t / "out");
        EXPECT_EQ(r.unzip.Extract(), 2);
        EXPECT_TRUE(r.errors.empty()) << r.errors.front().ext;
        EXPECT_EQ(unzipfixture::Tree(t / "out"), unzipfixture::Tree(d / "src"));
      }
      Put(t / "new/added.txt", "the new file");
      Writer w(archive, t / "new");
      EXPECT_EQ(w.zip.Compress(), 1);
      EXPECT_TRUE(w.errors.empty()) << w.errors.front().ext;
      unzipfixture::Reader r(archive, t / "again");
      r.unzip.Extract();
      EXPECT_TRUE(r.errors.empty());
      auto expected = unzipfixture::Tree(d / "src");
      expected["added.txt"] = "the new file";
      EXPECT_EQ(unzipfixture::Tree(t / "again"), expected);
      if (&prefix == &prefixes.back()) {
        ExpectPeersAccept(archive);
      } else {
        EXPECT_EQ(Shell("unzip -tq " + Q(archive)), 0);
      }
    }
  }
}

TEST(WriterUpdate, ANameOfLengthZeroDoesNotEndTheDirectory) {
  Folder d;
  using unzipfixture::Stored;
  zipfixture::WriteAll(d / "out.zip", unzipfixture::Build({Stored("a.txt", "first"), Stored("", "nameless"),
                                                           Stored("c.txt", "after it")}));
  Writer w(d / "out.zip");
  Put(d / "new/added.txt", "new");
  w.zip.FileSpec().Add(d / "new/*.*");
  EXPECT_EQ(w.zip.Compress(), 1);
  const auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 4u);
  EXPECT_EQ(Find(es, "")->central.Crc32, unzipfixture::Crc("nameless"));
  EXPECT_EQ(Find(es, "c.txt")->central.Crc32, unzipfixture::Crc("after it"));
  EXPECT_NE(Find(es, "added.txt"), nullptr);
}

// Sizes a kept entry but copies nothing: the run stops at the first kept entry, so a crafted
// archive of more than 4 GiB (a sparse file) costs no disk space.
class MeasuringZip : public TZip {
 public:
  std::vector<int64_t> counts;
  int64_t ReadLocalHeader(TStream32& Input, TStream32& Output, std::array<uint8_t, 46>& RawHeader) override {
    counts.push_back(TZip::ReadLocalHeader(Input, Output, RawHeader));
    return 0;
  }
};

TEST(WriterUpdate, AnEntryPackedPast4GiBIsSizedWhole) {
  constexpr int64_t k4GiB = int64_t{1} << 32;
  Folder d;
  // big.bin: an encrypted stored entry of 4 GiB - 6 bytes, so 4 GiB + 6 packed; its local header
  // has only the low word of the packed size, as the writer used to write it. Then z.txt.
  const std::string bigName = "big.bin";
  const int64_t packed = k4GiB + 6;
  TLocalHeader l;
  l.VersionNeeded = 20;
  l.Flags = 1;
  l.Crc32 = 0x12345678;
  l.PackedSize = static_cast<uint32_t>(packed);
  l.UnpackedSize = static_cast<uint32_t>(k4GiB - 6);
  l.NameLength = static_cast<uint16_t>(bigName.size());
  std::vector<uint8_t> head;
  auto append = [](std::vector<uint8_t>& to, const auto& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); };
  append(head, l.Encode());
  append(head, bigName);
  const int64_t zAt = static_cast<int64_t>(head.size()) + packed;
  const auto z = unzipfixture::Stored("z.txt", "after the big one");
  std::vector<uint8_t> tail;
  TLocalHeader zl;
  zl.VersionNeeded = 20;
  zl.Crc32 = z.crc;
  zl.PackedSize = zl.UnpackedSize = z.unpacked;
  zl.NameLength = 5;
  append(tail, zl.Encode());
  append(tail, z.name);
  append(tail, z.data);
  const int64_t dirAt = zAt + static_cast<int64_t>(tail.size());
  TCentralHeader c;
  c.VersionMadeBy = c.VersionNeeded = 20;
  c.Flags = 1;
  c.Crc32 = l.Crc32;
  c.PackedSize = l.PackedSize;
  c.UnpackedSize = l.UnpackedSize;
  c.NameLength = l.NameLength;
  c.ExtraLength = 10;
  c.ExternalAttributes = 0x20;
  append(tail, c.Encode());
  append(tail, bigName);
  TZip64Extra x;
  x.PackedHigh = 1;
  append(tail, x.EncodeCentral());
  TCentralHeader zc;
  zc.VersionMadeBy = zc.VersionNeeded = 20;
  zc.Crc32 = z.crc;
  zc.PackedSize = zc.UnpackedSize = z.unpacked;
  zc.NameLength = 5;
  zc.ExtraLength = 10;
  zc.ExternalAttributes = 0x20;
  zc.LocalHeaderOffset = static_cast<uint32_t>(zAt);
  append(tail, zc.Encode());
  append(tail, z.name);
  TZip64Extra zx;
  zx.OffsetHigh = 1;
  append(tail, zx.EncodeCentral());
  TLargeEndRecord end;
  end.EntriesOnDisk = end.TotalEntries = 2;
  end.DirectorySize = static_cast<uint32_t>(dirAt > 0 ? static_cast<int64_t>(tail.size()) - (dirAt - zAt) : 0);
  end.DirectoryOffset = static_cast<uint64_t>(dirAt);
  append(tail, end.Encode());
  {
    std::ofstream out(d / "out.zip", std::ios::binary);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    out.seekp(static_cast<std::streamoff>(zAt));
    out.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
  }
  MeasuringZip zip;
  zip.SetArchiveFile(d / "out.zip");
  Put(d / "new/added.txt", "new");
  zip.FileSpec().Add(d / "new/*.*");
  EXPECT_EQ(zip.Compress(), 0);
  ASSERT_FALSE(zip.counts.empty());
  EXPECT_EQ(zip.counts[0], 30 + static_cast<int64_t>(bigName.size()) + packed);

  // A new entry that packs past 4 GiB gets the high word in its local header too. It writes
  // more than 4 GiB, so it runs only when asked for.
  if (std::getenv("TARVELO_LARGE_TESTS") == nullptr)
    GTEST_SKIP() << "writes more than 4 GiB: set TARVELO_LARGE_TESTS=1 to run it";
  Folder big;
  Put(big / "src/big.img", "");
  std::filesystem::resize_file(big / "src/big.img", static_cast<uintmax_t>(k4GiB - 6));
  Writer w(big / "big.zip", big / "src");
  w.zip.SetDeflateType(dtDeflateS);
  w.zip.SetPassword("secret");
  w.zip.SetTempDir(big.Path());
  ASSERT_EQ(w.zip.Compress(), 1);
  std::ifstream in(big / "big.zip", std::ios::binary);
  std::vector<uint8_t> local(30 + 7 + 8);
  in.read(reinterpret_cast<char*>(local.data()), static_cast<std::streamsize>(local.size()));
  const auto bl = TLocalHeader::Decode(local.data(), 30);
  ASSERT_TRUE(bl);
  ASSERT_EQ(bl->ExtraLength, 8);
  const auto bx = TZip64Extra::DecodeLocal(local.data() + 37, 8);
  ASSERT_TRUE(bx);
  EXPECT_EQ(bx->PackedHigh, 1);
  EXPECT_EQ(bl->PackedSize, 6u);
}

TEST(WriterUpdate, StandardZip64SizesOfOtherToolsAreKept) {
  Folder d;
  Put(d / "src/small.txt", "small");
  Put(d / "src/text.txt", Text(20000));
  // Python with force_zip64, zip -fz, zip reading standard input, and the reference archives.
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && python3 -c \"import zipfile\nwith zipfile.ZipFile('" + (d / "py.zip") +
                  "', 'w', zipfile.ZIP_DEFLATED) as z:\n  for n in ('small.txt', 'text.txt'):\n    with z.open(n, 'w', "
                  "force_zip64=True) as f: f.write(open(n, 'rb').read())\""),
            0);
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q -fz " + Q(d / "fz.zip") + " small.txt text.txt"), 0);
  ASSERT_EQ(Shell("sh -c " + Q("cd " + d / "src" + " && zip -q - - < text.txt > " + d / "stdin.zip")), 0);
  std::vector<std::string> archives = {d / "py.zip", d / "fz.zip", d / "stdin.zip"};
  for (const char* ref : {"generated/zip64-infozip-fz.zip", "external/libarchive/test_read_format_zip_zip64a.zip",
                          "external/libarchive/test_read_format_zip_zip64b.zip"}) {
    const std::string copy = d / (std::string("ref") + std::to_string(archives.size()) + ".zip");
    Put(copy, Slurp(kReference + ref));
    archives.push_back(copy);
  }
  for (const auto& archive : archives) {
    Writer w(archive);
    ExpectUpdateKeepsEverything(d, archive, w);
    EXPECT_TRUE(w.errors.empty()) << archive << " " << (w.errors.empty() ? 0 : w.errors[0].code);
  }
}

TEST(WriterUpdate, ARenamedEntryKeepsItsDataDescriptor) {
  Folder d;
  Put(d / "out.zip", Slurp(kReference + "generated/datadesc-infozip-pipe.zip"));
  const auto before = PeerCrcs(d / "out.zip");
  ASSERT_EQ(before.count("small.txt"), 1u);
  Put(d / "src/small.txt", "the file of that name on disk now");
  Writer w(d / "out.zip", d / "src");
  w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t, int64_t,
                           int32_t, int32_t, bool& replace) { replace = false; };
  w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string& n, bool& rename) {
    rename = true;
    n = "small-old.txt";
  };
  EXPECT_EQ(w.zip.Compress(), 1);
  const auto after = PeerCrcs(d / "out.zip");
  ASSERT_EQ(after.count("small-old.txt"), 1u);
  EXPECT_EQ(after.at("small-old.txt"), before.at("small.txt"));
  EXPECT_EQ(after.at("text.txt"), before.at("text.txt"));
  ExpectPeersAccept(d / "out.zip");
}

TEST(WriterUpdate, ACommentOnAnArchiveWithoutEntriesKeepsItAnArchive) {
  Folder d;
  const std::string empty = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  Put(d / "out.zip", empty);
  TZip zip;
  zip.SetArchiveFile(d / "out.zip");
  EXPECT_EQ(zip.OpenArchiveDirectory(), 0);
  zip.SetZipComment("nothing here yet");
  zip.CommitComments();
  const std::string now = Slurp(d / "out.zip");
  ASSERT_EQ(now.size(), 22u + 16u);
  EXPECT_EQ(GetLE16(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(now.data()), now.size()), 20), 16);
  EXPECT_EQ(now.substr(22), "nothing here yet");
  EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                  "sys.exit(z.comment != b'nothing here yet' or len(z.infolist()) != 0)\" " +
                  Q(d / "out.zip")),
            0);
}

TEST(WriterUpdate, ASplitSetIsUpdatedThroughItsVolumes) {
  for (const std::string& set : {std::string("generated/split-infozip-64k"),
                                 std::string("external/sharpcompress/split-infozip/Infozip.nocomp.multi")}) {
    Folder d;
    std::vector<std::string> parts;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(kReference + set).parent_path()))
      if (e.path().stem() == std::filesystem::path(set).filename()) parts.push_back(e.path().filename());
    for (const auto& p : parts) Put(d / p, Slurp(std::filesystem::path(kReference + set).parent_path() / p));
    const std::string last = d / (std::filesystem::path(set).filename().string() + ".zip");
    const auto before = PeerCrcs(last);  // Python reads the last part's directory only
    // Without OnNextVolume the set cannot be read: refused, nothing changed.
    {
      const std::string bytes = Slurp(last);
      Writer w(last);
      Put(d / "new/added.txt", "new");
      w.zip.FileSpec().Add(d / "new/*.*");
      EXPECT_EQ(w.zip.Compress(), 0);
      EXPECT_TRUE(w.Reported(E_EVENT_NOT_ASSIGNED));
      EXPECT_EQ(Slurp(last), bytes);
    }
    Writer w(last);
    std::vector<std::string> asked;
    w.zip.OnNextVolume = [&](TObject*, std::string& name, const std::string&, bool, bool&) { asked.push_back(name); };
    Put(d / "new/added.txt", "new");
    w.zip.FileSpec().Add(d / "new/*.*");
    EXPECT_EQ(w.zip.Compress(), 1);
    EXPECT_EQ(asked.size(), parts.size() - 1);
    const auto after = PeerCrcs(last);
    EXPECT_EQ(after.size(), before.size() + 1);
    for (const auto& [name, crc] : before) EXPECT_EQ(after.count(name) ? after.at(name) : 0u, crc) << name;
    ExpectPeersAccept(last);
    // One archive now, not a part of a set: it starts with its first entry.
    EXPECT_EQ(Slurp(last).substr(0, 4), std::string("PK\x03\x04", 4));
  }
}

// Entries without a directory are listed by their local headers (swRead), as the reader finds
// them; the reader reports such an archive damaged, so no update, delete or comment edit may
// make it pass for a whole one.
TEST(WriterUpdate, EntriesWithoutADirectoryAreFoundByTheirLocalHeaders) {
  Folder d;
  using unzipfixture::Stored;
  const auto cut = unzipfixture::Build({Stored("a.txt", "first"), Stored("sub/b.txt", Text(4000))}, false);
  zipfixture::WriteAll(d / "out.zip", cut);
  {
    Writer w(d / "out.zip");
    std::vector<std::string> read;
    w.zip.SetSwitch(swRead);
    w.zip.OnRead = [&](TObject*, int32_t, int32_t) { read.push_back(w.zip.CurrentFileName()); };
    w.zip.FileSpec().Add("*.*");
    w.zip.Compress();
    EXPECT_EQ(read, (std::vector<std::string>{"a.txt", "sub/b.txt"}));
  }
  Put(d / "new/added.txt", "new");
  for (const TSwitch run : {swAdd, swDelete}) {
    Writer w(d / "out.zip");
    w.zip.SetSwitch(run);
    w.zip.FileSpec().Add(run == swAdd ? d / "new/*.*" : "a.txt");
    EXPECT_EQ(w.zip.Compress(), 0);
    ASSERT_FALSE(w.errors.empty());
    EXPECT_EQ(w.errors.back().ext, "the archive's central directory is missing");
    EXPECT_EQ(zipfixture::ReadAll(d / "out.zip"), cut);
  }
  TZip zip;
  zip.SetArchiveFile(d / "out.zip");
  EXPECT_EQ(zip.OpenArchiveDirectory(), 0);
  zip.SetZipComment("found again");
  zip.CommitComments();
  EXPECT_EQ(zipfixture::ReadAll(d / "out.zip"), cut);
}

TEST(WriterUpdate, ListEntriesGivesTotalsAndTheNewEntries) {
  Folder d;
  MakeBase(d);
  Put(d / "src/c.txt", Text(9000));
  std::filesystem::create_directories(d / "src/empty");
  Writer w(d / "out.zip", d / "src");
  w.zip.SetStoreEmptySubDirs(true);
  std::vector<TCompEntryInfo> seen;
  w.zip.OnRead = [&](TObject*, int32_t, int32_t) { seen.push_back(w.zip.EntryInfo); };
  EXPECT_EQ(w.zip.Compress(), 2);
  int64_t packed = 0, unpacked = 0;
  for (const auto& e : EntriesOf(d / "out.zip")) {
    packed += e.central.PackedSize;
    unpacked += e.central.UnpackedSize;
  }
  EXPECT_EQ(w.zip.PackedTotal, packed);
  EXPECT_EQ(w.zip.UnpackedTotal, unpacked);
  ASSERT_EQ(seen.size(), 2u);
  const auto& c = seen[0].FileName == "c.txt" ? seen[0] : seen[1];
  const auto& f = seen[0].FileName == "c.txt" ? seen[1] : seen[0];
  EXPECT_EQ(c.FileName, "c.txt");
  EXPECT_EQ(c.UnpackedSize, 9000);
  EXPECT_EQ(c.Crc, unzipfixture::Crc(Text(9000)));
  EXPECT_EQ(c.Method, 8);
  EXPECT_EQ(c.MethodName, "DeflateN");
  EXPECT_FALSE(c.Encrypted);
  EXPECT_EQ(c.Ratio, PercentLeft(9000, c.PackedSize));
  EXPECT_GT(c.Ratio, 50);
  EXPECT_GT(c.Date, 40000.0);
  EXPECT_EQ(c.VersionNeeded, 20);
  EXPECT_EQ(f.FileName, "empty/");
  // Without OnRead the totals still cover every entry.
  Put(d / "src/d.txt", "d");
  Writer w2(d / "out.zip", d / "src");
  EXPECT_EQ(w2.zip.Compress(), 1);
  EXPECT_EQ(w2.zip.UnpackedTotal, unpacked + 1);
}

TEST(WriterUpdate, TheArchiveKindIsFoundWhenTheRunOpensIt) {
  Folder d;
  MakeBase(d);
  const std::string prefix = std::string("MZ") + Random(2000, 5);
  // Set while the archive is absent; it appears, behind a program, before the run.
  Writer w(d / "later.zip");
  Put(d / "later.zip", prefix + Slurp(d / "out.zip"));
  Writer other(d / "later.zip");
  EXPECT_EQ(other.zip.ArcType(), atZip);  // nothing is detected when the name is set
  Put(d / "new/added.txt", "new");
  w.zip.FileSpec().Add(d / "new/*.*");
  EXPECT_EQ(w.zip.Compress(), 1);
  EXPECT_EQ(w.zip.ArcType(), atZipExe);
  EXPECT_EQ(PeerCrcs(d / "later.zip").size(), 3u);
  // The same component on a plain archive next time.
  w.zip.SetArchiveFile(d / "out.zip");
  Put(d / "new/more.txt", "more");
  EXPECT_EQ(w.zip.Compress(), 2);
  EXPECT_EQ(w.zip.ArcType(), atZip);
}

// --- archives that the writer and the reader could read differently ---------------------------

using readerlisting::Listing;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { PutLE16(std::span<uint8_t>(b), at, v); }
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { PutLE32(std::span<uint8_t>(b), at, v); }
void Append(std::vector<uint8_t>& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
template <size_t N>
void Append(std::vector<uint8_t>& b, const std::array<uint8_t, N>& a) {
  b.insert(b.end(), a.begin(), a.end());
}

// Position of the n-th record with the given signature.
size_t RecordAt(const std::vector<uint8_t>& b, uint32_t signature, int n = 0) {
  for (size_t i = 0; i + 4 <= b.size(); ++i)
    if (GetLE32(std::span<const uint8_t>(b), i) == signature && n-- == 0) return i;
  ADD_FAILURE() << "no such record";
  return 0;
}

std::vector<uint8_t> TwoRecordsOverOneHeader() {
  using unzipfixture::Stored;
  auto b = unzipfixture::Build({Stored("a.txt", "first"), Stored("a.txt", "frist")});
  Put32(b, RecordAt(b, kCentralHeaderSignature, 1) + 42, 0);
  return b;
}

// Puts a Zip64 end record and its locator before the end record, with the given entry count
// and, when not 0, directory size; the 22-byte record's directory size then counts the 76
// bytes of the two.
std::vector<uint8_t> WithZip64End(std::vector<uint8_t> b, uint64_t Entries, uint64_t DirSize) {
  const size_t end = RecordAt(b, kEndRecordSignature);
  const uint32_t dirOffset = GetLE32(std::span<const uint8_t>(b), end + 16);
  const uint32_t dirSize = GetLE32(std::span<const uint8_t>(b), end + 12);
  std::vector<uint8_t> z64(56 + 20, 0);
  Put32(z64, 0, kZip64EndRecordSignature);
  Put32(z64, 4, 44);
  Put16(z64, 12, 45);
  Put16(z64, 14, 45);
  PutLE64(std::span<uint8_t>(z64), 24, Entries);
  PutLE64(std::span<uint8_t>(z64), 32, Entries);
  PutLE64(std::span<uint8_t>(z64), 40, DirSize != 0 ? DirSize : dirSize);
  PutLE64(std::span<uint8_t>(z64), 48, dirOffset);
  Put32(z64, 56, kZip64LocatorSignature);
  PutLE64(std::span<uint8_t>(z64), 64, end);
  Put32(z64, 72, 1);
  b.insert(b.begin() + static_cast<std::ptrdiff_t>(end), z64.begin(), z64.end());
  if (DirSize != 0) Put32(b, end + z64.size() + 12, static_cast<uint32_t>(dirSize + z64.size()));
  return b;
}

// Fuzzed shapes of an existing archive, each once mishandled by an update: an entry the reader
// listed went missing, the new archive could not be read, or the reader's count of failed
// files ran over. Each must now be refused with the file left byte for byte, or keep every
// entry the reader lists.
TEST(WriterUpdate, ArchivesTheReaderReadsOtherwiseAreRefusedOrKeptWhole) {
  using unzipfixture::Build;
  using unzipfixture::Stored;
  struct Crafted {
    std::string shape;
    std::vector<uint8_t> bytes;
    int32_t refusedWith;  // 0: kept whole
    size_t reached = 0;   // entries the reader could not reach before and can after
  };
  std::vector<Crafted> table;
  {
    // The last end record's comment runs past the file; the writer took an earlier record and
    // carried a comment holding an end record into the new archive, which other tools then
    // misread.
    auto b = Build({Stored("a.txt", "first")});
    std::string comment = "note ";
    comment += std::string("PK\x05\x06", 4) + std::string(16, '\0') + "\xff\xff";
    Put16(b, b.size() - 2, static_cast<uint16_t>(comment.size()));
    Append(b, comment);
    table.push_back({"a comment holding an end record", b, E_BAD_FILE_HEADER});
  }
  {
    // An empty end record after entries without a directory: the reader walks the entries,
    // the writer wrote an archive of the new file alone.
    auto b = Build({Stored("a.txt", "first")}, false);
    Append(b, TEndRecord{}.Encode());
    table.push_back({"an empty end record after entries", b, E_BAD_FILE_HEADER});
  }
  {
    // Bytes between the directory and its end record: the writer took the directory at its
    // stored offset, the reader (and Python) do not find it there.
    auto b = Build({Stored("a.txt", "first")});
    const auto end = static_cast<std::ptrdiff_t>(RecordAt(b, kEndRecordSignature));
    b.insert(b.begin() + end, {'s', 't', 'r', 'a', 'y'});
    table.push_back({"a directory that ends before its end record", b, E_BAD_FILE_HEADER});
  }
  {
    // A header's comment runs past the directory and the end record counts one entry: the
    // writer stopped there and dropped b.txt, which the reader lists.
    auto b = Build({Stored("a.txt", "first"), Stored("b.txt", "second"), Stored("c.txt", "third")});
    Put16(b, RecordAt(b, kCentralHeaderSignature, 1) + 32, 0x200);
    const size_t end = RecordAt(b, kEndRecordSignature);
    Put16(b, end + 8, 1);
    Put16(b, end + 10, 1);
    table.push_back({"a header comment past the directory", b, E_BAD_FILE_HEADER});
  }
  // The reader lists the first record and reports the second as damaged; the writer made two
  // entries of one.
  table.push_back({"two directory records over one local header", TwoRecordsOverOneHeader(), E_BAD_FILE_HEADER});
  {
    // The directory names the entry added.txt, its local header other.txt: the new added.txt
    // replaced it, while the reader listed it as other.txt.
    auto b = Build({Stored("other.txt", "keep me")});
    const size_t central = RecordAt(b, kCentralHeaderSignature);
    std::copy_n("added.txt", 9, b.begin() + static_cast<std::ptrdiff_t>(central + 46));
    table.push_back({"a directory name that is not the local name", b, E_BAD_FILE_HEADER});
  }
  {
    // Entries without a directory, made by a Unix tool (UTF-8 name without flag bit 11, Unix
    // extra block): the new directory said DOS, and the reader then showed the name as CP866.
    const std::string name = "папка/файл.txt";
    const std::string data = "from linux";
    const std::array<uint8_t, 15> ux{0x75, 0x78, 11, 0, 1, 4, 0xE8, 3, 0, 0, 4, 0xE8, 3, 0, 0};
    TLocalHeader l;
    l.VersionNeeded = 20;
    l.DosDateTime = 0x5A8C6000;
    l.Crc32 = unzipfixture::Crc(data);
    l.PackedSize = l.UnpackedSize = static_cast<uint32_t>(data.size());
    l.NameLength = static_cast<uint16_t>(name.size());
    l.ExtraLength = static_cast<uint16_t>(ux.size());
    std::vector<uint8_t> b;
    Append(b, l.Encode());
    Append(b, name);
    Append(b, ux);
    Append(b, data);
    table.push_back({"Unix names without a directory", b, E_BAD_FILE_HEADER});
  }
  // A Zip64 end record counting 2^40 entries over two records at one offset: the reader's
  // count of failed files reached its largest value and then went one past it.
  table.push_back({"a Zip64 count past 32 bits", WithZip64End(TwoRecordsOverOneHeader(), uint64_t{1} << 40, 0),
                   E_BAD_FILE_HEADER});
  // A Zip64 directory size no file has, the 22-byte record counting the Zip64 records into
  // it: the writer walked the local headers instead, the reader's end of the directory ran
  // over.
  table.push_back({"a Zip64 directory size past any file",
                   WithZip64End(Build({Stored("a.txt", "first")}), 1, uint64_t{INT64_MAX}), E_BAD_FILE_HEADER});
  {
    // A signature of a format the reader does not read: the new archive kept it in front, and
    // the reader refused the result.
    std::vector<uint8_t> b;
    Append(b, std::string("PKG5 a package of some other tool "));
    Append(b, TEndRecord{}.Encode());
    table.push_back({"another format's signature", b, E_UNSUPPORTED_TYPE});
  }
  {
    // Bytes in front that open with a directory header, as the last part of a split set does,
    // and an entry whose record names disk 8 of a set the end record does not have: the reader
    // asks for that disk, and the new archive kept the disk number, so the reader listed
    // nothing after it, not even the new file.
    auto b = Build({Stored("a.txt", "first"), Stored("b.txt", "second")});
    Put16(b, RecordAt(b, kCentralHeaderSignature, 1) + 34, 8);
    std::vector<uint8_t> front(40, 0);
    Put32(front, 0, kCentralHeaderSignature);
    b.insert(b.begin(), front.begin(), front.end());
    table.push_back({"a directory header in front and an entry on disk 8", b, 0, 1});
  }
  {
    auto b = Build({Stored("a.txt", "first"), Stored("sub/b.txt", Text(3000))});
    b.insert(b.begin(), {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
    table.push_back({"a sound archive behind a script", b, 0});
  }

  for (const Crafted& row : table) {
    SCOPED_TRACE(row.shape);
    Folder d;
    const std::string archive = d / "out.zip";
    zipfixture::WriteAll(archive, row.bytes);
    int32_t failed = 0;
    const Listing before = readerlisting::List(archive, d / "never", &failed);
    EXPECT_GE(failed, 0);
    Put(d / "new/added.txt", "the new file");
    Writer w(archive, d / "new");
    ProgramAnswers(w.zip);
    const int32_t added = w.zip.Compress();
    if (row.refusedWith != 0) {
      EXPECT_EQ(added, 0);
      EXPECT_TRUE(w.Reported(row.refusedWith));
      EXPECT_TRUE(zipfixture::ReadAll(archive) == row.bytes) << "the archive was changed";
      continue;
    }
    EXPECT_EQ(added, 1);
    ASSERT_FALSE(before.empty());
    const Listing after = readerlisting::List(archive, d / "never");
    for (const auto& entry : before)
      EXPECT_NE(std::find(after.begin(), after.end(), entry), after.end()) << entry.first;
    EXPECT_NE(std::find(after.begin(), after.end(), std::make_pair(std::string("added.txt"),
                                                                    unzipfixture::Crc("the new file"))),
              after.end());
    EXPECT_EQ(after.size(), before.size() + 1 + row.reached);
  }
}

// Guards updates that judged an archive's entries by other rules than the reader: an add run
// on an Info-ZIP archive cut before its fourth local header published the three whole members
// and the new file as a sound archive, and one on an archive whose first local CRC was flipped
// kept that entry as it was and called the archive sound, while the reader failed both; a
// delete run on an archive without a directory deleted nothing and said nothing. The other way
// round, members with data descriptors whose local packed size holds a wrong value, which the
// reader, Info-ZIP, 7-Zip and Python read, were refused. Whatever the reader fails, an update
// refuses with the check and the entry and leaves the file as it was; whatever it passes, an
// update keeps whole.
TEST(WriterUpdate, AnUpdateRefusesWhatTheReaderFailsAndKeepsWhatItPasses) {
  if (!unzipfixture::HaveTool("zip")) GTEST_SKIP() << "zip not available";
  Folder d;
  std::string names;
  for (int i = 0; i < 5; ++i) {
    const std::string name = "file" + std::to_string(i) + ".txt";
    Put(d / ("src/" + name), Text(2000 + 300 * static_cast<size_t>(i)));
    names += " " + name;
  }
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q ../plain.zip" + names + " && zip -q -fd ../described.zip" + names),
            0);
  const auto plain = zipfixture::ReadAll(d / "plain.zip");
  const auto described = zipfixture::ReadAll(d / "described.zip");
  const auto localAt = [](const std::vector<uint8_t>& b, int index) {
    return static_cast<size_t>(zipfixture::Entries(b)[static_cast<size_t>(index)].central.LocalHeaderOffset);
  };
  struct Row {
    std::string what;
    std::vector<uint8_t> bytes;
    TSwitch run;
    std::string says;  // empty: the reader passes the archive, and the update keeps it whole
  };
  std::vector<Row> table;
  table.push_back({"cut before its fourth local header",
                   std::vector<uint8_t>(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(localAt(plain, 3))),
                   swAdd, "the archive's central directory is missing"});
  table.push_back({"deleting from it", table.back().bytes, swDelete, "the archive's central directory is missing"});
  table.push_back({"its first local CRC flipped", plain, swAdd, "file0.txt: its local header gives another CRC"});
  table.back().bytes[localAt(plain, 0) + 14] ^= 0x01;
  table.push_back({"its third local unpacked size changed", plain, swAdd,
                   "file2.txt: its local header gives other sizes"});
  table.back().bytes[localAt(plain, 2) + 22] ^= 0x10;
  table.push_back({"no local header where the directory has the file the run replaces", plain, swAdd,
                   "file1.txt: no local header stands where its directory record says"});
  table.back().bytes[localAt(plain, 1)] = 'X';
  table.push_back({"descriptors and a wrong local packed size", described, swAdd, ""});
  PutLE32(table.back().bytes, localAt(described, 1) + 18, 5);
  table.push_back({"descriptors and a wrong local packed size, deleting", table.back().bytes, swDelete, ""});

  for (const Row& row : table) {
    SCOPED_TRACE(row.what);
    Folder t;
    const std::string archive = t / "x.zip";
    zipfixture::WriteAll(archive, row.bytes);
    int32_t failed = 0;
    const Listing before = readerlisting::List(archive, t / "never", &failed);
    unzipfixture::Reader check(archive, t / "out");
    check.unzip.Extract();
    const bool readerFails = failed > 0 || !check.errors.empty();
    EXPECT_EQ(readerFails, !row.says.empty());

    Put(t / "new/file1.txt", "the file of today");
    Writer w(archive);
    ProgramAnswers(w.zip);
    w.zip.SetSwitch(row.run);
    w.zip.FileSpec().Add(row.run == swDelete ? "file4.txt" : t / "new/*.*");
    const int32_t done = w.zip.Compress();
    if (readerFails) {
      EXPECT_EQ(done, 0);
      EXPECT_TRUE(w.Reported(E_BAD_FILE_HEADER));
      EXPECT_EQ(w.errors.empty() ? "" : w.errors.back().ext, row.says);
      EXPECT_TRUE(zipfixture::ReadAll(archive) == row.bytes) << "the archive was changed";
      continue;
    }
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(w.errors.empty());
    const Listing after = readerlisting::List(archive, t / "never", &failed);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(after.size() + (row.run == swDelete ? 1 : 0), before.size());
    // bsdtar refuses the wrong local size, in the archive before the run as after it.
    EXPECT_EQ(Shell("unzip -tq " + Q(archive)), 0);
    EXPECT_EQ(Shell("7zz t " + Q(archive)), 0);
    EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" " +
                    Q(archive)),
              0);
  }
}

// Guards updates of two archives joined into one file: the run kept the first archive in front
// of the entries of the last one, which the reader lists, so 7-Zip, which reads the first,
// missed the file added and still listed the one deleted. Such a file is refused with the
// reason; an archive behind junk whose offsets count none of it is updated whole, and every
// peer then lists what the reader lists.
TEST(WriterUpdate, AnArchiveJoinedBehindAnotherIsRefusedAndOneBehindJunkKeptWhole) {
  if (!unzipfixture::HaveTool("zip") || !unzipfixture::HaveTool("7zz")) GTEST_SKIP() << "zip or 7-Zip missing";
  Folder d;
  for (int i = 1; i <= 3; ++i) {
    Put(d / ("a/a" + std::to_string(i) + ".txt"), Text(1500 * static_cast<size_t>(i)));
    Put(d / ("b/b" + std::to_string(i) + ".txt"), Random(1200 * static_cast<size_t>(i), static_cast<uint32_t>(i)));
  }
  ASSERT_EQ(Shell("cd " + Q(d / "a") + " && zip -q ../a.zip *.txt && (zip -q - *.txt | cat > ../streamed.zip)"), 0);
  ASSERT_EQ(Shell("cd " + Q(d / "b") + " && zip -q ../b.zip *.txt && zip -q -fd ../described.zip *.txt"), 0);
  const std::string a = Slurp(d / "a.zip");
  const std::string b = Slurp(d / "b.zip");
  ASSERT_GT(Slurp(d / "streamed.zip").size(), 100u);
  struct Row {
    std::string what;
    std::string bytes;
    TSwitch run;
    bool refused;
  };
  const std::vector<Row> table = {
      {"another archive joined in front, adding", a + b, swAdd, true},
      {"the same archive twice, deleting", b + b, swDelete, true},
      {"a streamed archive in front, adding", Slurp(d / "streamed.zip") + b, swAdd, true},
      {"junk in front, adding", Random(5000, 77) + b, swAdd, false},
      {"junk in front, deleting", Random(5000, 77) + b, swDelete, false},
      {"a script in front of descriptors, deleting", "#!/bin/sh\nexit 0\n" + Slurp(d / "described.zip"), swDelete,
       false},
  };
  // The names 7-Zip lists, sorted.
  auto sevenZip = [](const std::string& archive) {
    std::vector<std::string> names;
    FILE* p = popen(("7zz l -ba -slt " + Q(archive) + " 2>/dev/null").c_str(), "r");
    char line[4096];
    while (p && fgets(line, sizeof line, p)) {
      std::string l(line);
      if (l.rfind("Path = ", 0) == 0) names.push_back(l.substr(7, l.find_last_not_of("\r\n") - 6));
    }
    if (p) pclose(p);
    std::sort(names.begin(), names.end());
    return names;
  };
  for (const Row& row : table) {
    SCOPED_TRACE(row.what);
    Folder t;
    const std::string archive = t / "x.zip";
    Put(archive, row.bytes);
    std::vector<std::string> expected;
    for (const auto& [name, crc] : readerlisting::List(archive, t / "never")) expected.push_back(name);
    Put(t / "new/added.txt", "the new file");
    Writer w(archive);
    w.zip.SetSwitch(row.run);
    w.zip.FileSpec().Add(row.run == swDelete ? "b2.txt" : t / "new/*.*");
    const int32_t done = w.zip.Compress();
    if (row.refused) {
      EXPECT_EQ(done, 0);
      EXPECT_EQ(w.errors.empty() ? "" : w.errors.back().ext,
                "another archive stands before its entries, and tools that read from the front take that one");
      EXPECT_TRUE(Slurp(archive) == row.bytes) << "the archive was changed";
      continue;
    }
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(w.errors.empty());
    if (row.run == swDelete) {
      expected.erase(std::find(expected.begin(), expected.end(), "b2.txt"));
    } else {
      expected.push_back("added.txt");
    }
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> listed;
    for (const auto& [name, crc] : readerlisting::List(archive, t / "never")) listed.push_back(name);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(sevenZip(archive), expected);
    ExpectPeersAccept(archive);
  }
}

// An archive comment may hold 65,535 bytes: the end record before it, and the directory, are
// found all the same. Every peer reads such archives, with data descriptors (written to a pipe)
// or without; an update keeps the archive comment, the entry comments, the external attributes
// and the extra fields of the directory.
TEST(WriterUpdate, AnArchiveWithTheLongestCommentKeepsAllItHeld) {
  const std::string make =
      "import sys,zipfile\n"
      "class Pipe:\n"
      "  def __init__(self, f): self.f = f\n"
      "  def write(self, b): return self.f.write(b)\n"
      "  def flush(self): self.f.flush()\n"
      "out = open(sys.argv[2], 'wb')\n"
      "z = zipfile.ZipFile(Pipe(out) if sys.argv[1] == 'pipe' else out, 'w')\n"
      "i = zipfile.ZipInfo('kept.txt', (2024, 5, 6, 7, 8, 10))\n"
      "i.comment = b'an entry comment'\n"
      "i.external_attr = (0o100640 << 16) | 0x21\n"
      "i.extra = b'\\xfe\\xca\\x04\\x00tags'\n"
      "z.writestr(i, b'what the archive held ' * 50)\n"
      "z.comment = bytes(range(256)) * 255 + b'x' * 255\n"
      "z.close()\n";
  const std::string check =
      "import sys,zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "i = z.getinfo('kept.txt')\n"
      "ok = len(z.comment) == 65535 and z.comment[:256] == bytes(range(256))\n"
      "ok = ok and i.comment == b'an entry comment' and i.external_attr == (0o100640 << 16) | 0x21\n"
      "ok = ok and i.extra == b'\\xfe\\xca\\x04\\x00tags' and z.read('added.txt') == b'the new file'\n"
      "sys.exit(0 if ok else 1)\n";
  // A stream that cannot seek makes zipfile write data descriptors, as a zip piped out does.
  for (const std::string how : {"file", "pipe"}) {
    SCOPED_TRACE(how);
    Folder d;
    Put(d / "make.py", make);
    Put(d / "check.py", check);
    const std::string archive = d / "out.zip";
    ASSERT_EQ(Shell("python3 " + Q(d / "make.py") + " " + how + " " + Q(archive)), 0);
    Put(d / "new/added.txt", "the new file");
    Writer w(archive, d / "new");
    EXPECT_EQ(w.zip.Compress(), 1);
    EXPECT_EQ(Shell("python3 " + Q(d / "check.py") + " " + Q(archive)), 0);
    ExpectPeersAccept(archive);
  }
}

// A directory may list the entries in another order than the file holds them. An update writes
// the kept entries in the old file's order, so that the new archive holds its members as the old
// one did, whatever the directory says.
TEST(WriterUpdate, KeptEntriesStayInTheOrderOfTheFile) {
  using unzipfixture::Stored;
  Folder d;
  const std::string archive = d / "out.zip";
  zipfixture::WriteAll(archive, unzipfixture::Build({Stored("a.txt", "first"), Stored("b.txt", Text(2000)),
                                                      Stored("c.txt", "third"), Stored("d.txt", Text(900))},
                                                     true, {2, 0, 3, 1}));
  Put(d / "new/added.txt", "the new file");
  Writer w(archive, d / "new");
  ASSERT_EQ(w.zip.Compress(), 1);
  auto entries = EntriesOf(archive);
  ASSERT_EQ(entries.size(), 5u);
  std::vector<std::string> listed;
  for (const auto& e : entries) listed.push_back(e.name);
  EXPECT_EQ(listed, (std::vector<std::string>{"c.txt", "a.txt", "d.txt", "b.txt", "added.txt"}));
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.dataOffset < b.dataOffset; });
  std::vector<std::string> inFile;
  for (const auto& e : entries) inFile.push_back(e.name);
  EXPECT_EQ(inFile, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt", "added.txt"}));
  ExpectPeersAccept(archive);
}

// Every refusal of a damaged old archive is the same "Bad file header"; its detail says which
// check failed, so that each can be told apart in the log.
TEST(WriterUpdate, EachRefusalOfADamagedArchiveSaysWhichCheckFailed) {
  using unzipfixture::Build;
  using unzipfixture::Stored;
  struct Damaged {
    std::vector<uint8_t> bytes;
    std::string says;
  };
  std::vector<Damaged> table;
  {
    auto b = Build({Stored("a.txt", "first")});
    Put16(b, b.size() - 2, 40);
    table.push_back({b, "comment runs past the end of the file"});
  }
  {
    auto b = Build({Stored("a.txt", "first")}, false);
    Append(b, TEndRecord{}.Encode());
    table.push_back({b, "entries stand before an end record that counts none"});
  }
  {
    auto b = Build({Stored("a.txt", "first")});
    const auto end = static_cast<std::ptrdiff_t>(RecordAt(b, kEndRecordSignature));
    b.insert(b.begin() + end, {'s', 't', 'r', 'a', 'y'});
    table.push_back({b, "end record does not lead to a directory"});
  }
  {
    auto b = Build({Stored("a.txt", "first"), Stored("b.txt", "second"), Stored("c.txt", "third")});
    Put16(b, RecordAt(b, kCentralHeaderSignature, 1) + 32, 0x200);
    table.push_back({b, "record runs past the end of the directory"});
  }
  {
    auto b = Build({Stored("a.txt", "first"), Stored("b.txt", "second")});
    const size_t end = RecordAt(b, kEndRecordSignature);
    Put16(b, end + 8, 3);
    Put16(b, end + 10, 3);
    table.push_back({b, "holds 2 entries where its end record counts 3"});
  }
  {
    auto b = TwoRecordsOverOneHeader();
    table.push_back({b, "two directory records lead to one local header"});
  }
  {
    auto b = Build({Stored("other.txt", "keep me")});
    std::copy_n("added.txt", 9, b.begin() + static_cast<std::ptrdiff_t>(RecordAt(b, kCentralHeaderSignature) + 46));
    table.push_back({b, "added.txt: its local header names another file"});
  }
  table.push_back({WithZip64End(Build({Stored("a.txt", "first")}), 1, uint64_t{INT64_MAX}),
                   "directory's size does not reach"});
  {
    auto b = Build({Stored("a.txt", "first"), Stored("b.txt", "second")});
    Put32(b, RecordAt(b, kLocalHeaderSignature, 1) + 18, 5);
    table.push_back({b, "b.txt: its local header gives other sizes"});
  }
  {
    auto e = Stored("a.txt", "first");
    e.flags = kFlagDataDescriptor;
    auto b = Build({e}, false);
    Put32(b, 18, 0);
    table.push_back({b, "the archive's central directory is missing"});
  }

  std::vector<std::string> details;
  for (const Damaged& row : table) {
    SCOPED_TRACE(row.says);
    Folder d;
    const std::string archive = d / "out.zip";
    zipfixture::WriteAll(archive, row.bytes);
    Put(d / "new/added.txt", "the new file");
    Writer w(archive, d / "new");
    ProgramAnswers(w.zip);
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(zipfixture::ReadAll(archive) == row.bytes) << "the archive was changed";
    std::string detail;
    for (const auto& r : w.errors)
      if (r.code == E_BAD_FILE_HEADER) detail = r.ext;
    EXPECT_NE(detail.find(row.says), std::string::npos) << "said: " << detail;
    details.push_back(detail);
  }
  std::sort(details.begin(), details.end());
  EXPECT_EQ(std::adjacent_find(details.begin(), details.end()), details.end()) << "two refusals say the same";
}

}  // namespace

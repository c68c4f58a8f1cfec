// Updating an existing archive: add, refresh, move, delete, read; stored entries are never lost
// by a cancelled or failed run, by a file that cannot be read, or by a file that is not a zip.
#include <gtest/gtest.h>

#include "archive/qrnBase.h"
#include "tests/archive/writer_fixture.h"

using namespace writerfixture;

namespace {

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

}  // namespace

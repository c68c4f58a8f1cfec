// Updating an existing archive: add, refresh, move, delete, read; stored entries are never lost
// by a cancelled or failed run, by a file that cannot be read, or by a file that is not a zip,
// nor by an archive that other tools made in their own ways (a prefix, Zip64 fields, data
// descriptors, a split set, no directory at all).
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/qrnBase.h"
#include "archive/qrnEndian.h"
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
  if (std::getenv("TARVELO_LARGE_TESTS") == nullptr) return;
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

TEST(WriterUpdate, EntriesWithoutADirectoryAreFoundByTheirLocalHeaders) {
  Folder d;
  using unzipfixture::Stored;
  const auto cut = unzipfixture::Build({Stored("a.txt", "first"), Stored("sub/b.txt", Text(4000))}, false);
  zipfixture::WriteAll(d / "out.zip", cut);
  Writer w(d / "out.zip");
  Put(d / "new/added.txt", "new");
  w.zip.FileSpec().Add(d / "new/*.*");
  EXPECT_EQ(w.zip.Compress(), 1);
  EXPECT_TRUE(w.errors.empty());
  auto es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 3u);
  EXPECT_EQ(Find(es, "sub/b.txt")->central.Crc32, unzipfixture::Crc(Text(4000)));
  ExpectPeersAccept(d / "out.zip");
  // A comment edit gives such an archive its directory.
  zipfixture::WriteAll(d / "out.zip", cut);
  TZip zip;
  zip.SetArchiveFile(d / "out.zip");
  ASSERT_EQ(zip.OpenArchiveDirectory(), 2);
  zip.SetZipComment("found again");
  zip.CommitComments();
  es = EntriesOf(d / "out.zip");
  ASSERT_EQ(es.size(), 2u);
  ExpectPeersAccept(d / "out.zip");
  // An entry whose sizes follow its data cannot be sized without a directory: refused,
  // nothing changed.
  auto dd = Stored("c.txt", "sizes later");
  dd.flags = 8;
  auto bytes = unzipfixture::Build({Stored("a.txt", "first"), dd, Stored("d.txt", "after")}, false);
  bytes[30 + 5 + 5 + 18] = bytes[30 + 5 + 5 + 19] = bytes[30 + 5 + 5 + 20] = bytes[30 + 5 + 5 + 21] = 0;
  zipfixture::WriteAll(d / "dd.zip", bytes);
  Writer w2(d / "dd.zip");
  w2.zip.FileSpec().Add(d / "new/*.*");
  EXPECT_EQ(w2.zip.Compress(), 0);
  EXPECT_FALSE(w2.errors.empty());
  EXPECT_EQ(zipfixture::ReadAll(d / "dd.zip"), bytes);
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

}  // namespace

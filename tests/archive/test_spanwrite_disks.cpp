// The disk requests of spanned writing: disks refused, cleared only through OnClearDisk, an old
// archive replaced only on OnDiskSpanFileExists' answer, missing events, cancelling, full and
// write-protected disks, a handler that never brings a usable disk, an archive in a folder of
// the disk, an old set that is kept until the new one is complete, and the disks of an earlier
// set used for the next backup.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "archive/qrnBase.h"
#include "archive/qrnSpanWrite.h"
#include "tests/archive/spanwrite_fixture.h"

using namespace spanfixture;

namespace {

// A run over two disks of 64 KiB: 4 stored files of 20000 bytes.
struct TwoDisks : SpanRig {
  TwoDisks() : SpanRig(64 * 1024) { Source(4, 20000); }
};

TEST(SpanWriteDisks, ReinsertedFullDiskIsRefusedWithoutAQuestion) {
  TwoDisks r;
  int existsAsked = 0;
  r.w.zip.OnDiskSpanFileExists = [&](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
    ++existsAsked;
    m = omOverwrite;
  };
  r.onInsert = [&](const std::string& volume, bool& cancel) {
    if (r.asked.size() == 1) r.drive.ReinsertDisk(r.Disk(1));  // the disk just filled
    else r.Insert(std::stoi(volume));
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(r.asked, (std::vector<std::string>{"2", "2"}));
  EXPECT_EQ(existsAsked, 0);  // its piece was never offered for overwriting
  EXPECT_TRUE(r.w.errors.empty());
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, DiskFilledEarlierInTheRunIsRefusedToo) {
  SpanRig r(64 * 1024);
  r.Source(7, 20000);
  r.w.zip.OnDiskSpanFileExists = [&](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
    ADD_FAILURE() << "a piece of this run was offered for overwriting";
    m = omOverwrite;
  };
  bool offered = false;
  r.onInsert = [&](const std::string& volume, bool& cancel) {
    if (volume == "3" && !offered) {
      offered = true;
      r.drive.ReinsertDisk(r.Disk(1));
    } else {
      r.Insert(std::stoi(volume));
    }
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 7);
  EXPECT_EQ(r.asked, (std::vector<std::string>{"2", "3", "3"}));
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, DiskFilledInThisRunIsKnownByMoreThanItsSerialNumber) {
  // Disks without a serial number: the one filled in this run is known by the piece it holds,
  // and the answer "overwrite" is never asked for it.
  struct NoSerials : SpanRig {
    int existsAsked = 0;
    explicit NoSerials(int files) : SpanRig(64 * 1024) {
      Source(files, 20000);
      drive.InsertDisk(Disk(1), "", 0);
      w.zip.OnDiskSpanFileExists = [this](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
        ++existsAsked;
        m = omOverwrite;
      };
    }
    // Disk back goes in on the first request for disk when, a fresh disk on every other one.
    void PutBack(int back, const std::string& when) {
      onInsert = [this, back, when, done = false](const std::string& volume, bool& cancel) mutable {
        if (volume == when && !done) {
          done = true;
          drive.ReinsertDisk(Disk(back));
        } else {
          drive.InsertDisk(Disk(std::stoi(volume)), "", 0);
          disks.push_back(Disk(std::stoi(volume)));
        }
        cancel = false;
      };
    }
  };
  {
    NoSerials r(4);
    r.PutBack(1, "2");
    ASSERT_EQ(r.w.zip.Compress(), 4);
    EXPECT_EQ(r.asked, (std::vector<std::string>{"2", "2"}));
    EXPECT_EQ(r.existsAsked, 0);
    EXPECT_TRUE(r.w.errors.empty());
    EXPECT_TRUE(r.PeersAgree());
  }
  {
    NoSerials r(7);
    r.PutBack(1, "3");
    ASSERT_EQ(r.w.zip.Compress(), 7);
    EXPECT_EQ(r.asked, (std::vector<std::string>{"2", "3", "3"}));
    EXPECT_EQ(r.existsAsked, 0);
    EXPECT_TRUE(r.PeersAgree());
  }
  // Another disk that happens to carry the serial number of the one just filled (a copied
  // disk image) holds nothing of this run: it is taken.
  TwoDisks r;
  r.onInsert = [&](const std::string&, bool& cancel) {
    r.drive.InsertDisk(r.Disk(2), "", SerialOf(1));
    r.disks.push_back(r.Disk(2));
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(r.asked, (std::vector<std::string>{"2"}));
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, NonEmptyDiskIsClearedOnlyThroughOnClearDisk) {
  // Disk 2 holds a file of the user's that leaves less than the reserve free.
  const auto userFileOnDisk2 = [](SpanRig& r) {
    Put(r.Disk(2) + "/photo.jpg", Random(60000, 9));
    r.onInsert = [&r](const std::string& volume, bool& cancel) {
      r.drive.InsertDisk(r.Disk(std::stoi(volume)), "", SerialOf(std::stoi(volume)));
      r.disks.push_back(r.Disk(std::stoi(volume)));
      cancel = false;
    };
  };
  {
    // Without the event: reported, the run fails, the user's file stays.
    TwoDisks r;
    userFileOnDisk2(r);
    EXPECT_EQ(r.w.zip.Compress(), 0);
    EXPECT_TRUE(r.w.Reported(25270));
    EXPECT_EQ(r.w.errors.back().ext, "OnClearDisk");
    EXPECT_EQ(Slurp(r.Disk(2) + "/photo.jpg"), Random(60000, 9));
    EXPECT_EQ(r.w.zip.FilesAdded(), 0);
  }
  {
    // Refused by the handler: the run fails, the file stays.
    TwoDisks r;
    userFileOnDisk2(r);
    r.w.zip.OnClearDisk = [](TObject*, const std::string&, int64_t, int64_t, int64_t, bool&) {};
    EXPECT_EQ(r.w.zip.Compress(), 0);
    EXPECT_TRUE(platform::FileExists(r.Disk(2) + "/photo.jpg"));
    EXPECT_FALSE(platform::FileExists(r.Disk(2) + "/set.zip"));
  }
  TwoDisks r;
  userFileOnDisk2(r);
  std::vector<int64_t> seen;
  r.w.zip.OnClearDisk = [&](TObject* sender, const std::string& drive, int64_t required, int64_t free, int64_t total,
                           bool& cancel) {
    EXPECT_NE(sender, &r.w.zip);
    EXPECT_EQ(drive, r.drive.Path());
    seen = {required, free, total};
    platform::DeleteFile(r.Disk(2) + "/photo.jpg");  // what the application does on the user's word
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(seen, (std::vector<int64_t>{10000, 64 * 1024 - 60000, 64 * 1024}));
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, NonEmptyDiskWithRoomIsUsedAndItsFilesKept) {
  TwoDisks r;
  Put(r.Disk(2) + "/notes.txt", "keep me");
  r.onInsert = [&](const std::string& volume, bool& cancel) {
    r.drive.InsertDisk(r.Disk(2), "", SerialOf(2));
    r.disks.push_back(r.Disk(2));
    (void)volume;
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(Slurp(r.Disk(2) + "/notes.txt"), "keep me");
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, OldArchiveOnADiskIsReplacedOnlyOnTheAnswer) {
  const std::string old = "an old piece of last week's set";
  const auto oldPieceOnDisk2 = [&](SpanRig& r) { Put(r.Disk(2) + "/set.zip", old); };
  {
    // No handler: nobody agreed, the old piece stays and the run fails.
    TwoDisks r;
    oldPieceOnDisk2(r);
    EXPECT_EQ(r.w.zip.Compress(), 0);
    ASSERT_TRUE(r.w.Reported(25270));
    EXPECT_EQ(r.w.errors.back().ext, "OnFileExists");
    EXPECT_EQ(r.Piece(2), old);
  }
  {
    // omSkip cancels the run.
    TwoDisks r;
    oldPieceOnDisk2(r);
    r.w.zip.OnDiskSpanFileExists = [](TObject*, const std::string&, TDateTime, TOverwriteMode& m) { m = omSkip; };
    EXPECT_EQ(r.w.zip.Compress(), 0);
    EXPECT_TRUE(r.w.Reported(25443));
    EXPECT_EQ(r.Piece(2), old);
  }
  TwoDisks r;
  oldPieceOnDisk2(r);
  std::string named;
  TObject* sender = nullptr;
  TDateTime date = 0;
  r.w.zip.OnDiskSpanFileExists = [&](TObject* s, const std::string& f, TDateTime d, TOverwriteMode& m) {
    sender = s;
    named = f;
    date = d;
    EXPECT_EQ(m, omOverwrite);
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(sender, &r.w.zip);
  EXPECT_EQ(named, r.d / "floppy/set.zip");
  EXPECT_GT(date, 40000.0);  // the file's own date, not 0
  // The old piece went to the user's Trash, where it can be had back.
  EXPECT_EQ(Slurp(r.d / "share/Trash/files/set.zip"), old);
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, WithoutInsertDiskEventTheDiskInTheDriveIsAnOrdinaryVolume) {
  // Nobody can change disks: an archive too large for the disk fails as on a full fixed disk
  // and leaves nothing there.
  TwoDisks r;
  r.w.zip.OnInsertDisk = nullptr;
  EXPECT_EQ(r.w.zip.Compress(), 0);
  EXPECT_TRUE(r.w.Reported(25160));
  EXPECT_FALSE(r.w.Reported(25270));
  EXPECT_TRUE(std::filesystem::is_empty(r.Disk(1)));
  EXPECT_TRUE(std::filesystem::is_empty(r.d / "tmp"));
  EXPECT_EQ(r.drive.Label(), "");
}

TEST(SpanWriteDisks, FullDiskIsReportedOnce) {
  const auto fullReports = [](const Writer& w) {
    return std::count_if(w.errors.begin(), w.errors.end(), [](const Report& e) { return e.code == 25160; });
  };
  // An archive too large for the disk, built in a temporary file or in memory.
  for (const TCompressionMethod method : {cmTempFile, cmInMemory}) {
    TwoDisks r;
    r.w.zip.OnInsertDisk = nullptr;
    r.w.zip.SetCompressionMethod(method);
    EXPECT_EQ(r.w.zip.Compress(), 0);
    EXPECT_EQ(fullReports(r.w), 1) << "method " << int{method};
    EXPECT_EQ(r.w.errors.size(), 1u) << "method " << int{method};
  }
  // A comment that the full disk has no room to write the archive anew for.
  SpanRig r(64 * 1024);
  r.w.zip.OnInsertDisk = nullptr;
  r.Source(1, 20000);
  ASSERT_EQ(r.w.zip.Compress(), 1);
  const std::string before = r.Piece(1);
  Put(r.Disk(1) + "/other.bin", std::string(64 * 1024 - before.size() - 100, 'x'));
  ASSERT_EQ(r.w.zip.OpenArchiveDirectory(), 1);
  r.w.zip.SetZipComment("a note");
  r.w.zip.CommitComments();
  EXPECT_EQ(fullReports(r.w), 1);
  EXPECT_EQ(r.w.errors.size(), 1u);
  EXPECT_TRUE(r.Piece(1) == before);
}

TEST(SpanWriteDisks, CancelInTheMiddleLeavesNothingThatPassesForABackup) {
  {
    // The request for disk 2 is refused.
    TwoDisks r;
    r.onInsert = [](const std::string&, bool&) {};
    EXPECT_EQ(r.w.zip.Compress(), 0);
    EXPECT_EQ(r.w.zip.FilesAdded(), 0);
    EXPECT_FALSE(EndOf(r.Piece(1)));
    EXPECT_TRUE(std::filesystem::is_empty(r.d / "tmp"));
  }
  // The run is cancelled while disk 2 is written: its unfinished piece goes again.
  SpanRig r(64 * 1024);
  r.Source(6, 20000);
  bool writingDisk2 = false;
  r.onInsert = [&](const std::string& volume, bool& cancel) {
    r.Insert(std::stoi(volume));
    writingDisk2 = true;
    cancel = false;
  };
  r.w.zip.OnProgress = [&](TObject*, uint8_t, uint8_t) {
    if (writingDisk2) r.w.zip.SetCancel(true);
  };
  EXPECT_EQ(r.w.zip.Compress(), 0);
  EXPECT_EQ(r.w.zip.FilesAdded(), 0);
  EXPECT_TRUE(r.w.Reported(25443));
  EXPECT_FALSE(platform::FileExists(r.Disk(2) + "/set.zip"));
  EXPECT_FALSE(EndOf(r.Piece(1)));
}

TEST(SpanWriteDisks, DiskThatHoldsLessThanItSaidPassesTheRestToTheNextDisk) {
  TwoDisks r;
  // While disk 1 is written, something else takes 20000 of its bytes.
  bool filled = false;
  r.w.zip.OnProgress = [&](TObject*, uint8_t byFile, uint8_t) {
    if (!filled && byFile > 0 && platform::FileExists(r.Disk(1) + "/set.zip")) {
      filled = true;
      Put(r.Disk(1) + "/other.bin", std::string(20000, 'x'));
    }
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_TRUE(filled);
  EXPECT_TRUE(r.w.errors.empty());
  EXPECT_EQ(static_cast<int64_t>(r.Piece(1).size()), 64 * 1024 - 20000);
  platform::DeleteFile(r.Disk(1) + "/other.bin");
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, WriteProtectedDiskIsAskedForAgain) {
  TwoDisks r;
  r.onInsert = [&](const std::string&, bool& cancel) {
    if (r.asked.size() == 1) r.drive.InsertDisk(r.Disk(9), "", SerialOf(9), true);
    else r.Insert(2);
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(r.asked.size(), 2u);
  ASSERT_EQ(r.w.errors.size(), 1u);
  EXPECT_EQ(r.w.errors[0].code, 25171);
  EXPECT_FALSE(platform::FileExists(r.Disk(9) + "/set.zip"));
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, DiskStillTooFullAfterClearingIsOfferedAgain) {
  TwoDisks r;
  Put(r.Disk(3) + "/full.bin", Random(64 * 1024 - 5000, 2));
  std::vector<int64_t> free;
  r.w.zip.OnClearDisk = [&](TObject*, const std::string&, int64_t, int64_t f, int64_t, bool& cancel) {
    free.push_back(f);
    if (free.size() == 2) platform::DeleteFile(r.Disk(3) + "/full.bin");
    cancel = false;
  };
  r.onInsert = [&](const std::string&, bool& cancel) {
    r.drive.InsertDisk(r.Disk(3), "", SerialOf(3));
    r.disks.push_back(r.Disk(3));
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(free, (std::vector<int64_t>{5000, 5000}));
  EXPECT_EQ(r.asked.size(), 1u);
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWriteDisks, HandlerThatNeverBringsAUsableDiskDoesNotSpinForEver) {
  TwoDisks r;
  r.onInsert = [&](const std::string&, bool& cancel) {
    r.drive.EjectDisk();
    cancel = false;
  };
  EXPECT_EQ(r.w.zip.Compress(), 0);
  EXPECT_EQ(static_cast<int32_t>(r.asked.size()), TDiskSpanObj::kMaxDiskRequests);
  EXPECT_FALSE(EndOf(r.Piece(1)));
}

TEST(SpanWriteDisks, ArchiveInAFolderOfTheDiskFindsItsFolderOnEveryDisk) {
  {
    // Each fresh disk gets the folder of the archive; the set reads back.
    SpanRig r(64 * 1024, "backups/set.zip");
    std::filesystem::create_directories(r.Disk(1) + "/backups");
    r.Source(7, 20000);
    ASSERT_EQ(r.w.zip.Compress(), 7);
    EXPECT_TRUE(r.w.errors.empty());
    ASSERT_EQ(r.UsedDisks().size(), 3u);
    EXPECT_TRUE(r.PeersAgree());
  }
  // A disk on which the piece cannot be made (a file stands where the folder must go) is
  // reported, not passed over in silence.
  SpanRig r(64 * 1024, "backups/set.zip");
  std::filesystem::create_directories(r.Disk(1) + "/backups");
  Put(r.Disk(2) + "/backups", "a file of the user's");
  r.Source(4, 20000);
  EXPECT_EQ(r.w.zip.Compress(), 0);
  ASSERT_TRUE(r.w.Reported(25235));
  EXPECT_EQ(r.w.errors.front().file, r.d / "floppy/backups/set.zip");
  EXPECT_EQ(Slurp(r.Disk(2) + "/backups"), "a file of the user's");
  EXPECT_FALSE(EndOf(r.Piece(1)));
}

TEST(SpanWriteDisks, OverwrittenSetGoesOnlyWhenTheNewOneIsCompleteOrTheRunSaysSo) {
  const auto listing = [](const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
  };
  // Last week's set on the disk in the drive, a new file since, and the answer "overwrite".
  struct Run {
    SpanRig r;
    std::string old;
    bool answered = false;
    bool oldWhileWriting = true;
    int progressAfterAnswer = 0;
    explicit Run(int64_t capacity) : r(capacity) {
      r.Source(3, 20000);
      EXPECT_EQ(r.w.zip.Compress(), 3);
      old = r.Piece(1);
      r.Source(4, 20000);
      r.w.zip.OnDiskSpanFileExists = [this](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
        answered = true;
        m = omOverwrite;
      };
      r.w.zip.OnProgress = [this](TObject*, uint8_t, uint8_t) {
        if (!answered) return;
        ++progressAfterAnswer;
        if (r.Piece(1) != old) oldWhileWriting = false;
      };
    }
    void CancelOnceAnswered() {
      r.w.zip.OnProgress = [this](TObject*, uint8_t, uint8_t) {
        if (answered) r.w.zip.SetCancel(true);
      };
    }
  };
  {
    // Room for both: the new set is written beside the old one, which goes (to the user's
    // Trash) only once the new one is complete.
    Run run(200000);
    ASSERT_EQ(run.r.w.zip.Compress(), 1);  // the new file; the old three are kept
    EXPECT_TRUE(run.answered);
    EXPECT_GT(run.progressAfterAnswer, 0);
    EXPECT_TRUE(run.oldWhileWriting) << "the old set went before the new one was complete";
    EXPECT_EQ(listing(run.r.Disk(1)), std::set<std::string>{"set.zip"});
    EXPECT_TRUE(Slurp(run.r.d / "share/Trash/files/set.zip") == run.old) << "the old set is in the Trash";
    EXPECT_TRUE(run.r.PeersAgree());
  }
  {
    // Room for both, and the run is cancelled: the old set stays byte for byte, nothing else
    // is left on the disk, and nobody is told of a lost set.
    Run run(200000);
    run.CancelOnceAnswered();
    EXPECT_EQ(run.r.w.zip.Compress(), 0);
    EXPECT_TRUE(run.r.Piece(1) == run.old) << "the old set is kept byte for byte";
    EXPECT_EQ(listing(run.r.Disk(1)), std::set<std::string>{"set.zip"});
    for (const auto& e : run.r.w.errors) EXPECT_EQ(e.ext.find("overwritten"), std::string::npos) << e.ext;
  }
  // No room for both: the old set goes on the answer, before the new one is written, and a run
  // that then fails says so plainly.
  Run run(140000);
  run.CancelOnceAnswered();
  EXPECT_EQ(run.r.w.zip.Compress(), 0);
  EXPECT_FALSE(run.r.Piece(1) == run.old);
  bool told = false;
  for (const auto& e : run.r.w.errors) told = told || e.ext.find("overwritten") != std::string::npos;
  EXPECT_TRUE(told) << "a failed run must say that the old set is gone from the disk";
}

TEST(SpanWriteDisks, NextBackupOntoTheDisksOfAnEarlierSetReplacesItOnTheAnswer) {
  const auto answerOverwrite = [](SpanRig& r, int& asked) {
    r.w.zip.OnDiskSpanFileExists = [&asked](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
      ++asked;
      m = omOverwrite;
    };
  };
  // A set over three disks; the next run starts with its first, a middle or its last disk in
  // the drive, and one file more to back up.
  for (int inDrive : {1, 2, 3}) {
    SCOPED_TRACE("disk " + std::to_string(inDrive) + " in the drive");
    SpanRig r(64 * 1024);
    r.Source(7, 20000);
    ASSERT_EQ(r.w.zip.Compress(), 7);
    ASSERT_EQ(r.UsedDisks().size(), 3u);
    // Only the new file is written: the seven written again could get a later time than their
    // entries, and be stored again, when the first run ends in a later two-second step.
    Put(r.d / "src/f107.bin", Random(20000, 8));
    r.asked.clear();
    r.ReuseDisks();
    r.AnswerAsThePrograms();
    int existsAsked = 0;
    answerOverwrite(r, existsAsked);
    r.drive.ReinsertDisk(r.Disk(inDrive));
    EXPECT_EQ(r.w.zip.Compress(), 1);  // the new file; the seven are kept
    EXPECT_TRUE(r.w.errors.empty());
    // The other disks of the old set are read first, then every disk is written anew.
    std::vector<std::string> wanted;
    for (int n = 1; n <= 3; ++n)
      if (n != inDrive) wanted.push_back(std::to_string(n));
    wanted.insert(wanted.end(), {"1", "2", "3"});
    EXPECT_EQ(r.asked, wanted);
    EXPECT_EQ(existsAsked, 3);  // each old piece goes only on the answer
    EXPECT_TRUE(r.PeersAgree());
  }
  // A set that fitted on one disk but carries the spanning marker is a whole archive: it is
  // updated, and the old file is replaced on the answer; where nobody changes disks, the
  // update is an ordinary archive.
  for (const bool spanning : {true, false}) {
    SCOPED_TRACE(spanning ? "spanned update" : "plain update");
    SpanRig r(64 * 1024);
    r.w.zip.SetLeaveSpaceOnFirstDisk(40000);  // the marker, on a disk with room for an update
    r.Source(1, 20000);
    ASSERT_EQ(r.w.zip.Compress(), 1);
    ASSERT_EQ(r.UsedDisks().size(), 1u);
    ASSERT_EQ(r.Piece(1).substr(0, 4), std::string("PK\x07\x08", 4));
    Put(r.d / "src/new.txt", "written since");
    r.ReuseDisks();
    int existsAsked = 0;
    answerOverwrite(r, existsAsked);
    if (!spanning) r.w.zip.OnInsertDisk = nullptr;
    EXPECT_EQ(r.w.zip.Compress(), 1);
    EXPECT_FALSE(r.w.Reported(25244));
    EXPECT_EQ(existsAsked, spanning ? 1 : 0);
    EXPECT_TRUE(r.PeersAgree());
  }
}

TEST(SpanWriteDisks, AddRunOntoSeveralDisksKeepsTheEntriesOfFilesGoneFromTheSource) {
  // A set of 7 files over three disks; since then two files left the source, one grew and one
  // is new. The add run keeps the two, as it does in a single archive, whichever disk of the
  // set is in the drive; a disk of the old set refused while it is read fails the run, and the
  // old set stays as it was.
  struct Row {
    int inDrive;
    std::string refused;  // the disk the user refuses to bring back; empty: none
  };
  for (const Row& row : {Row{1, ""}, Row{2, ""}, Row{3, ""}, Row{3, "1"}, Row{1, "2"}}) {
    SCOPED_TRACE("disk " + std::to_string(row.inDrive) + " in the drive, refused '" + row.refused + "'");
    SpanRig r(64 * 1024);
    r.Source(7, 20000);
    ASSERT_EQ(r.w.zip.Compress(), 7);
    ASSERT_EQ(r.UsedDisks().size(), 3u);
    std::map<std::string, std::string> expected;
    for (int i = 0; i < 7; ++i) {
      const std::string name = "f" + std::to_string(100 + i) + ".bin";
      expected[name] = Slurp(r.d / ("src/" + name));
    }
    std::vector<std::string> oldPieces;
    for (int n = 1; n <= 3; ++n) oldPieces.push_back(r.Piece(n));
    for (const char* gone : {"f101.bin", "f105.bin"}) std::filesystem::remove(r.d / (std::string("src/") + gone));
    expected["f103.bin"] = Random(21000, 77);
    Put(r.d / "src/f103.bin", expected["f103.bin"]);
    expected["f107.bin"] = Random(20000, 78);
    Put(r.d / "src/f107.bin", expected["f107.bin"]);
    r.AnswerAsThePrograms();
    r.w.zip.OnDiskSpanFileExists = [](TObject*, const std::string&, TDateTime, TOverwriteMode& m) {
      m = omOverwrite;
    };
    r.ReuseDisks(row.refused);
    r.drive.ReinsertDisk(r.Disk(row.inDrive));
    r.asked.clear();
    if (!row.refused.empty()) {
      EXPECT_EQ(r.w.zip.Compress(), 0);
      EXPECT_TRUE(r.w.Reported(25443));
      for (int n = 1; n <= 3; ++n) EXPECT_TRUE(r.Piece(n) == oldPieces[static_cast<size_t>(n - 1)]) << "disk " << n;
      EXPECT_TRUE(std::filesystem::is_empty(r.d / "tmp"));  // the copies of the disks read
      continue;
    }
    EXPECT_EQ(r.w.zip.Compress(), 2);  // f103 anew and f107
    EXPECT_TRUE(r.w.errors.empty());
    EXPECT_TRUE(std::filesystem::is_empty(r.d / "tmp"));
    const std::string last = r.SplitSet(r.d / "split");
    ASSERT_EQ(Shell("7zz x -y -o" + Q(r.d / "x7") + " " + Q(last)), 0);
    std::map<std::string, std::string> got;
    for (const auto& e : std::filesystem::directory_iterator(r.d / "x7"))
      got[e.path().filename().string()] = Slurp(e.path().string());
    EXPECT_EQ(got.size(), expected.size());
    for (const auto& [name, content] : expected) EXPECT_TRUE(got[name] == content) << name;
  }
}

TEST(SpanWriteDisks, ClearedDiskIsTakenOnlyWithMoreThanTheReserveFree) {
  // Disk 2 holds a file of the user's that leaves exactly the reserve free.
  const auto exactlyTheReserve = [](SpanRig& r) { Put(r.Disk(2) + "/photo.jpg", Random(64 * 1024 - 10000, 9)); };
  {
    // Without OnClearDisk nobody can make more room: reported, the user's file stays.
    TwoDisks r;
    exactlyTheReserve(r);
    EXPECT_EQ(r.w.zip.Compress(), 0);
    ASSERT_TRUE(r.w.Reported(25270));
    EXPECT_EQ(r.w.errors.back().ext, "OnClearDisk");
    EXPECT_FALSE(platform::FileExists(r.Disk(2) + "/set.zip"));
  }
  TwoDisks r;
  exactlyTheReserve(r);
  int asked = 0;
  r.w.zip.OnClearDisk = [&](TObject*, const std::string&, int64_t, int64_t, int64_t, bool& cancel) {
    if (++asked == 2) platform::DeleteFile(r.Disk(2) + "/photo.jpg");
    cancel = false;
  };
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(asked, 2) << "a disk with only the reserve free is offered for clearing again";
  EXPECT_TRUE(r.PeersAgree());
}

}  // namespace

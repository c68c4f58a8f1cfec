// Disk and volume services: the disk request with its handlers and reports, the volume fields,
// the Retry/Cancel box, span numbers from labels and file times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "archive/qrnFileIo.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "platform/volumes.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char buf[] = "/tmp/tarvelo-fileio-XXXXXX";
    path_ = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct Report {
  std::string file, extended, volume;
  int32_t code;
};

// The owner's error operations as a component hands them over, recording every report.
struct Owner {
  std::vector<Report> reports;
  TReportErrorProc report = [this](const std::string& f, const std::string& e, const std::string& v, int32_t c) {
    reports.push_back({f, e, v, c});
  };
  TRaiseErrorProc raise = [this](TExceptionClass, const std::string& f, const std::string& e, const std::string& v,
                                 int32_t c) { reports.push_back({f, e, v, c}); };
};

class CurrentDir {
 public:
  explicit CurrentDir(const std::string& to) {
    char buf[PATH_MAX];
    old_ = getcwd(buf, sizeof buf);
    EXPECT_EQ(chdir(to.c_str()), 0);
  }
  ~CurrentDir() { EXPECT_EQ(chdir(old_.c_str()), 0); }

 private:
  std::string old_;
};

TEST(SpanVolumeNumber, ComesFromTheDigitsAfterTheLastPrefix) {
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK# 003"), 3);
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK# 010"), 10);
  EXPECT_EQ(ParseSpanVolumeNumber("BACKUP"), 0);
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK# 0A1"), 0);
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK#003"), 0);  // the prefix has its blank
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK# 1 PKBACK# 12"), 12);
  EXPECT_EQ(ParseSpanVolumeNumber(""), 0);
  // The prefix alone and numbers beyond any disk count carry no disk number (and do not throw).
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK# "), 0);
  EXPECT_EQ(ParseSpanVolumeNumber("PKBACK# 99999999999"), 0);
  EXPECT_TRUE(TDiskManager::IsDigits(""));
  EXPECT_TRUE(TDiskManager::IsDigits("0123456789"));
  EXPECT_FALSE(TDiskManager::IsDigits("12 "));
  EXPECT_FALSE(TDiskManager::IsDigits("-1"));
}

TEST(DiskRequest, FixedVolumeOfTheBuildFolder) {
  TDiskManager dm;
  Owner owner;
  const std::string path = std::string(TARVELO_BINARY_DIR) + "/not/yet/there/backup.zip";
  ASSERT_TRUE(dm.CheckDiskOfPath(path, nullptr, nullptr, owner.report, owner.raise));
  EXPECT_TRUE(owner.reports.empty());
  EXPECT_EQ(dm.Drive, platform::VolumeRoot(TARVELO_BINARY_DIR));
  EXPECT_EQ(dm.DriveType, platform::kDriveFixed);
  EXPECT_EQ(dm.DriveKindName, "Fixed");
  EXPECT_EQ(dm.MediaType, 0);
  EXPECT_EQ(DriveKindNames[7], "3\xC2\xBD Floppy");  // UTF-8 of the code page 1252 byte 0xBD
  EXPECT_EQ(dm.SerialText.size(), 8u);
  EXPECT_EQ(dm.SerialText.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(std::strtoul(dm.SerialText.c_str(), nullptr, 16), dm.SerialNumber);
  EXPECT_GT(dm.TotalSpace, 0);
  EXPECT_GT(dm.MaxComponentLength, 0u);
  EXPECT_FALSE(dm.FileSystemName.empty());
}

TEST(DiskRequest, BareFileNameIsTestedOnTheCurrentDirectorysVolume) {
  TDiskManager dm;
  Owner owner;
  CurrentDir here("/dev/shm");
  ASSERT_TRUE(dm.CheckDiskOfPath("archive.zip", nullptr, nullptr, owner.report, owner.raise));
  EXPECT_EQ(dm.Drive, "/dev/shm");
  EXPECT_EQ(dm.DriveType, platform::kDriveRamDisk);
  EXPECT_EQ(dm.DriveKindName, "RAM");
}

TEST(DiskRequest, SimulatedDiskGivesItsLabelSerialAndSpaceAndLeavesNoFile) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 1440000, "PKBACK# 003", 0x12AB34CD);
  std::ofstream(drive + "/old.txt") << "0123456789";
  TDiskManager dm;
  Owner owner;
  // Stale figures from an earlier volume must not survive.
  dm.MediaType = 7;
  ASSERT_TRUE(dm.CheckDiskOfPath(drive + "/archive.zip", nullptr, nullptr, owner.report, owner.raise));
  EXPECT_TRUE(owner.reports.empty());
  EXPECT_EQ(dm.Drive, drive);
  EXPECT_EQ(dm.DriveType, platform::kDriveRemovable);
  EXPECT_EQ(dm.MediaType, 0);
  EXPECT_EQ(dm.DriveKindName, "Unknown");
  EXPECT_EQ(dm.VolumeLabel, "PKBACK# 003");
  EXPECT_EQ(dm.VolumeInfo.VolumeLabel, "PKBACK# 003");
  EXPECT_EQ(dm.SpanVolumeNumber, 3);
  EXPECT_EQ(dm.SerialNumber, 0x12AB34CDu);
  EXPECT_EQ(dm.SerialText, "12AB34CD");
  EXPECT_EQ(dm.TotalSpace, 1440000);
  EXPECT_EQ(dm.FreeSpace, 1440000 - 10);
  // The write-protection test made and deleted its file.
  auto list = platform::ListDirectory(drive);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].name, "old.txt");
}

TEST(DiskRequest, LabelThatIsOnlyThePrefixStillGivesAUsableDisk) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "PKBACK# ", 1);
  TDiskManager dm;
  Owner owner;
  EXPECT_TRUE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, nullptr, owner.report, owner.raise));
  EXPECT_EQ(dm.SpanVolumeNumber, 0);
}

TEST(DiskRequest, NotReadyWithoutHandlerIsNotAccessible) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "", 1);
  a.EjectDisk();
  TDiskManager dm;
  Owner owner;
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, nullptr, owner.report, owner.raise));
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].code, 25170);
  EXPECT_EQ(owner.reports[0].file, drive);
  EXPECT_EQ(owner.reports[0].extended, "0");
  EXPECT_EQ(owner.reports[0].volume, "0");
}

TEST(DiskRequest, NotReadyHandlerInsertsADiskOrGivesUp) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "PKBACK# 001", 1);
  a.EjectDisk();
  TDiskManager dm;
  Owner owner;
  int calls = 0;
  TObject* sender = nullptr;
  // The disk swap happens inside the handler: the second try finds disk 2.
  TOnDiskError insert = [&](TObject* s, bool& abort) {
    sender = s;
    if (++calls == 2) a.InsertDisk(dir.path() + "/disk2", "PKBACK# 002", 0xD2);
    abort = false;
  };
  ASSERT_TRUE(dm.CheckDiskOfPath(drive + "/a.zip", insert, nullptr, owner.report, owner.raise));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(sender, &dm);
  EXPECT_TRUE(owner.reports.empty());
  EXPECT_EQ(dm.SpanVolumeNumber, 2);
  EXPECT_EQ(dm.SerialNumber, 0xD2u);

  a.EjectDisk();
  calls = 0;
  TOnDiskError refuse = [&](TObject*, bool&) { ++calls; };  // Abort stays True
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", refuse, nullptr, owner.report, owner.raise));
  EXPECT_EQ(calls, 1);
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].code, 25443);
  EXPECT_EQ(owner.reports[0].file, drive);
}

TEST(DiskRequest, WriteProtectedDiskIsReportedOrReplacedByTheHandler) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "DATA", 1);
  a.SetWriteProtected(true);
  TDiskManager dm;
  Owner owner;
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, nullptr, owner.report, owner.raise));
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].code, 25171);

  owner.reports.clear();
  TOnDiskError giveUp = [](TObject*, bool&) {};
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, giveUp, owner.report, owner.raise));
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].code, 25443);

  owner.reports.clear();
  int calls = 0;
  TOnDiskError unprotect = [&](TObject*, bool& abort) {
    ++calls;
    a.SetWriteProtected(false);
    abort = false;
  };
  EXPECT_TRUE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, unprotect, owner.report, owner.raise));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(owner.reports.empty());
}

TEST(DiskRequest, HandlerExceptionEndsTheRequestWithoutAReport) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "", 1);
  a.EjectDisk();
  TDiskManager dm;
  Owner owner;
  TOnDiskError thrower = [](TObject*, bool&) { throw std::runtime_error("handler failed"); };
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", thrower, nullptr, owner.report, owner.raise));
  EXPECT_TRUE(owner.reports.empty());
}

// A disk taken out between the write-protection test and the volume query: the Retry/Cancel
// box. The drive is named with two leading slashes, an ordinary path here: it gets the ready
// and write-protection tests like any other.
TEST(DiskRequest, DiskTakenOutBeforeTheVolumeQueryAsksRetryOrCancel) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "DATA", 1);
  a.SetWriteProtected(true);
  platform::ScriptedAnswerer answers;
  answers.Answer(platform::IDRETRY);
  answers.Answer(platform::IDCANCEL);
  TDiskManager dm;
  Owner owner;
  int handlerCalls = 0;
  TOnDiskError takeOut = [&](TObject*, bool& abort) {
    ++handlerCalls;
    a.EjectDisk();
    abort = false;
  };
  EXPECT_FALSE(dm.CheckDiskOfPath("/" + drive + "/dir/a.zip", nullptr, takeOut, owner.report, owner.raise));
  EXPECT_EQ(handlerCalls, 1);
  ASSERT_EQ(answers.Boxes().size(), 2u);  // Retry tried again, Cancel ended it
  const auto& box = answers.Boxes()[0];
  EXPECT_EQ(box.flags, 21u);
  EXPECT_EQ(box.text.rfind(drive + "/is not accessible\r\n\r\n", 0), 0u) << box.text;
  EXPECT_GT(box.text.size(), (drive + "/is not accessible\r\n\r\n").size());
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].code, 25170);
  EXPECT_EQ(owner.reports[0].file, drive);
}

// The box is the engine's own: it carries the title the program gave itself, and the
// program's name only while it has none.
TEST(DiskRequest, RetryBoxIsCaptionedWithTheApplicationTitle) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "DATA", 1);
  platform::ScriptedAnswerer answers;
  TDiskManager dm;
  Owner owner;
  TOnDiskError takeOut = [&](TObject*, bool& abort) {
    a.EjectDisk();
    abort = false;
  };
  platform::SetApplicationTitle("Планировщик задач");
  a.SetWriteProtected(true);
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, takeOut, owner.report, owner.raise));
  platform::SetApplicationTitle("");
  a.ReinsertDisk(dir.path() + "/driveA.disk", true);
  EXPECT_FALSE(dm.CheckDiskOfPath(drive + "/a.zip", nullptr, takeOut, owner.report, owner.raise));
  ASSERT_EQ(answers.Boxes().size(), 2u);
  EXPECT_EQ(answers.Boxes()[0].caption, "Планировщик задач");
  EXPECT_EQ(answers.Boxes()[1].caption, program_invocation_short_name);
}

TEST(DiskRequest, EmptyDriveIsNotAccessible) {
  TDiskManager dm;
  Owner owner;
  EXPECT_FALSE(dm.RequestDisk("", nullptr, nullptr, owner.report, owner.raise));
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].code, 25170);
  EXPECT_EQ(dm.GetDriveKind(""), platform::kDriveNoRootDir);
  EXPECT_FALSE(dm.ReadVolumeInfo(""));
}

TEST(VolumeLabel, SetOnASimulatedDiskIsReadBack) {
  TempDir dir;
  const std::string drive = dir.path() + "/driveA";
  platform::SimulatedDrive a(drive, 100000, "", 1);
  ASSERT_TRUE(SetVolumeLabel(drive + "/archive.zip", "PKBACK# 004"));
  TDiskManager dm;
  Owner owner;
  ASSERT_TRUE(dm.CheckDiskOfPath(drive + "/archive.zip", nullptr, nullptr, owner.report, owner.raise));
  EXPECT_EQ(dm.SpanVolumeNumber, 4);
  EXPECT_FALSE(SetVolumeLabel(TARVELO_BINARY_DIR, "PKBACK# 001"));  // a fixed volume is left alone
}

TEST(FileTime, LastWriteAndLastAccessInLocalDosTime) {
  TempDir dir;
  const std::string file = dir.path() + "/f";
  std::ofstream(file) << "x";
  struct tm tm {};
  tm.tm_year = 121; tm.tm_mon = 5; tm.tm_mday = 7; tm.tm_hour = 10; tm.tm_min = 20; tm.tm_sec = 30;
  tm.tm_isdst = -1;
  time_t written = mktime(&tm);
  time_t accessed = written + 86400 * 3;
  struct timespec times[2] = {{accessed, 0}, {written, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  int fd = platform::OpenFile(file, 0);
  ASSERT_GE(fd, 0);
  uint32_t w = FileTimeToDosTime(fd, 1);
  EXPECT_EQ(w >> 16, static_cast<uint32_t>((41 << 9) | (6 << 5) | 7));
  EXPECT_EQ(w & 0xFFFF, static_cast<uint32_t>((10 << 11) | (20 << 5) | 15));
  EXPECT_EQ(FileTimeToDosTime(fd, 0), w);  // no creation time: the last write stands in
  EXPECT_EQ(FileTimeToDosTime(fd, 2) >> 16, static_cast<uint32_t>((41 << 9) | (6 << 5) | 10));
  platform::CloseFile(fd);
  EXPECT_EQ(FileTimeToDosTime(-1, 1), 0u);
}

}  // namespace

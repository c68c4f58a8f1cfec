// Spanned-disk reading against simulated removable drives: the last, first and next disk are
// asked for through the reader's events, refused or missing events cancel the run, and a disk
// counts only when it holds the data wanted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnSpan.h"
#include "archive/qrnStreams.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char buf[] = "/tmp/tarvelo-span-XXXXXX";
    path_ = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Stands in for detection: an end record on the disk makes a spanned zip with its directory.
struct Reader : TZipCommon {
  int detections = 0;
  Reader() { FArcType = atZipDS; }
  void SetArchiveFile(const std::string& Value) override {
    ++detections;
    std::ifstream in(Value, std::ios::binary);
    if (!in) {
      FArchiveFile.clear();
      FArcType = atNA;
      return;
    }
    FArchiveFile = Value;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FArcType = atZipDS;
    DirectoryFlags = bytes.find("PK\x05\x06") != std::string::npos ? hfLocal | hfCentral | hfEnd : hfLocal;
  }
  void Archive(const std::string& s) { FArchiveFile = s; }
};

struct Fixture {
  TempDir dir;
  platform::SimulatedDrive drive{dir.path() + "/floppy", 100000, "PKBACK# 001", 1, dir.path() + "/disk1"};
  Reader reader;
  TDiskSpannObj span;
  bool cancel = false;
  std::vector<int32_t> codes;
  std::vector<std::string> extended;

  Fixture() {
    // Disk 1 starts with a local header, disk 2 holds only continuation bytes, disk 3 the
    // directory and the end record.
    write("disk1", std::string("PK\x03\x04", 4) + std::string(60, 'a'));
    write("disk2", "rest");
    write("disk3", "tail" + std::string("PK\x01\x02", 4) + std::string(42, 'c') + std::string("PK\x05\x06", 4) +
                       std::string(18, '\0'));
    reader.Archive(drive.Path() + "/set.zip");
    span.InitSpan(
        &reader, &cancel, nullptr, nullptr,
        [this](const std::string&, const std::string& e, const std::string&, int32_t c) {
          codes.push_back(c);
          extended.push_back(e);
        },
        nullptr);
  }
  void write(const std::string& disk, const std::string& bytes) {
    platform::MakeDirectory(dir.path() + "/" + disk);
    std::ofstream(dir.path() + "/" + disk + "/set.zip", std::ios::binary) << bytes;
  }
  void insert(const std::string& disk, int number) {
    drive.InsertDisk(dir.path() + "/" + disk, "PKBACK# 00" + std::to_string(number), static_cast<uint32_t>(number));
  }
};

}  // namespace

TEST(DiskSpan, LastDiskAlreadyInTheDriveIsOpenedWithoutAsking) {
  Fixture f;
  f.insert("disk3", 3);
  int asked = 0;
  f.reader.OnGetZipLastDisk = [&](TObject*, bool&) { ++asked; };
  EXPECT_TRUE(f.reader.CancelRef == &f.cancel);
  std::unique_ptr<TStream32> stream;
  ASSERT_TRUE(f.span.OpenNextVolume(stream));
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(f.span.DiskState, 1);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 72);
  EXPECT_EQ(f.reader.VolumeSize, 72);
  EXPECT_TRUE(f.codes.empty());
}

TEST(DiskSpan, MissingEventIsReportedAndCancelsEvenWithTheRightDisk) {
  Fixture f;
  f.insert("disk3", 3);
  std::unique_ptr<TStream32> stream = std::make_unique<TMemoryStream32>();
  EXPECT_FALSE(f.span.OpenNextVolume(stream));
  EXPECT_EQ(stream, nullptr);
  ASSERT_EQ(f.codes.size(), 1u);
  EXPECT_EQ(f.codes[0], 25270);
  EXPECT_EQ(f.extended[0], "OnGetZipLastDisk");
  EXPECT_TRUE(f.cancel);
}

TEST(DiskSpan, LastDiskIsAskedForUntilItsEndRecordIsFound) {
  Fixture f;  // the first disk is in the drive
  int asked = 0;
  f.reader.OnGetZipLastDisk = [&](TObject* sender, bool& cancel) {
    EXPECT_EQ(sender, &f.span);
    EXPECT_TRUE(cancel);  // preset: a handler must say go on
    if (++asked == 1) f.drive.EjectDisk();
    else f.insert("disk3", 3);
    cancel = false;
  };
  std::unique_ptr<TStream32> stream;
  ASSERT_TRUE(f.span.OpenNextVolume(stream));
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(f.reader.ArchiveFile(), f.drive.Path() + "/set.zip");
  EXPECT_FALSE(f.cancel);
}

TEST(DiskSpan, HandlerThatLeavesCancelEndsTheRunWithoutAReport) {
  Fixture f;
  f.span.DiskState = 1;
  int asked = 0;
  f.reader.OnGetZipFirstDisk = [&](TObject*, bool&) { ++asked; };
  std::unique_ptr<TStream32> stream;
  EXPECT_FALSE(f.span.OpenNextVolume(stream));
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(f.cancel);
  EXPECT_TRUE(f.codes.empty());
}

TEST(DiskSpan, FirstAndNextDisksCountOnlyWhenTheyHoldTheWantedData) {
  Fixture f;
  f.insert("disk3", 3);
  f.reader.OnGetZipLastDisk = [](TObject*, bool&) {};
  std::unique_ptr<TStream32> stream;
  ASSERT_TRUE(f.span.OpenNextVolume(stream));

  // The first disk: the last one is still in the drive and has no local header at 0.
  int first = 0;
  f.reader.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
    if (++first == 2) f.insert("disk1", 1);
    cancel = false;
  };
  f.span.EntryPosition = 0;
  ASSERT_TRUE(f.span.OpenNextVolume(stream));
  EXPECT_EQ(first, 2);
  EXPECT_EQ(f.span.DiskState, 2);
  EXPECT_EQ(stream->Size(), 64);

  // The next disk holds fewer bytes than a header: its label number must be the one wanted.
  std::vector<std::string> wanted;
  f.reader.OnGetZipNextDisk = [&](TObject*, const std::string& disk, bool& cancel) {
    wanted.push_back(disk);
    if (wanted.size() == 1) f.insert("disk3", 3);
    else f.insert("disk2", 2);
    cancel = false;
  };
  f.span.EntryPosition = 40;
  ASSERT_TRUE(f.span.OpenNextVolume(stream));
  EXPECT_EQ(wanted, (std::vector<std::string>{"2", "2"}));
  EXPECT_EQ(f.span.DiskState, 3);
  EXPECT_EQ(stream->Size(), 4);
  EXPECT_TRUE(f.codes.empty());
}

TEST(DiskSpan, CheckDiskReadsTheSignatureAtThePositionOfAnUnnumberedDisk) {
  Fixture f;
  f.drive.InsertDisk(f.dir.path() + "/disk3", "BACKUP", 3);
  f.span.DiskState = 3;
  EXPECT_TRUE(f.span.CheckDisk(4));    // central header
  EXPECT_FALSE(f.span.CheckDisk(0));   // continuation bytes
  EXPECT_FALSE(f.span.CheckDisk(50));  // past the end, and no number to tell the disk by
  f.drive.EjectDisk();
  EXPECT_FALSE(f.span.CheckDisk(0));   // no disk: the request fails
}

// A numbered disk is told by its label: the wanted one passes with continuation bytes at the
// position (a member or directory going on), another one fails even with a header there.
TEST(DiskSpan, CheckDiskTakesTheNumberOfALabelledDisk) {
  Fixture f;
  f.insert("disk3", 3);
  f.span.DiskState = 2;
  EXPECT_FALSE(f.span.CheckDisk(4));   // a central header, but on disk 3
  EXPECT_FALSE(f.span.CheckDisk(50));
  f.span.DiskState = 3;
  EXPECT_TRUE(f.span.CheckDisk(0));    // continuation bytes on the disk wanted
  EXPECT_TRUE(f.span.CheckDisk(50));
}

// Spanned writing onto simulated removable disks: the layout of one, two and ten disks, the
// entry that begins on a full disk, the first disk's reserve, a directory past 4 GiB on its
// disk, when the set is marked as spanned, and the peers reading the set.
#include <gtest/gtest.h>

#include "archive/qrnBase.h"
#include "archive/qrnSpanWrite.h"
#include "tests/archive/spanwrite_fixture.h"
#include "tests/archive/unzip_fixture.h"

using namespace spanfixture;

namespace {

TEST(SpanWrite, ArchiveThatFitsGoesOnTheDiskInTheDriveWithoutAsking) {
  SpanRig r(200000);
  r.Source(3, 20000);
  ASSERT_EQ(r.w.zip.Compress(), 3);
  EXPECT_TRUE(r.asked.empty());
  EXPECT_TRUE(r.w.errors.empty());
  const std::string piece = r.Piece(1);
  EXPECT_EQ(piece.substr(0, 4), std::string("PK\x03\x04", 4));  // no spanning signature
  EXPECT_EQ(r.drive.Label(), "PKBACK# 001");
  const auto es = EntriesOf(r.Disk(1) + "/set.zip");
  ASSERT_EQ(es.size(), 3u);
  for (const auto& e : es) EXPECT_EQ(e.central.DiskNumberStart, 0);
  auto end = EndOf(piece);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->DiskNumber, 0);
  EXPECT_EQ(end->DirectoryDisk, 0);
  EXPECT_EQ(Shell("unzip -tq '" + r.Disk(1) + "/set.zip'"), 0);
  EXPECT_TRUE(r.PeersAgree());
  // The temporary archive is gone, not moved anywhere.
  EXPECT_TRUE(std::filesystem::is_empty(r.d / "tmp"));
}

TEST(SpanWrite, TwoDisksCarryTheSignatureTheCrossingEntryAndTheDirectoryOnTheLast) {
  SpanRig r(64 * 1024);
  r.Source(4, 20000);
  ASSERT_EQ(r.w.zip.Compress(), 4);
  EXPECT_EQ(r.asked, (std::vector<std::string>{"2"}));
  EXPECT_TRUE(r.w.errors.empty());
  const std::string one = r.Piece(1), two = r.Piece(2);
  EXPECT_EQ(one.substr(0, 4), std::string("PK\x07\x08", 4));
  EXPECT_EQ(static_cast<int64_t>(one.size()), 64 * 1024);  // disk 1 filled to its last byte
  auto end = EndOf(two);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->DiskNumber, 1);
  EXPECT_EQ(end->DirectoryDisk, 1);
  EXPECT_EQ(end->EntriesOnDisk, 4);
  EXPECT_EQ(end->TotalEntries, 4);
  const auto dir = DirectoryOf({one, two});
  ASSERT_EQ(dir.size(), 4u);
  // Three entries begin on disk 1; the fourth crosses from it, the rest of its bytes open disk 2.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(dir[i].central.DiskNumberStart, 0) << i;
  const auto& crossing = dir[3];
  EXPECT_EQ(crossing.central.DiskNumberStart, 0);
  const size_t after = crossing.central.LocalHeaderOffset + 30 + crossing.central.NameLength +
                       crossing.central.PackedSize;
  EXPECT_EQ(after - one.size(), end->DirectoryOffset);
  EXPECT_EQ(r.LabelOf(2), "PKBACK# 002");
  EXPECT_EQ(r.LabelOf(1), "PKBACK# 001");
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWrite, TenDisksAreLabelledUpTo010AndReadBackByThePeers) {
  SpanRig r(64 * 1024);
  r.Source(12, 50000, 7);
  ASSERT_EQ(r.w.zip.Compress(), 12);
  EXPECT_TRUE(r.w.errors.empty());
  ASSERT_EQ(r.UsedDisks().size(), 10u);
  EXPECT_EQ(r.asked.back(), "10");
  EXPECT_EQ(r.drive.Label(), "PKBACK# 010");
  auto end = EndOf(r.Piece(10));
  ASSERT_TRUE(end);
  EXPECT_EQ(end->DiskNumber, 9);
  EXPECT_TRUE(r.PeersAgree());
  EXPECT_EQ(r.LabelOf(5), "PKBACK# 005");
}

TEST(SpanWrite, EntryThatWouldBeginOnAFullDiskBeginsTheNextDiskAtOffsetZero) {
  // Disk 1: the signature and the first entry exactly: 4 + 30 + "f100.bin" + data.
  const int64_t capacity = 40000;
  SpanRig r(capacity);
  Put(r.d / "src/f100.bin", Random(static_cast<size_t>(capacity - 4 - 30 - 8), 3));
  Put(r.d / "src/f101.bin", Random(5000, 4));
  ASSERT_EQ(r.w.zip.Compress(), 2);
  EXPECT_EQ(static_cast<int64_t>(r.Piece(1).size()), capacity);
  const auto dir = DirectoryOf({r.Piece(1), r.Piece(2)});
  ASSERT_EQ(dir.size(), 2u);
  EXPECT_EQ(dir[1].name, "f101.bin");
  EXPECT_EQ(dir[1].central.DiskNumberStart, 1);
  EXPECT_EQ(dir[1].central.LocalHeaderOffset, 0u);
  EXPECT_EQ(r.Piece(2).substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWrite, LeaveSpaceOnFirstDiskKeepsThatMuchFreeOnDiskOneOnly) {
  {
    // 59999 bytes cannot hold the 50000 kept free and the 10000 reserve: disk 1 is asked for.
    SpanRig r(59999);
    r.Source(1, 1000);
    r.w.zip.SetLeaveSpaceOnFirstDisk(50000);
    r.onInsert = [&](const std::string&, bool& cancel) { cancel = r.asked.size() >= 3; };
    EXPECT_EQ(r.w.zip.Compress(), 0);
    EXPECT_EQ(r.asked, (std::vector<std::string>{"1", "1", "1"}));
    EXPECT_FALSE(platform::FileExists(r.Disk(1) + "/set.zip"));
  }
  SpanRig r(60000);
  r.Source(3, 30000);
  r.w.zip.SetLeaveSpaceOnFirstDisk(50000);
  ASSERT_EQ(r.w.zip.Compress(), 3);
  EXPECT_EQ(r.asked, (std::vector<std::string>{"2", "3"}));
  EXPECT_EQ(r.Piece(1).size(), 10000u);
  EXPECT_EQ(r.Piece(2).size(), 60000u);  // the next disks are filled to their end
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWrite, DirectoryThatCrossesDisksCountsOnlyTheLastDisksHeaders) {
  SpanRig r(20000);
  // Small entries with long names: the directory needs more than one disk of its own.
  for (int i = 0; i < 300; ++i)
    Put(r.d / ("src/" + std::string(70, 'n') + std::to_string(1000 + i) + ".txt"), std::to_string(i));
  ASSERT_EQ(r.w.zip.Compress(), 300);
  const auto used = r.UsedDisks();
  ASSERT_GE(used.size(), 3u);
  std::vector<std::string> pieces;
  for (size_t i = 0; i < used.size(); ++i) pieces.push_back(r.Piece(static_cast<int>(i) + 1));
  auto end = EndOf(pieces.back());
  ASSERT_TRUE(end);
  EXPECT_LT(end->DirectoryDisk, end->DiskNumber);
  EXPECT_EQ(end->TotalEntries, 300);
  EXPECT_LT(end->EntriesOnDisk, 300);
  EXPECT_GT(end->EntriesOnDisk, 0);
  EXPECT_EQ(DirectoryOf(pieces).size(), 300u);
  EXPECT_TRUE(r.PeersAgree());
}

TEST(SpanWrite, DeflatedAndEncipheredEntriesSpanToo) {
  SpanRig r(64 * 1024);
  r.w.zip.SetCompressMethod(cmDeflate);
  r.w.zip.SetPassword("secret");
  for (int i = 0; i < 5; ++i) Put(r.d / ("src/t" + std::to_string(i) + ".txt"), Random(30000, 40 + i));
  ASSERT_EQ(r.w.zip.Compress(), 5);
  ASSERT_GE(r.UsedDisks().size(), 3u);
  const std::string last = r.SplitSet(r.d / "split");
  EXPECT_EQ(Shell("7zz t -psecret '" + last + "'"), 0);
  EXPECT_EQ(Shell("7zz x -y -psecret -o'" + (r.d / "x7") + "' '" + last + "'"), 0);
  EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "x7"));
}

TEST(SpanWrite, DirectoryPast4GiBOnItsDiskGetsTheLargeEndRecordAndOffsetWords) {
  // A large stick: the entry was put 4 GiB + 100 bytes into the disk's piece, the directory
  // follows it. The piece is a sparse file; only the entry's bytes are written.
  constexpr int64_t k4GiB = int64_t{1} << 32;
  constexpr int64_t at = k4GiB + 100;
  Folder d;
  Put(d / "src/a.txt", "the entry past four GiB");
  Writer small(d / "small.zip", d / "src");
  small.zip.SetCompressMethod(cmStore);
  ASSERT_EQ(small.zip.Compress(), 1);
  const auto bytes = zipfixture::ReadAll(d / "small.zip");
  const auto es = zipfixture::Entries(bytes);
  ASSERT_EQ(es.size(), 1u);
  ASSERT_EQ(es[0].central.LocalHeaderOffset, 0u);
  const auto entryEnd = static_cast<int32_t>(es[0].dataOffset + es[0].central.PackedSize);
  const std::string piece = d / "stick/set.zip";
  std::filesystem::create_directories(d / "stick");
  {
    TFileStream32 f(piece, platform::kModeCreate);
    f.SetSize(at);
    f.Seek(at, soBeginning);
    f.WriteBuffer(bytes.data(), entryEnd);
  }

  TZip owner;
  owner.SetArchiveFile(piece);
  TCompHeaderList list;
  TCompFileInfo info;
  info.EntryAction = eaKeep;
  info.LocalOffset = at;
  info.RawHeader = es[0].central.Encode();
  info.StoredName = "a.txt";
  list.Add("a.txt", info);
  TDiskManager disks;
  disks.FreeSpace = int64_t{1} << 40;
  bool cancel = false;
  TMemoryStream32 temporary;
  TDiskSpanObj span(&owner, &cancel, &list, &disks, &temporary);
  span.DiskNumber = 1;
  span.DiskFile = std::make_unique<TFileStream32>(piece, 2);
  span.DiskFile->Seek(int64_t{0}, soEnd);
  ASSERT_TRUE(span.WriteDirectory());
  span.DiskFile.reset();

  const auto size = static_cast<int64_t>(std::filesystem::file_size(piece));
  std::vector<uint8_t> tail(static_cast<size_t>(size - (at + entryEnd)));
  {
    TFileStream32 f(piece, 0);
    f.Seek(at + entryEnd, soBeginning);
    f.ReadBuffer(tail.data(), static_cast<int32_t>(tail.size()));
  }
  ASSERT_GE(tail.size(), TLargeEndRecord::kSize);
  const auto end = TLargeEndRecord::Decode(tail.data() + tail.size() - TLargeEndRecord::kSize, TLargeEndRecord::kSize);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->Signature, kLargeEndRecordSignature);
  EXPECT_EQ(end->DiskNumber, 0);
  EXPECT_EQ(end->DirectoryDisk, 0);
  EXPECT_EQ(end->TotalEntries, 1);
  EXPECT_EQ(end->EntriesOnDisk, 1);
  EXPECT_EQ(end->DirectoryOffset, static_cast<uint64_t>(at + entryEnd));
  const auto central = TCentralHeader::Decode(tail.data(), tail.size());
  ASSERT_TRUE(central);
  EXPECT_EQ(central->LocalHeaderOffset, 100u);
  ASSERT_EQ(central->ExtraLength, TZip64Extra::kCentralSize);
  const auto words = TZip64Extra::DecodeCentral(tail.data() + 46 + central->NameLength, central->ExtraLength);
  ASSERT_TRUE(words);
  EXPECT_EQ(words->OffsetHigh, 1);

  // The engine's reader finds the entry through them.
  unzipfixture::Reader reader(piece, d / "back");
  EXPECT_EQ(reader.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "back/a.txt"), "the entry past four GiB");
}

TEST(SpanWrite, SpanningSignatureFollowsTheTemporaryArchiveAndTheReserveAgainstTheFirstDisk) {
  {
    // The set fits on the disk, but the temporary archive and the 10000-byte reserve do not:
    // it is marked as spanned, and the peers read the one piece as it is.
    SpanRig r(64 * 1024);
    r.Source(3, 20000);
    ASSERT_EQ(r.w.zip.Compress(), 3);
    ASSERT_EQ(r.UsedDisks().size(), 1u);
    EXPECT_EQ(r.Piece(1).substr(0, 4), std::string("PK\x07\x08", 4));
    const std::string one = r.Disk(1) + "/set.zip";
    EXPECT_EQ(Shell("unzip -tq '" + one + "'"), 0);
    EXPECT_EQ(Shell("7zz t '" + one + "'"), 0);
    EXPECT_EQ(Shell("bsdtar -tf '" + one + "'"), 0);
    EXPECT_EQ(Shell("python3 -c \"import zipfile,sys; sys.exit(zipfile.ZipFile('" + one +
                    "').testzip() is not None)\""),
              0);
    EXPECT_TRUE(r.PeersAgree());
  }
  // The entries and the reserve fit on the first disk, only the directory goes on: no signature,
  // and the peers read the set all the same.
  SpanRig r(64 * 1024);
  for (int i = 0; i < 400; ++i)
    Put(r.d / ("src/" + std::string(60, 'n') + std::to_string(1000 + i) + ".txt"), std::to_string(i) + "xxxxxxxx");
  ASSERT_EQ(r.w.zip.Compress(), 400);
  ASSERT_EQ(r.UsedDisks().size(), 2u);
  EXPECT_EQ(r.Piece(1).substr(0, 4), std::string("PK\x03\x04", 4));
  EXPECT_TRUE(r.PeersAgree());
}

}  // namespace

// Every spanned set the writer makes is read back by the engine's own reader, which asks for
// the last, first and next disks through its events while the test swaps the disks, and each
// file comes back byte for byte.
#include <gtest/gtest.h>

#include "tests/archive/spanwrite_fixture.h"
#include "tests/archive/unzip_fixture.h"

using namespace spanfixture;

namespace {

struct ReadBack {
  std::vector<std::string> wanted;  // "last", "first", then the numbers asked for
  std::vector<int32_t> codes;
  int32_t extracted = 0;
};

// Starts with the disk in the drive as the writer left it (the last one) unless another is
// named, and swaps in whatever disk the reader asks for.
ReadBack ReadSet(SpanRig& r, const std::string& startWith = {}, const std::string& password = {}) {
  ReadBack out;
  const auto used = r.UsedDisks();
  if (!startWith.empty()) r.drive.ReinsertDisk(startWith);
  unzipfixture::Reader reader(r.d / "floppy/set.zip", r.d / "back");
  if (!password.empty()) reader.unzip.Passwords().Add(password);
  reader.unzip.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
    out.wanted.push_back("last");
    r.drive.ReinsertDisk(used.back());
    cancel = false;
  };
  reader.unzip.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
    out.wanted.push_back("first");
    r.drive.ReinsertDisk(used.front());
    cancel = false;
  };
  reader.unzip.OnGetZipNextDisk = [&](TObject*, const std::string& disk, bool& cancel) {
    out.wanted.push_back(disk);
    if (out.wanted.size() > 50) return;  // a reader that keeps asking is refused, not served for ever
    const size_t n = static_cast<size_t>(std::stoi(disk));
    if (n >= 1 && n <= used.size()) r.drive.ReinsertDisk(used[n - 1]);
    cancel = false;
  };
  // Detection needs the last disk in the drive; the reader asks for it otherwise.
  reader.unzip.SetArchiveFile(r.d / "floppy/set.zip");
  out.extracted = reader.unzip.Extract();
  for (const auto& e : reader.errors) out.codes.push_back(e.code);
  return out;
}

TEST(SpanWriteReadBack, OneDiskIsReadWithoutAnyDiskRequest) {
  SpanRig r(200000);
  r.Source(3, 20000);
  ASSERT_EQ(r.w.zip.Compress(), 3);
  const auto back = ReadSet(r);
  EXPECT_EQ(back.extracted, 3);
  EXPECT_TRUE(back.codes.empty());
  EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "back"));
}

TEST(SpanWriteReadBack, TwoDisksAreReadThroughTheDiskEvents) {
  SpanRig r(64 * 1024);
  r.Source(4, 20000);
  ASSERT_EQ(r.w.zip.Compress(), 4);
  const auto back = ReadSet(r);
  EXPECT_EQ(back.extracted, 4);
  EXPECT_TRUE(back.codes.empty());
  ASSERT_FALSE(back.wanted.empty());
  EXPECT_EQ(back.wanted.front(), "first");
  EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "back"));
}

TEST(SpanWriteReadBack, TenDisksStartingFromTheFirstAreReadBack) {
  SpanRig r(64 * 1024);
  r.Source(12, 50000, 7);
  ASSERT_EQ(r.w.zip.Compress(), 12);
  // The user starts with disk 1 in the drive: the reader asks for the last one first.
  const auto back = ReadSet(r, r.Disk(1));
  EXPECT_EQ(back.extracted, 12);
  EXPECT_TRUE(back.codes.empty());
  ASSERT_FALSE(back.wanted.empty());
  EXPECT_EQ(back.wanted.front(), "last");
  EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "back"));
}

// Text that deflates to about a third: entries of 60 KB cross a 64 KB disk inside their
// compressed data.
void TextSource(SpanRig& r, int count, size_t size) {
  for (int i = 0; i < count; ++i) {
    std::string text;
    uint32_t x = 7u + static_cast<uint32_t>(i);
    while (text.size() < size) {
      x = x * 1103515245u + 12345u;
      text += "word" + std::to_string((x >> 16) % 5000) + ((x & 0x100) ? " " : "\n");
    }
    text.resize(size);
    writerfixture::Put(r.d / ("src/t" + std::to_string(100 + i) + ".txt"), text);
  }
}

TEST(SpanWriteReadBack, DeflatedEntriesCrossingDisksAreReadBack) {
  SpanRig r(64 * 1024);
  r.w.zip.SetCompressMethod(cmDeflate);
  TextSource(r, 8, 60000);
  // One entry whose data covers a whole disk and goes on to a third.
  writerfixture::Put(r.d / "src/big.bin", writerfixture::Random(150000, 9));
  ASSERT_EQ(r.w.zip.Compress(), 9);
  ASSERT_GE(r.UsedDisks().size(), 2u);
  const auto back = ReadSet(r);
  EXPECT_LE(back.wanted.size(), 20u);
  EXPECT_EQ(back.extracted, 9);
  EXPECT_TRUE(back.codes.empty());
  EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "back"));
}

TEST(SpanWriteReadBack, IncompressibleAndEncipheredDeflatedEntriesCrossingDisksAreReadBack) {
  for (const std::string password : {"", "secret"}) {
    SCOPED_TRACE(password);
    SpanRig r(64 * 1024);
    r.w.zip.SetCompressMethod(cmDeflate);
    if (!password.empty()) r.w.zip.SetPassword(password);
    for (int i = 0; i < 5; ++i)
      writerfixture::Put(r.d / ("src/t" + std::to_string(i) + ".txt"), writerfixture::Random(30000, 40 + i));
    ASSERT_EQ(r.w.zip.Compress(), 5);
    ASSERT_GE(r.UsedDisks().size(), 3u);
    const auto back = ReadSet(r, {}, password);
    EXPECT_LE(back.wanted.size(), 20u);
    EXPECT_EQ(back.extracted, 5);
    EXPECT_TRUE(back.codes.empty());
    EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "back"));
  }
}

TEST(SpanWriteReadBack, DirectoryStartingOnAnEarlierDiskIsFollowed) {
  SpanRig r(64 * 1024);
  // Long names make a directory of well over one disk.
  for (int i = 0; i < 300; ++i)
    writerfixture::Put(r.d / ("src/" + std::string(150, 'n') + std::to_string(1000 + i) + ".bin"),
                       writerfixture::Random(100, 5000u + static_cast<uint32_t>(i)));
  ASSERT_EQ(r.w.zip.Compress(), 300);
  const auto used = r.UsedDisks();
  ASSERT_GE(used.size(), 3u);
  const auto end = EndOf(Slurp(used.back() + "/set.zip"));
  ASSERT_TRUE(end);
  ASSERT_LT(end->DirectoryDisk + 1u, used.size());  // the directory starts on an earlier disk
  const auto back = ReadSet(r);
  EXPECT_EQ(back.extracted, 300);
  EXPECT_TRUE(back.codes.empty());
  EXPECT_TRUE(SpanRig::SameTree(r.d / "src", r.d / "back"));
}

}  // namespace

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
ReadBack ReadSet(SpanRig& r, const std::string& startWith = {}) {
  ReadBack out;
  const auto used = r.UsedDisks();
  if (!startWith.empty()) r.drive.ReinsertDisk(startWith);
  unzipfixture::Reader reader(r.d / "floppy/set.zip", r.d / "back");
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

}  // namespace

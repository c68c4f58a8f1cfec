// An archive that reaches 4 GiB gets the engine's own 26-byte end record with a 64-bit
// directory offset, and entries past 4 GiB (or of 4 GiB and more) carry the tag-100 extra field:
// 8 bytes in the local header, 10 in the central one. The input is a sparse file, so only the
// archive itself takes disk space.
#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include "archive/qrnEndian.h"
#include "archive/qrnZipRecords.h"
#include "tests/archive/writer_fixture.h"

using namespace writerfixture;

namespace {

constexpr int64_t k4GiB = int64_t{1} << 32;

int64_t FreeBytes(const std::string& path) {
  struct statvfs s {};
  if (statvfs(path.c_str(), &s) != 0) return 0;
  return static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
}

TEST(InteropWriterLarge, FourGiBSwitchesToTheLargeRecords) {
  Folder d;
  if (FreeBytes(d.Path()) < 3 * k4GiB) GTEST_SKIP() << "needs 12 GiB free for the archive and its copy";
  const int64_t bigSize = k4GiB + 1000;
  Put(d / "src/a_small_first.txt", "first");
  Put(d / "src/big.img", "");
  std::filesystem::resize_file(d / "src/big.img", static_cast<uintmax_t>(bigSize));
  Put(d / "src/z_after.txt", "after the big one");

  Writer w(d / "out.zip", d / "src");
  w.zip.SetDeflateType(dtDeflateS);
  w.zip.SetTempDir(d.Path());
  ASSERT_EQ(w.zip.Compress(), 3);
  EXPECT_TRUE(w.errors.empty());

  std::ifstream in(d / "out.zip", std::ios::binary);
  in.seekg(0, std::ios::end);
  const int64_t size = in.tellg();
  ASSERT_GT(size, k4GiB);
  std::vector<uint8_t> tail(26);
  in.seekg(size - 26);
  in.read(reinterpret_cast<char*>(tail.data()), 26);
  const auto end = TLargeEndRecord::Decode(tail.data(), tail.size());
  ASSERT_TRUE(end);
  ASSERT_EQ(end->Signature, kLargeEndRecordSignature);
  EXPECT_EQ(end->TotalEntries, 3);
  ASSERT_GT(static_cast<int64_t>(end->DirectoryOffset), k4GiB);
  std::vector<uint8_t> dir(end->DirectorySize);
  in.seekg(static_cast<std::streamoff>(end->DirectoryOffset));
  in.read(reinterpret_cast<char*>(dir.data()), static_cast<std::streamsize>(dir.size()));

  size_t at = 0;
  int seen = 0;
  while (at + 46 <= dir.size()) {
    const auto c = TCentralHeader::Decode(dir.data() + at, dir.size() - at);
    ASSERT_TRUE(c);
    const std::string name(reinterpret_cast<const char*>(dir.data() + at + 46), c->NameLength);
    const uint8_t* extra = dir.data() + at + 46 + c->NameLength;
    if (name == "big.img") {
      ASSERT_EQ(c->ExtraLength, 10);
      const auto x = TZip64Extra::DecodeCentral(extra, c->ExtraLength);
      ASSERT_TRUE(x);
      EXPECT_EQ(x->UnpackedHigh, 1);
      EXPECT_EQ(x->PackedHigh, 1);
      EXPECT_EQ(c->UnpackedSize, 1000u);
      ++seen;
    } else if (name == "z_after.txt" || name == "a_small_first.txt") {
      // Only an entry whose header lies past 4 GiB needs the field.
      const int64_t offset = c->LocalHeaderOffset + (c->ExtraLength == 10
                                                         ? (int64_t{TZip64Extra::DecodeCentral(extra, 10)->OffsetHigh} << 32)
                                                         : 0);
      std::vector<uint8_t> local(30);
      in.seekg(offset);
      in.read(reinterpret_cast<char*>(local.data()), 30);
      const auto l = TLocalHeader::Decode(local.data(), 30);
      ASSERT_TRUE(l);
      EXPECT_EQ(l->Signature, kLocalHeaderSignature) << name;
      if (offset >= k4GiB) {
        EXPECT_EQ(c->ExtraLength, 10) << name;
        EXPECT_EQ(l->ExtraLength, 8) << name;
      } else {
        EXPECT_EQ(c->ExtraLength, 0) << name;
        EXPECT_EQ(l->ExtraLength, 0) << name;
      }
      EXPECT_EQ(l->PackedSize, c->PackedSize) << name;
      ++seen;
    }
    at += 46 + c->NameLength + c->ExtraLength + c->CommentLength;
  }
  EXPECT_EQ(seen, 3);

  // The writer finds its own large record again when it reads the archive.
  Writer r(d / "out.zip");
  r.zip.SetSwitch(swRead);
  int read = 0;
  r.zip.OnRead = [&](TObject*, int32_t, int32_t) { ++read; };
  r.zip.Compress();
  EXPECT_EQ(read, 3);
}

}  // namespace

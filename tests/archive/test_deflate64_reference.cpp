// Deflate64 entries of real archives (commons-compress, sharpcompress, 7-Zip) and archives 7-Zip
// makes at test time decode to their recorded size and CRC-32, also when the packed bytes
// arrive in small and odd pieces.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "deflate64_fixture.h"
#include "unzip_fixture.h"
#include "zip_fixture.h"

namespace {

const std::string kRef = std::string(TARVELO_TESTDATA) + "/reference/";

struct TManifestRow {
  std::string Archive, Name;
  uint64_t Size = 0;
  uint32_t Crc = 0;
};

std::vector<TManifestRow> Deflate64Rows() {
  std::vector<TManifestRow> rows;
  std::ifstream in(kRef + "MANIFEST.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    if (f.size() < 9 || f[4] != "9:deflate64") continue;
    rows.push_back({f[0], f[1], std::stoull(f[7]), static_cast<uint32_t>(std::stoul(f[8], nullptr, 16))});
  }
  return rows;
}

// Decodes every entry of a zip through a file stream positioned at the entry's data.
void CheckArchive(const std::string& Path, int32_t Piece, const std::vector<TManifestRow>* Expect,
                  const std::string& Label) {
  const auto bytes = zipfixture::ReadAll(Path);
  const auto entries = zipfixture::Entries(bytes);
  ASSERT_FALSE(entries.empty()) << Path;
  for (const auto& e : entries) {
    if (e.central.Method != 9) continue;
    TFileStream32 file(Path, 0);
    file.Seek(static_cast<int64_t>(e.dataOffset), soBeginning);
    d64::TCollector c;
    c.Piece = Piece;
    TMemberHeader h;
    h.PackedSize = e.central.PackedSize;  // the local sizes are 0 behind a data descriptor
    EXPECT_TRUE(InflateMember(c, file, nullptr, h));
    EXPECT_EQ(c.Out.size(), e.central.UnpackedSize) << Label << " " << e.name << " piece " << Piece;
    EXPECT_EQ(c.FinalCrc(), e.central.Crc32) << Label << " " << e.name << " piece " << Piece;
    EXPECT_EQ(InflateMemberPackedLeft(), 0u) << e.name;
    EXPECT_LE(c.MaxWrite, 65536);
    if (Expect) {
      bool found = false;
      for (const auto& r : *Expect)
        if (Path.ends_with(r.Archive) && r.Crc == c.FinalCrc() &&
            r.Size == c.Out.size())
          found = true;
      EXPECT_TRUE(found) << "manifest disagrees for " << Label << " " << e.name;
    }
  }
}

TEST(Deflate64Reference, ManifestEntriesDecodeInAnyPieceSize) {
  const auto rows = Deflate64Rows();
  ASSERT_GE(rows.size(), 8u);
  std::vector<std::string> archives;
  for (const auto& r : rows)
    if (archives.empty() || archives.back() != r.Archive) archives.push_back(r.Archive);
  for (const auto& a : archives)
    for (int32_t piece : {65536, 1, 7, 4093}) CheckArchive(kRef + a, piece, &rows, a);
}

// Guards a Deflate64 member writing far past the size it declares (a few packed bytes could fill
// the disk) and a whole-run progress that stood at 0% through Deflate64 members: a member
// declaring 1000 bytes writes at most 1000, and an intact one moves the run to 100%.
TEST(Deflate64Reference, ExtractionStopsAtTheDeclaredSizeAndMovesTheRunsProgress) {
  unzipfixture::Folder d;
  auto bytes = zipfixture::ReadAll(kRef + "external/commons-compress/lorem-ipsum-deflate64.zip");
  zipfixture::WriteAll(d / "intact.zip", bytes);
  {
    unzipfixture::Reader r(d / "intact.zip", d / "intact");
    int archivePercent = 0;
    r.unzip.OnProgress = [&](TObject*, uint8_t, uint8_t byArchive) { archivePercent = byArchive; };
    EXPECT_EQ(r.unzip.Extract(), 1);
    EXPECT_EQ(r.unzip.FilesFailed(), 0);
    EXPECT_EQ(archivePercent, 100);
  }
  const auto entries = zipfixture::Entries(bytes);
  ASSERT_EQ(entries.size(), 1u);
  const size_t local = entries[0].central.LocalHeaderOffset;
  const size_t central = bytes.size() - TEndRecord::kSize - TCentralHeader::kSize - entries[0].name.size() -
                         entries[0].central.ExtraLength - entries[0].central.CommentLength;
  ASSERT_EQ(bytes[central + 2], 1);
  for (size_t at : {local + 22, central + 24}) {
    bytes[at] = 1000 & 0xFF;
    bytes[at + 1] = 1000 >> 8;
    bytes[at + 2] = bytes[at + 3] = 0;
  }
  zipfixture::WriteAll(d / "claims.zip", bytes);
  unzipfixture::Reader r(d / "claims.zip", d / "claims");
  r.unzip.Extract();
  EXPECT_LE(r.unzip.BytesWritten(), 1000);
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
}

std::string TempPath(const std::string& Name) {
  return std::string(TARVELO_BINARY_DIR) + "/d64_" + std::to_string(::getpid()) + "_" + Name;
}

// Data with repeats further back than 32 KiB and runs longer than 258 bytes, so that 7-Zip
// uses distance codes 30/31 and length code 285.
std::vector<uint8_t> FarRepeats() {
  std::vector<uint8_t> d;
  uint32_t x = 12345;
  std::vector<uint8_t> block(50000);
  for (auto& b : block) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 24);
  }
  for (int i = 0; i < 4; ++i) {
    d.insert(d.end(), block.begin(), block.end());
    d.insert(d.end(), 10000 + i * 100, static_cast<uint8_t>('z' + i));
  }
  for (int i = 0; i < 3000; ++i) {
    const std::string line = "line " + std::to_string(i % 97) + " of a log that repeats\n";
    d.insert(d.end(), line.begin(), line.end());
  }
  return d;
}

TEST(Deflate64Reference, SevenZipRoundTripsWithFarDistancesAndLongLengths) {
  const auto data = FarRepeats();
  const std::string in = TempPath("far.bin"), zip = TempPath("far.zip");
  zipfixture::WriteAll(in, data);
  std::remove(zip.c_str());
  const std::string cmd = "7zz a -tzip -mm=Deflate64 -mx=9 -bso0 -bsp0 '" + zip + "' '" + in + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "7zz not available";
  for (int32_t piece : {65536, 3, 65535}) {
    const auto bytes = zipfixture::ReadAll(zip);
    const auto entries = zipfixture::Entries(bytes);
    ASSERT_EQ(entries.size(), 1u);
    const auto& e = entries[0];
    ASSERT_EQ(e.central.Method, 9);
    std::vector<uint8_t> packed(bytes.begin() + static_cast<std::ptrdiff_t>(e.dataOffset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(e.dataOffset + e.central.PackedSize));
    d64::TCollector c;
    const auto out = d64::Inflate(packed, piece, &c);
    ASSERT_EQ(out.size(), data.size()) << piece;
    EXPECT_TRUE(out == data) << piece;
    EXPECT_EQ(c.FinalCrc(), e.central.Crc32);
  }
  std::remove(in.c_str());
  std::remove(zip.c_str());
}

}  // namespace

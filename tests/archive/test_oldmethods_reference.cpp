// Shrunk, reduced and imploded members of real archives decode to the size and CRC-32 that the
// manifest records, whatever the size of the pieces in which the packed bytes arrive.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "test_oldmethods_fixture.h"
#include "zip_fixture.h"

namespace {

struct TManifestRow {
  uint16_t Method = 0;
  int64_t Packed = 0;
  int64_t Size = 0;
  uint32_t Crc = 0;
};

const std::string kRef = std::string(TARVELO_TESTDATA) + "/reference/";

bool FindRow(const std::string& Archive, const std::string& Name, TManifestRow& Row) {
  std::ifstream in(kRef + "MANIFEST.tsv");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) f.push_back(cell);
    // Names are matched by their stored bytes (column 3), which holds for CP866 names too.
    std::string hex;
    for (unsigned char ch : Name) {
      static const char* digits = "0123456789abcdef";
      hex += digits[ch >> 4];
      hex += digits[ch & 15];
    }
    if (f.size() < 9 || f[0] != Archive || f[2] != hex) continue;
    Row.Method = static_cast<uint16_t>(std::stoi(f[4]));
    Row.Packed = std::stoll(f[6]);
    Row.Size = std::stoll(f[7]);
    Row.Crc = static_cast<uint32_t>(std::stoul(f[8], nullptr, 16));
    return true;
  }
  return false;
}

struct TCase {
  const char* Archive;
  const char* Name;
};

const TCase kCases[] = {
    {"external/commons-compress/SHRUNK.ZIP", "TEST1.XML"},
    {"external/commons-compress/SHRUNK.ZIP", "TEST2.XML"},
    {"external/sharpcompress/Zip.shrink.zip", "TECT.TXT"},
    {"external/sharpcompress/Zip.shrink.zip", "TEST.EXE"},
    {"external/zip2/legacy-shrink.zip", "FIRST.TXT"},
    {"external/sharpcompress/Zip.reduce1.zip", "TECT.TXT"},
    {"external/sharpcompress/Zip.reduce1.zip", "TEST.EXE"},
    {"external/sharpcompress/Zip.reduce1.zip", "TEST.JPG"},
    {"external/sharpcompress/Zip.reduce2.zip", "TEST.EXE"},
    {"external/sharpcompress/Zip.reduce2.zip", "TEST.JPG"},
    {"external/sharpcompress/Zip.reduce3.zip", "TEST.EXE"},
    {"external/sharpcompress/Zip.reduce3.zip", "TEST.JPG"},
    {"external/sharpcompress/Zip.reduce4.zip", "TEST.EXE"},
    {"external/sharpcompress/Zip.reduce4.zip", "TEST.JPG"},
    {"external/zip2/legacy-reduce.zip", "first.txt"},
    {"external/commons-compress/imploding-4Kdict-2trees.zip", "HEADER.TXT"},
    {"external/commons-compress/imploding-8Kdict-3trees.zip", "LICENSE.TXT"},
    {"external/commons-compress/lorem-ipsum-implode.zip", "LOREM.TXT"},
    {"external/zip2/legacy-implode.zip", "first.txt"},
    {"external/sharpcompress/Zip.implode.zip", "EXE/TEST.EXE"},
    {"external/sharpcompress/Zip.implode.zip", "\xe2\xa5\xe1\xe2.txt"},
};

// Decodes the member straight from the archive file, the stream positioned at its data.
void DecodeFromFile(oldtest::TCollector& Zip, const std::string& Path, const zipfixture::Entry& E,
                    int64_t PackedSize) {
  TFileStream32 in(Path, 0x20);
  in.Seek(static_cast<int64_t>(E.dataOffset), soBeginning);
  TOldMember m;
  m.Method = E.local.Method;
  m.Flags = E.local.Flags;
  m.PackedSize = PackedSize;
  m.UnpackedSize = E.central.UnpackedSize;
  EXPECT_TRUE(DecodeOldMember(Zip, in, nullptr, m));
}

const zipfixture::Entry* FindEntry(const std::vector<zipfixture::Entry>& All, const std::string& Name) {
  for (const auto& e : All)
    if (e.name == Name) return &e;
  return nullptr;
}

// A wrong bit order, a slip in the code tables or in the window arithmetic shows here as a
// wrong CRC; a refill that loses or repeats bytes shows with the odd piece sizes.
TEST(OldMethodsReference, EveryMemberDecodesInAnyPieceSize) {
  for (const TCase& c : kCases) {
    SCOPED_TRACE(std::string(c.Archive) + " " + c.Name);
    TManifestRow row;
    ASSERT_TRUE(FindRow(c.Archive, c.Name, row));
    const std::string path = kRef + c.Archive;
    auto all = zipfixture::Entries(zipfixture::ReadAll(path));
    const zipfixture::Entry* e = FindEntry(all, c.Name);
    ASSERT_NE(e, nullptr);
    ASSERT_EQ(e->local.Method, row.Method);
    ASSERT_EQ(e->central.PackedSize, row.Packed);
    for (int32_t piece : {32768, 4099, 13, 1}) {
      if (piece == 1 && row.Packed > 8000) continue;  // byte-wise refills only on the small members
      SCOPED_TRACE(piece);
      oldtest::TCollector zip;
      zip.Piece = piece;
      DecodeFromFile(zip, path, *e, row.Packed);
      EXPECT_EQ(static_cast<int64_t>(zip.Out.size()), row.Size);
      EXPECT_EQ(zip.FinalCrc(), row.Crc);
      EXPECT_TRUE(zip.Errors.empty());
    }
  }
}

// The data ends early: each decoder stops without crashing or raising, having written a sound
// prefix of the member and never more than it holds.
TEST(OldMethodsReference, TruncatedMembersEndQuietlyWithAPrefix) {
  for (const TCase& c : {kCases[3], kCases[6], kCases[17], kCases[19]}) {
    SCOPED_TRACE(std::string(c.Archive) + " " + c.Name);
    TManifestRow row;
    ASSERT_TRUE(FindRow(c.Archive, c.Name, row));
    const std::string path = kRef + c.Archive;
    auto all = zipfixture::Entries(zipfixture::ReadAll(path));
    const zipfixture::Entry* e = FindEntry(all, c.Name);
    ASSERT_NE(e, nullptr);
    oldtest::TCollector whole;
    DecodeFromFile(whole, path, *e, row.Packed);
    for (int64_t cut : {int64_t{0}, int64_t{1}, int64_t{5}, row.Packed / 2, row.Packed - 1}) {
      SCOPED_TRACE(cut);
      oldtest::TCollector zip;
      zip.Piece = 777;
      try {
        DecodeFromFile(zip, path, *e, cut);
      } catch (const E_RAISE&) {
        // Only an unshrink member with no first code may raise (Bad block).
        EXPECT_EQ(row.Method, 1);
        EXPECT_LT(cut, 2);
      }
      ASSERT_LT(zip.Out.size(), whole.Out.size());
      EXPECT_TRUE(std::equal(zip.Out.begin(), zip.Out.end(), whole.Out.begin()));
    }
  }
}

// Cancel set during the member stops it at the next refill: far less output, no exception.
TEST(OldMethodsReference, CancelStopsTheMember) {
  for (const TCase& c : {kCases[3], kCases[6], kCases[17]}) {
    SCOPED_TRACE(std::string(c.Archive) + " " + c.Name);
    TManifestRow row;
    ASSERT_TRUE(FindRow(c.Archive, c.Name, row));
    const std::string path = kRef + c.Archive;
    auto all = zipfixture::Entries(zipfixture::ReadAll(path));
    const zipfixture::Entry* e = FindEntry(all, c.Name);
    ASSERT_NE(e, nullptr);
    oldtest::TCollector zip;
    zip.Piece = 512;
    zip.CancelAfterWrites = 0;
    DecodeFromFile(zip, path, *e, row.Packed);
    EXPECT_LE(static_cast<int64_t>(zip.Out.size()), 2 * 32768);
    EXPECT_LT(static_cast<int64_t>(zip.Out.size()), row.Size);
  }
}

// A write the output refuses raises 25136 through the error model and ends the member.
TEST(OldMethodsReference, RefusedWriteRaisesWriteError) {
  const TCase& c = kCases[17];
  TManifestRow row;
  ASSERT_TRUE(FindRow(c.Archive, c.Name, row));
  const std::string path = kRef + c.Archive;
  auto all = zipfixture::Entries(zipfixture::ReadAll(path));
  const zipfixture::Entry* e = FindEntry(all, c.Name);
  ASSERT_NE(e, nullptr);
  oldtest::TCollector zip;
  zip.RefuseWrites = true;
  EXPECT_THROW(DecodeFromFile(zip, path, *e, row.Packed), E_RAISE);
  EXPECT_EQ(zip.Writes, 1);  // the last flush does not write the refused bytes again
  EXPECT_EQ(zip.Errors, std::vector<int32_t>{E_WRITE_ERROR});
}

}  // namespace

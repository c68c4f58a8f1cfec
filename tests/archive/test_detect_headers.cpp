// Detection of files with the headers of the other kinds built by hand, the fixed offsets of
// self-extractor stubs, the embedded scan, tar checksums, volume numbering and hostile zip end
// records. Each damaged file must end detection quietly with offsets inside the file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"
#include "archive/qrnregister.h"
#include "platform/files.h"
#include "test_detect_fixture.h"

using detectfixture::Put16;
using detectfixture::Put32;
using detectfixture::TempDir;
using zipfixture::WriteAll;

namespace {

TArcType DetectBytes(TRegisterQarno& root, const std::vector<uint8_t>& bytes) {
  TMemoryStream32 s;
  if (!bytes.empty()) s.Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  return root.DetectArcType(&s);
}

std::vector<uint8_t> WithHeader(std::vector<uint8_t> head, size_t size = 200, uint8_t fill = 0x20) {
  head.resize(size, fill);
  return head;
}

// A stored one-entry zip made by the test fixture.
std::vector<uint8_t> SmallZip() {
  const std::vector<uint8_t> data = {'d', 'a', 't', 'a'};
  return zipfixture::OneEntryArchive("n.txt", data, 0, 0x12345678, 4, 0x5A210000);
}

}  // namespace

TEST(DetectHeaders, FirstDwordTablePlainAndBehindAProgramImage) {
  struct Row {
    std::vector<uint8_t> head;
    TArcType plain, embedded;
  };
  const std::vector<Row> rows = {
      {{'B', 'H', 5, 7}, atBh, atBhExe},          {{'R', 'a', 'r', '!'}, atRar, atRarExe},
      {{'M', 'S', 'C', 'F'}, atCab, atCabExe},    {{0xB7, 0xDF, 'T', 'W'}, atArc, atArcExe},
      {{0x13, 0x5D, 0x65, 0x8C}, atMsGZ, atUnsupported}, {{'x', 'y', '-', 'l'}, atLha, atLhaExe},
      {{0x1A, 0x02}, atArc, atUnsupported},       {{0x1A, 0x09}, atArc, atArcExe},
      {{0x1A, 0x0B}, atPak, atPakExe},            {{0x1F, 0x9D}, atGZip, atUnsupported},
      {{'H', 'A'}, atHA, atUnsupported},          {{'Z', 'O'}, atZoo, atUnsupported},
      {{0xB7, 0x92}, atArcExe, atArcExe},         {{0x60, 0xEA, 4, 0}, atArj, atArjExe},
  };
  for (const Row& r : rows) {
    TRegisterQarno root;
    EXPECT_EQ(DetectBytes(root, WithHeader(r.head)), r.plain) << int(r.head[0]) << " " << int(r.head[1]);
    // An MZ header whose page counts end the image at 1000 (2 pages, 488 bytes in the last).
    std::vector<uint8_t> exe(1000, 0x20);
    exe[0] = 'M';
    exe[1] = 'Z';
    Put16(exe, 2, 488);
    Put16(exe, 4, 2);
    exe.insert(exe.end(), r.head.begin(), r.head.end());
    exe.resize(1200, 0x20);
    TArcType t = DetectBytes(root, exe);
    if (IsKnownArcType(r.embedded)) {
      EXPECT_EQ(t, r.embedded) << int(r.head[0]);
      const int64_t want = r.embedded == atArcExe && r.head[0] == 0xB7 ? 7716 : 1000;
      EXPECT_EQ(root.ArcOffset, want) << int(r.head[0]);
    } else {
      EXPECT_FALSE(IsKnownArcType(t)) << int(r.head[0]);
    }
  }
  TRegisterQarno root;
  EXPECT_EQ(DetectBytes(root, WithHeader({'P', 'K', 'G', '5'})), atUnknown);
  EXPECT_EQ(DetectBytes(root, WithHeader({'x', 'x', 'x', 'x', 'x', 'x', 'x', '*', '*', 'A', 'C', 'E', '*', '*'})), atAce);
  EXPECT_EQ(DetectBytes(root, WithHeader({'P', 'K', 'C', 'I'})), atNA);
}

TEST(DetectHeaders, SelfExtractorStubOffsetsAndTheEmbeddedScan) {
  TRegisterQarno root;
  auto mz = [](size_t size) {
    std::vector<uint8_t> b(size, 0x20);
    b[0] = 'M';
    b[1] = 'Z';
    return b;
  };
  auto arc = mz(7000);
  arc[6867] = 0x1A;
  arc[6868] = 0x08;
  EXPECT_EQ(DetectBytes(root, arc), atArcExe);
  EXPECT_EQ(root.ArcOffset, 6867);
  auto lha = mz(2100);
  lha[1947] = '-', lha[1948] = 'l', lha[1949] = 'h', lha[1950] = '5', lha[1951] = '-';
  EXPECT_EQ(DetectBytes(root, lha), atLhaExe);
  EXPECT_EQ(root.ArcOffset, 1945);
  auto zip = mz(8000);
  Put32(zip, 7612, kLocalHeaderSignature);
  EXPECT_EQ(DetectBytes(root, zip), atZipExe);
  EXPECT_EQ(root.ArcOffset, 7612);

  // Past 17000 bytes of program, found by the scan only.
  auto rar = mz(40000);
  for (int i = 0; i < 4; ++i) rar[30000 + i] = static_cast<uint8_t>("Rar!"[i]);
  EXPECT_EQ(DetectBytes(root, rar), atRarExe);
  EXPECT_EQ(root.ArcOffset, 30000);
  // An ACE mark too near the start of a plain file has no header before it: no negative offset.
  std::vector<uint8_t> ace = {'x', '*', '*', 'A', 'C', 'E', '*', '*'};
  ace.resize(100, 0x20);
  EXPECT_EQ(DetectBytes(root, ace), atNA);
  EXPECT_EQ(root.ArcOffset, 0);
  std::vector<uint8_t> lhaLater(300, 0x20);
  lhaLater[40] = '-', lhaLater[41] = 'l', lhaLater[42] = 'h', lhaLater[44] = '-';
  EXPECT_EQ(DetectBytes(root, lhaLater), atLhaExe);
  EXPECT_EQ(root.ArcOffset, 38);
}

TEST(DetectHeaders, LeadingZerosTarChecksumsAndShortFiles) {
  TempDir d;
  TRegisterQarno root;
  // Zero bytes, then a local header without any directory: the archive starts after the zeros.
  std::vector<uint8_t> z(37, 0);
  for (uint8_t c : std::initializer_list<uint8_t>{'P', 'K', 3, 4}) z.push_back(c);
  z.resize(200, 0x41);
  EXPECT_EQ(DetectBytes(root, z), atZip);
  EXPECT_EQ(root.ArcOffset, 37);
  EXPECT_EQ(root.DirectoryFlags & 1, 1);
  // An LHA archive behind a 128-byte header of zeros.
  std::vector<uint8_t> lh(300, 0);
  lh[130] = '-', lh[131] = 'l', lh[132] = 'h';
  lh[128] = 0x20;
  EXPECT_EQ(DetectBytes(root, lh), atLha);
  EXPECT_EQ(root.ArcOffset, 128);
  // All zeros: nothing, and no read past the head.
  EXPECT_EQ(DetectBytes(root, std::vector<uint8_t>(40000, 0)), atNA);

  ASSERT_TRUE(d.Run("echo hi > f && tar cf t.tar f"));
  auto tar = zipfixture::ReadAll(d / "t.tar");
  EXPECT_EQ(DetectBytes(root, tar), atTar);
  tar[0] ^= 1;  // the stored checksum no longer matches
  EXPECT_EQ(DetectBytes(root, tar), atNA);
  EXPECT_EQ(root.ArcOffset, 0);
  // A volume header first: the next header decides, and the archive starts after the first.
  ASSERT_TRUE(d.Run("tar cf v.tar -V VOL f"));
  EXPECT_EQ(DetectBytes(root, zipfixture::ReadAll(d / "v.tar")), atTar);
  EXPECT_EQ(root.ArcOffset, 512);
  EXPECT_EQ(ParseOctal(std::string("0001750\0", 8)), 01750);
  EXPECT_EQ(ParseOctal(" 17 9x"), 017);

  // 19 bytes: no kind, yet the file's date.
  WriteAll(d / "short.zip", std::vector<uint8_t>{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  struct utimbuf t = {1700000000, 1700000000};
  ASSERT_EQ(::utime((d / "short.zip").c_str(), &t), 0);
  root.SetArchiveFile(d / "short.zip");
  EXPECT_EQ(root.ArcType(), atNA);
  EXPECT_EQ(root.ArchiveDate, platform::UnixTimeToLocalDosTime(1700000000));
  EXPECT_EQ(DetectBytes(root, {}), atNA);
  EXPECT_EQ(root.ArchiveDate, kDefaultDosDateTime);  // a stream without a file
  EXPECT_EQ(root.DetectArcType(nullptr), atNA);
}

TEST(DetectHeaders, VolumeNumberingByExtension) {
  TempDir d;
  std::vector<uint8_t> arj = {0x60, 0xEA, 4, 0};
  arj.resize(100, 0x20);
  std::vector<uint8_t> rar = {'R', 'a', 'r', '!'};
  rar.resize(100, 0x20);
  struct Row {
    std::string name;
    const std::vector<uint8_t>* bytes;
    int32_t number;
    char letter;
  };
  for (const Row& r : std::vector<Row>{{"x.a01", &arj, 2, 'a'},
                                        {"x.arj", &arj, 1, 'a'},
                                        {"noext", &arj, 1, 'a'},
                                        {"x.r00", &rar, 1, 'r'},
                                        {"x.rar", &rar, 0, 'q'},
                                        {"x.part99999999999", &rar, INT32_MAX, 'p'}}) {
    WriteAll(d / r.name, *r.bytes);
    TRegisterQarno root;
    root.SetArchiveFile(d / r.name);
    EXPECT_EQ(root.VolumeNumber, r.number) << r.name;
    EXPECT_EQ(root.VolumeLetter, r.letter) << r.name;
  }
}

TEST(DetectHostile, EncipheredEndRecordAndCentralHeaderAreDecipheredInPlace) {
  auto zip = SmallZip();
  const auto plain = zip;
  const size_t end = zip.size() - 22;
  const size_t central = GetLE32(std::span<const uint8_t>(zip).subspan(end), 16);
  zip[end + 1] = 'L';
  zip[central + 1] = 'L';
  TRegisterQarno::EncipherHeader(std::span<uint8_t>(zip).subspan(end), hkEnd);
  TRegisterQarno::EncipherHeader(std::span<uint8_t>(zip).subspan(central, 46), hkCentral);
  TRegisterQarno root;
  EXPECT_EQ(DetectBytes(root, zip), atZip);
  EXPECT_EQ(root.ArcOffset, static_cast<int64_t>(central));
  EXPECT_EQ(root.DirectoryFlags, 7);
  EXPECT_TRUE(std::equal(root.EndRecordBuf.begin() + 4, root.EndRecordBuf.end(), plain.begin() + static_cast<long>(end) + 4));
  EXPECT_TRUE(std::equal(root.CentralHeaderBuf.begin() + 4, root.CentralHeaderBuf.end(),
                         plain.begin() + static_cast<long>(central) + 4));
}

TEST(DetectHostile, DamagedEndRecordsEndQuietlyInsideTheFile) {
  const auto zip = SmallZip();
  const size_t end = zip.size() - 22;
  std::vector<std::vector<uint8_t>> cases;
  auto edit = [&](size_t at, uint32_t v, int width) {
    auto b = zip;
    if (width == 2) Put16(b, at, v);
    else Put32(b, at, v);
    cases.push_back(b);
  };
  edit(end + 12, 0xFFFFFFFFu, 4);  // directory size past the file
  edit(end + 16, 0xFFFFFFF0u, 4);  // directory offset past the file
  edit(end + 20, 0xFFFF, 2);       // comment length past the end
  edit(end + 10, 0xFFFF, 2);       // huge entry count
  edit(end + 12, 0, 4);            // directory size 0: D lands on the end record
  cases.push_back(std::vector<uint8_t>(zip.begin(), zip.end() - 5));  // end record cut short
  {
    auto b = zip;  // a large end record claiming a 64-bit offset past everything
    b.resize(end);
    for (uint8_t c : std::initializer_list<uint8_t>{'P', '[', 5, 6}) b.push_back(c);
    b.resize(end + 26, 0xFF);
    cases.push_back(b);
  }
  {
    auto b = zip;  // a Zip64 locator and record whose directory size exceeds its position
    std::vector<uint8_t> z64(76, 0);
    Put32(z64, 0, kZip64EndRecordSignature);
    Put32(z64, 40, 0xFFFFFFFFu);
    Put32(z64, 56, kZip64LocatorSignature);
    Put32(z64, 64, 10);
    b.insert(b.begin() + static_cast<long>(end), z64.begin(), z64.end());
    cases.push_back(b);
  }
  for (size_t i = 0; i < cases.size(); ++i) {
    TRegisterQarno root;
    const TArcType t = DetectBytes(root, cases[i]);
    EXPECT_TRUE(IsZipFamily(t) || t == atNA) << i;
    EXPECT_GE(root.ArcOffset, 0) << i;
    EXPECT_LE(root.ArcOffset, static_cast<int64_t>(cases[i].size())) << i;
  }
  // Every truncation and every byte of the archive set to 0xFF and to 0.
  for (size_t cut = 0; cut <= zip.size(); ++cut) {
    TRegisterQarno root;
    DetectBytes(root, std::vector<uint8_t>(zip.begin(), zip.begin() + static_cast<long>(cut)));
    EXPECT_GE(root.ArcOffset, 0);
    EXPECT_LE(root.ArcOffset, static_cast<int64_t>(cut));
  }
  for (size_t i = 0; i < zip.size(); ++i) {
    for (uint8_t v : {uint8_t{0}, uint8_t{0xFF}}) {
      auto b = zip;
      b[i] = v;
      TRegisterQarno root;
      DetectBytes(root, b);
      EXPECT_GE(root.ArcOffset, 0);
    }
  }
}

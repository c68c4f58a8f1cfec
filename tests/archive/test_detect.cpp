// Archive-type detection of archives made here by the peers (Info-ZIP, 7-Zip, bsdtar, Python,
// tar, gzip), of the reference archives, and of self-extractors built by hand.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "archive/qrnEndian.h"
#include "archive/qrnStreams.h"
#include "archive/qrnregister.h"
#include "platform/volumes.h"
#include "test_detect_fixture.h"

using detectfixture::TempDir;
using zipfixture::ReadAll;
using zipfixture::WriteAll;

namespace {

struct EndInfo {
  int64_t pos = -1;
  uint32_t dirOffset = 0, dirSize = 0;
};
EndInfo LastEndRecord(const std::vector<uint8_t>& z) {
  EndInfo e;
  for (size_t at = z.size() - 22 + 1; at-- > 0;) {
    if (z[at] == 'P' && z[at + 1] == 'K' && z[at + 2] == 5 && z[at + 3] == 6) {
      e.pos = static_cast<int64_t>(at);
      e.dirSize = GetLE32(std::span<const uint8_t>(z).subspan(at), 12);
      e.dirOffset = GetLE32(std::span<const uint8_t>(z).subspan(at), 16);
      return e;
    }
  }
  return e;
}

TArcType Detect(TRegisterQarno& root, const std::string& path) {
  root.SetArchiveFile(path);
  return root.ArcType();
}

// Two files to pack, one of them compressible.
void MakeInputs(const TempDir& d) {
  std::ofstream(d / "a.txt") << std::string(3000, 'a') << "end\n";
  std::ofstream(d / "b.bin") << "0123456789";
}

}  // namespace

TEST(DetectPeers, ZipOfEveryPeerGivesDirectoryAndAllThreeRecords) {
  TempDir d;
  MakeInputs(d);
  ASSERT_TRUE(d.Run("zip -q info.zip a.txt b.bin && echo 'a comment' | zip -qz info.zip"));
  ASSERT_TRUE(d.Run("7zz a -tzip -bd seven.zip a.txt b.bin"));
  ASSERT_TRUE(d.Run("bsdtar --format zip -cf bsd.zip a.txt b.bin"));
  // Written to a pipe, bsdtar pads the archive with zero bytes to a whole block: no damage.
  ASSERT_TRUE(d.Run("bsdtar --format zip -cf - a.txt b.bin | cat > padded.zip"));
  ASSERT_TRUE(d.Run("python3 -c \"import zipfile; z=zipfile.ZipFile('py.zip','w',zipfile.ZIP_DEFLATED); "
                    "z.write('a.txt'); z.write('b.bin'); z.comment=b'pc'; z.close()\""));
  for (const char* name : {"info.zip", "seven.zip", "bsd.zip", "padded.zip", "py.zip"}) {
    const auto bytes = ReadAll(d / name);
    const EndInfo e = LastEndRecord(bytes);
    TRegisterQarno root;
    EXPECT_EQ(Detect(root, d / name), atZip) << name;
    EXPECT_EQ(root.ArcOffset, e.dirOffset) << name;
    EXPECT_EQ(root.DirectoryFlags, 7) << name;
    EXPECT_EQ(root.CommentPos, e.pos + 22) << name;
    EXPECT_EQ(root.SfxShift, 0u) << name;
    EXPECT_EQ(root.ArchiveSize, static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(GetLE32(root.CentralHeaderBuf, 0), kCentralHeaderSignature);
    EXPECT_EQ(GetLE32(root.LocalHeaderBuf, 0), kLocalHeaderSignature);
    EXPECT_TRUE(root.Damage.empty()) << name << ": " << root.Damage;
  }
}

TEST(DetectPeers, JarByExtensionWhateverItsCase) {
  TempDir d;
  MakeInputs(d);
  ASSERT_TRUE(d.Run("zip -q x.jar a.txt && cp x.jar Y.JAR && cp x.jar z.jarx"));
  TRegisterQarno root;
  EXPECT_EQ(Detect(root, d / "x.jar"), atJar);
  EXPECT_EQ(root.VolumeLetter, 'j');
  EXPECT_EQ(root.VolumeNumber, 0);
  EXPECT_EQ(Detect(root, d / "Y.JAR"), atJar);
  EXPECT_EQ(Detect(root, d / "z.jarx"), atZip);
}

TEST(DetectPeers, Zip64DirectoryComesFromTheZip64Record) {
  TempDir d;
  MakeInputs(d);
  ASSERT_TRUE(d.Run("zip -q -fz big.zip a.txt b.bin"));
  for (const std::string& path : {d / "big.zip", std::string(TARVELO_TESTDATA) + "/reference/generated/zip64-infozip-fz.zip"}) {
    const auto bytes = ReadAll(path);
    const EndInfo e = LastEndRecord(bytes);
    TRegisterQarno root;
    EXPECT_EQ(Detect(root, path), atZip) << path;
    EXPECT_EQ(root.DirectoryFlags, 1 | 2 | 4 | 8 | 16) << path;
    const uint64_t recordAt = GetLE64(root.Zip64LocatorBuf, 8);
    const uint64_t dirSize = GetLE64(root.Zip64EndRecordBuf, 40);
    EXPECT_EQ(recordAt, static_cast<uint64_t>(e.pos - 76)) << path;
    EXPECT_EQ(root.ArcOffset, static_cast<int64_t>(recordAt - dirSize)) << path;
    EXPECT_EQ(root.ArcOffset, static_cast<int64_t>(GetLE64(root.Zip64EndRecordBuf, 48))) << path;
  }
}

TEST(DetectPeers, TarGzipAndUueOfThePeers) {
  TempDir d;
  MakeInputs(d);
  ASSERT_TRUE(d.Run("tar cf gnu.tar a.txt b.bin && bsdtar --format ustar -cf ustar.tar a.txt && "
                    "gzip -c a.txt > a.gz && tar czf both.tgz a.txt"));
  TRegisterQarno root;
  EXPECT_EQ(Detect(root, d / "gnu.tar"), atTar);
  EXPECT_EQ(root.ArcOffset, 0);
  EXPECT_EQ(Detect(root, d / "ustar.tar"), atTar);
  EXPECT_EQ(Detect(root, d / "a.gz"), atGZip);
  EXPECT_EQ(Detect(root, d / "both.tgz"), atGZip);

  std::ofstream(d / "mail.txt") << "Hello,\r\nsee the file.\r\n\r\nbegin 644 a.txt\r\nM86%A86%A\r\n`\r\nend\r\n";
  EXPECT_EQ(Detect(root, d / "mail.txt"), atUUE);
  std::ofstream(d / "m.txt") << "intro line\nbegin  x\nM86%A86%A\n";
  EXPECT_EQ(Detect(root, d / "m.txt"), atUUE);
  std::ofstream(d / "plain.txt") << "just some text that is long enough\nMore text\n";
  EXPECT_EQ(Detect(root, d / "plain.txt"), atNA);
}

TEST(DetectPeers, EveryReferenceArchiveIsOfTheZipFamily) {
  const std::string ref = std::string(TARVELO_TESTDATA) + "/reference/";
  std::ifstream manifest(ref + "MANIFEST.tsv");
  std::string line, last;
  std::getline(manifest, line);
  int seen = 0;
  while (std::getline(manifest, line)) {
    const std::string archive = line.substr(0, line.find('\t'));
    if (archive == last) continue;
    last = archive;
    TRegisterQarno root;
    const TArcType t = Detect(root, ref + archive);
    // The last part of a split set names a later disk in its end record.
    const bool split = archive.find("split") != std::string::npos || archive.find(".multi.") != std::string::npos;
    EXPECT_EQ(t, split ? atZipMV : atZip) << archive;
    EXPECT_TRUE(root.DirectoryFlags & 2) << archive;
    ++seen;
  }
  EXPECT_GT(seen, 25);
}

TEST(DetectSpanned, SplitSetPartsAreMultiVolumeOnAFixedDiskAndSpannedOnALabelledRemovableOne) {
  TempDir d;
  std::ofstream(d / "big.bin") << [] {
    std::string s;
    for (int i = 0; i < 200000; ++i) s += static_cast<char>((i * 7919) >> 3);
    return s;
  }();
  ASSERT_TRUE(d.Run("zip -q -0 -s 64k set.zip big.bin"));
  TRegisterQarno root;
  EXPECT_EQ(Detect(root, d / "set.zip"), atZipMV);
  EXPECT_EQ(Detect(root, d / "set.z01"), atZipMV);  // starts with the split marker PK 07 08
  EXPECT_EQ(root.DirectoryFlags, 1);

  platform::SimulatedDrive drive(d / "floppy", 1 << 20, "PKBACK# 001", 0x1234);
  std::filesystem::copy_file(d / "set.z01", drive.Path() + "/set.z01");
  EXPECT_EQ(Detect(root, drive.Path() + "/set.z01"), atZipDS);
  drive.InsertDisk(d / "disk2", "pkback# 002", 0x99);
  std::filesystem::copy_file(d / "set.zip", drive.Path() + "/set.zip");
  EXPECT_EQ(Detect(root, drive.Path() + "/set.zip"), atZipDS);  // the label is upper-cased
  drive.InsertDisk(d / "disk3", "BACKUP", 0x98);
  std::filesystem::copy_file(d / "set.zip", drive.Path() + "/set.zip");
  EXPECT_EQ(Detect(root, drive.Path() + "/set.zip"), atZipMV);
}

TEST(DetectSfx, ZipBehindAProgramStubOfUnknownSize) {
  TempDir d;
  MakeInputs(d);
  ASSERT_TRUE(d.Run("zip -q inner.zip a.txt b.bin"));
  std::vector<uint8_t> stub(3000, 0x90);
  stub[0] = 'M';
  stub[1] = 'Z';
  WriteAll(d / "stub", stub);
  ASSERT_TRUE(d.Run("cat stub inner.zip > sfx.exe"));
  const EndInfo e = LastEndRecord(ReadAll(d / "inner.zip"));
  ASSERT_EQ(ReadAll(d / "sfx.exe").size(), 3000 + ReadAll(d / "inner.zip").size());
  TRegisterQarno root;
  EXPECT_EQ(Detect(root, d / "sfx.exe"), atZipExe);
  EXPECT_EQ(root.ArcOffset, 3000 + e.dirOffset);  // where the directory really lies
  EXPECT_EQ(root.SfxShift, 3000u);
  EXPECT_EQ(root.DirectoryFlags, 7);  // the first local header found through the shift

  // Offsets fixed up by `zip -A`: the stored offsets are right, no shift.
  ASSERT_TRUE(d.Run("cp sfx.exe fixed.exe && zip -qA fixed.exe"));
  EXPECT_EQ(Detect(root, d / "fixed.exe"), atZipExe);
  EXPECT_EQ(root.SfxShift, 0u);
  EXPECT_EQ(root.DirectoryFlags, 7);
}

TEST(DetectSfx, ArchiveOffsetFromTheStubsStringResources) {
  TempDir d;
  MakeInputs(d);
  ASSERT_TRUE(d.Run("zip -q inner.zip a.txt"));
  const auto inner = ReadAll(d / "inner.zip");
  const EndInfo e = LastEndRecord(inner);
  std::vector<uint8_t> pe = detectfixture::MakePe({});
  const size_t at = pe.size() + 100;
  pe = detectfixture::MakePe({{1, u"junk"}, {2, detectfixture::U16(std::to_string(at))}});
  ASSERT_LT(pe.size(), at);
  // String 1 is no number: the loop stops before string 2, and the directory search finds it.
  pe.resize(at, 0);
  auto file = pe;
  file.insert(file.end(), inner.begin(), inner.end());
  WriteAll(d / "a.exe", file);
  TRegisterQarno root;
  EXPECT_EQ(Detect(root, d / "a.exe"), atZipExe);
  EXPECT_EQ(root.ArcOffset, static_cast<int64_t>(at + e.dirOffset));

  // A number in string 1 names the archive; a RAR header there is taken as it is.
  std::vector<uint8_t> rar = detectfixture::MakePe({{1, detectfixture::U16(std::to_string(at))}});
  rar.resize(at, 0);
  const char rarHead[] = "Rar!\x1a\x07\x00 and more bytes of the archive";
  rar.insert(rar.end(), rarHead, rarHead + sizeof rarHead);
  WriteAll(d / "r.exe", rar);
  EXPECT_EQ(Detect(root, d / "r.exe"), atRarExe);
  EXPECT_EQ(root.ArcOffset, static_cast<int64_t>(at));
  EXPECT_EQ(root.VolumeLetter, 'q');
  EXPECT_EQ(root.VolumeNumber, 0);

  // The number in string 1 names a zip: its directory is searched from there.
  auto z = detectfixture::MakePe({{1, detectfixture::U16(std::to_string(at))}});
  z.resize(at, 0);
  z.insert(z.end(), inner.begin(), inner.end());
  WriteAll(d / "z.exe", z);
  EXPECT_EQ(Detect(root, d / "z.exe"), atZipExe);
  EXPECT_EQ(root.ArcOffset, static_cast<int64_t>(at + e.dirOffset));
  EXPECT_EQ(root.DirectoryFlags, 7);
}

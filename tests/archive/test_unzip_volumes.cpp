// Archives in several pieces: Info-ZIP split volumes (name.z01 ... name.zip) through
// OnNextVolume, a missing handler that stops at the first boundary, and a spanned set on
// simulated removable disks labelled "PKBACK# 001" ... asked for through the disk events.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>

#include "platform/volumes.h"
#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

// A split archive of about 260 KB of data in 64 KB volumes: split.z01 .. split.z04, split.zip.
bool MakeSplit(const Folder& d) {
  if (!HaveTool("zip")) return false;
  Put(d / "src/big.bin", writerfixture::Random(150000, 11));
  Put(d / "src/text.txt", writerfixture::Text(300000));
  Put(d / "src/sub/more.bin", writerfixture::Random(90000, 12));
  Put(d / "src/small.txt", "small");
  return Shell("cd '" + d.Path() + "/src' && zip -q -s 64k -r ../split.zip .") == 0 &&
         Exists(d / "split.z02");
}

int VolumesOf(const Folder& d) {
  int n = 0;
  while (Exists(d / ("split.z0" + std::to_string(n + 1)))) ++n;
  return n + 1;
}

TEST(UnZipVolumes, SplitArchiveThroughOnNextVolume) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  Reader r(d / "split.zip", d / "dest");
  std::vector<std::string> asked;
  r.unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool exists, bool& cancel) {
    asked.push_back(NamePart(name) + "#" + id);
    cancel = !exists;
  };
  EXPECT_EQ(r.unzip.Extract(), 4);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
  EXPECT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), "split.z01#1");
}

TEST(UnZipVolumes, SplitArchiveWithoutOnNextVolumeStops) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  Reader r(d / "split.zip", d / "dest");
  r.unzip.Extract();
  ASSERT_GE(r.Count(E_EVENT_NOT_ASSIGNED), 1);
  EXPECT_EQ(r.errors[0].ext, "OnNextVolume");
  EXPECT_EQ(r.Count(E_EVENT_NOT_ASSIGNED), 1);  // the run is cancelled: asked once
}

TEST(UnZipVolumes, CancelledVolumeEndsTheMemberAsFailed) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  Reader r(d / "split.zip", d / "dest");
  int asked = 0;
  r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string&, bool, bool& cancel) {
    cancel = ++asked > 2;
  };
  r.unzip.Extract();
  EXPECT_GE(r.Count(E_USER_CANCELED), 1);
  EXPECT_GE(r.unzip.FilesFailed(), 1);
}

// The split set of d as a spanned one: each volume on a disk of its own labelled "PKBACK# nnn",
// under the archive's own name, in folders disk1, disk2, ...; the last disk is in the drive.
std::unique_ptr<platform::SimulatedDrive> SpannedDisks(const Folder& d, int volumes) {
  auto label = [](int n) {
    char b[32];
    std::snprintf(b, sizeof b, "PKBACK# %03d", n);
    return std::string(b);
  };
  for (int n = 1; n <= volumes; ++n) {
    const std::string disk = d / ("disk" + std::to_string(n));
    std::filesystem::create_directories(disk);
    const std::string from = n == volumes ? d / "split.zip" : d / ("split.z0" + std::to_string(n));
    std::filesystem::copy_file(from, disk + "/set.zip");
  }
  auto drive = std::make_unique<platform::SimulatedDrive>(d / "floppy", 1 << 20, label(volumes),
                                                          static_cast<uint32_t>(volumes),
                                                          d / ("disk" + std::to_string(volumes)));
  for (int n = 1; n < volumes; ++n) drive->InsertDisk(d / ("disk" + std::to_string(n)), label(n), static_cast<uint32_t>(n));
  drive->ReinsertDisk(d / ("disk" + std::to_string(volumes)));
  return drive;
}

// Disk events that put each disk asked for into the drive (write-protected when Protect), and
// record what was asked: "last", "first" or the disk's number.
void InsertDisksOnRequest(TUnZip& u, platform::SimulatedDrive& drive, const Folder& d, int volumes,
                          std::vector<std::string>& events, bool Protect = false) {
  u.OnGetZipLastDisk = [&drive, &d, &events, volumes, Protect](TObject*, bool& cancel) {
    events.push_back("last");
    drive.ReinsertDisk(d / ("disk" + std::to_string(volumes)), Protect);
    cancel = false;
  };
  u.OnGetZipFirstDisk = [&drive, &d, &events, Protect](TObject*, bool& cancel) {
    events.push_back("first");
    drive.ReinsertDisk(d / "disk1", Protect);
    cancel = false;
  };
  u.OnGetZipNextDisk = [&drive, &d, &events, volumes, Protect](TObject*, const std::string& disk, bool& cancel) {
    events.push_back(disk);
    const int n = std::stoi(disk);
    cancel = n > volumes || events.size() > 20;  // a disk refused again and again must not hang the test
    if (!cancel) drive.ReinsertDisk(d / ("disk" + std::to_string(n)), Protect);
  };
}

TEST(UnZipVolumes, SpannedSetOnSimulatedDisks) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  const int volumes = VolumesOf(d);
  const auto disks = SpannedDisks(d, volumes);
  platform::SimulatedDrive& drive = *disks;

  Reader r(drive.Path() + "/set.zip", d / "dest");
  ASSERT_EQ(r.unzip.ArcType(), atZipDS);
  std::vector<std::string> events;
  InsertDisksOnRequest(r.unzip, drive, d, volumes, events);
  EXPECT_EQ(r.unzip.Extract(), 4);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].ext;
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "first");
  EXPECT_EQ(r.unzip.ArchiveFile(), drive.Path() + "/set.zip");
}

TEST(UnZipVolumes, SpannedSetWithoutDiskEventsIsCancelled) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  const std::string disk = d / "diskN";
  std::filesystem::create_directories(disk);
  std::filesystem::copy_file(d / "split.zip", disk + "/set.zip");
  platform::SimulatedDrive drive(d / "floppy", 1 << 20, "PKBACK# 005", 5, disk);
  Reader r(drive.Path() + "/set.zip", d / "dest");
  ASSERT_EQ(r.unzip.ArcType(), atZipDS);
  EXPECT_EQ(r.unzip.Extract(), 0);
  ASSERT_GE(r.Count(E_EVENT_NOT_ASSIGNED), 1);
  EXPECT_EQ(r.errors[0].ext.rfind("OnGetZip", 0), 0u);
}

// Guards overlapping entries passing in split and spanned sets, where the single-file check did
// not look: fifty directory records over one member wrote it fifty times, and a member whose
// stored data quotes another member's header came out beside it. Positions of a set compare as
// (disk, offset), one base across its volumes; every record after the first over one header,
// and a member that runs over the next one's header (on its own volume or a later one), is
// refused as damaged, in a split set as on spanned disks.
TEST(UnZipVolumes, OverlappingEntriesOfASetAreRefusedAsDamaged) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip -s not available";
  const auto inner = Build({Stored("inner.txt", "quoted data")}, false);
  const std::string quoted(inner.begin(), inner.end());
  struct Case {
    const char* what;
    size_t before;  // random bytes of outer.bin before the quoted member; 0: the usual set
    int refused;
  };
  const std::vector<Case> cases = {{"fifty records over one member", 0, 49},
                                   {"a member quoting a header on its own volume", 20000, 1},
                                   {"a member quoting a header on the next volume", 70000, 1}};
  for (const auto& c : cases) {
    for (const bool spanned : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (spanned ? ", spanned" : ", split"));
      Folder d;
      if (c.before == 0) {
        ASSERT_TRUE(MakeSplit(d));
      } else {
        Put(d / "src/outer.bin", writerfixture::Random(c.before, 5) + quoted + writerfixture::Random(3000, 6));
        Put(d / "src/small.txt", "small");
        ASSERT_EQ(Shell("cd '" + (d / "src") + "' && zip -q -s 64k -0 ../split.zip outer.bin small.txt"), 0);
      }
      const int volumes = VolumesOf(d);
      std::vector<std::vector<uint8_t>> pieces;
      for (int n = 1; n <= volumes; ++n)
        pieces.push_back(zipfixture::ReadAll(n == volumes ? d / "split.zip" : d / ("split.z0" + std::to_string(n))));
      // The directory on the last volume, before the end record; records go in after it.
      std::vector<uint8_t>& last = pieces.back();
      const size_t endAt = last.size() - TEndRecord::kSize;
      auto end = TEndRecord::Decode(last.data() + endAt, TEndRecord::kSize);
      ASSERT_TRUE(end && end->DirectoryDisk == volumes - 1 && end->DirectoryOffset + end->DirectorySize == endAt);
      std::vector<uint8_t> added;
      if (c.before == 0) {
        auto big = TCentralHeader::Decode(last.data() + end->DirectoryOffset, TCentralHeader::kSize);
        size_t at = end->DirectoryOffset;
        while (std::string(reinterpret_cast<const char*>(last.data()) + at + TCentralHeader::kSize, big->NameLength) !=
               "big.bin") {
          at += TCentralHeader::kSize + big->NameLength + big->ExtraLength + big->CommentLength;
          big = TCentralHeader::Decode(last.data() + at, TCentralHeader::kSize);
          ASSERT_TRUE(big && big->Signature == kCentralHeaderSignature);
        }
        const size_t length = TCentralHeader::kSize + big->NameLength + big->ExtraLength + big->CommentLength;
        for (int i = 0; i < c.refused; ++i) added.insert(added.end(), last.begin() + at, last.begin() + at + length);
        end->TotalEntries = static_cast<uint16_t>(end->TotalEntries + c.refused);
      } else {
        // A directory record for the quoted member, where it stands in the set.
        int disk = -1;
        size_t offset = 0;
        for (size_t n = 0; n < pieces.size() && disk < 0; ++n) {
          const auto it = std::search(pieces[n].begin(), pieces[n].end(), inner.begin(), inner.begin() + 40);
          if (it != pieces[n].end()) {
            disk = static_cast<int>(n);
            offset = static_cast<size_t>(it - pieces[n].begin());
          }
        }
        ASSERT_EQ(disk, c.before < 60000 ? 0 : 1);
        const auto l = TLocalHeader::Decode(inner.data(), inner.size());
        TCentralHeader h;
        h.VersionMadeBy = 20;
        h.VersionNeeded = l->VersionNeeded;
        h.Method = l->Method;
        h.DosDateTime = l->DosDateTime;
        h.Crc32 = l->Crc32;
        h.PackedSize = l->PackedSize;
        h.UnpackedSize = l->UnpackedSize;
        h.NameLength = l->NameLength;
        h.DiskNumberStart = static_cast<uint16_t>(disk);
        h.ExternalAttributes = 0x20;
        h.LocalHeaderOffset = static_cast<uint32_t>(offset);
        const auto encoded = h.Encode();
        added.insert(added.end(), encoded.begin(), encoded.end());
        added.insert(added.end(), inner.begin() + TLocalHeader::kSize, inner.begin() + TLocalHeader::kSize + l->NameLength);
        end->TotalEntries = static_cast<uint16_t>(end->TotalEntries + 1);
      }
      end->EntriesOnDisk = end->TotalEntries;
      end->DirectorySize = static_cast<uint32_t>(end->DirectorySize + added.size());
      last.resize(endAt);
      last.insert(last.end(), added.begin(), added.end());
      const auto record = end->Encode();
      last.insert(last.end(), record.begin(), record.end());
      zipfixture::WriteAll(d / "split.zip", last);

      std::map<std::string, std::string> expected = Tree(d / "src");
      if (c.before != 0) {
        expected.erase("outer.bin");
        expected["inner.txt"] = "quoted data";
      }
      std::unique_ptr<platform::SimulatedDrive> drive;
      std::vector<std::string> events;
      std::unique_ptr<Reader> r;
      if (spanned) {
        drive = SpannedDisks(d, volumes);
        r = std::make_unique<Reader>(drive->Path() + "/set.zip", d / "dest");
        ASSERT_EQ(r->unzip.ArcType(), atZipDS);
        InsertDisksOnRequest(r->unzip, *drive, d, volumes, events);
      } else {
        r = std::make_unique<Reader>(d / "split.zip", d / "dest");
        r->unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
          cancel = !exists;
        };
      }
      r->unzip.Extract();
      EXPECT_EQ(Tree(d / "dest"), expected);
      EXPECT_EQ(r->unzip.FilesFailed(), c.refused);
      EXPECT_EQ(r->Count(E_BAD_FILE_HEADER), c.refused);
    }
  }
}

}  // namespace

namespace {

// A split set whose directory is larger than a volume, so it starts on an earlier one, with
// deflated entries whose data crosses volumes.
TEST(UnZipVolumes, DirectorySpanningVolumesAndDeflatedEntriesAcrossThem) {
  Folder d;
  if (!HaveTool("zip")) GTEST_SKIP() << "zip not available";
  for (int i = 0; i < 300; ++i)
    Put(d / ("src/" + std::string(150, 'n') + std::to_string(1000 + i) + ".txt"), "entry " + std::to_string(i));
  Put(d / "src/text.txt", writerfixture::Text(400000));
  Put(d / "src/mixed.bin", writerfixture::Random(70000, 21) + writerfixture::Text(70000));
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && zip -q -s 64k -r ../split.zip ."), 0);
  ASSERT_TRUE(Exists(d / "split.z03"));
  // The directory begins on a volume before the last one.
  const std::string last = Slurp(d / "split.zip");
  const size_t end = last.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);
  const auto dirDisk = static_cast<uint8_t>(last[end + 6]) | static_cast<uint8_t>(last[end + 7]) << 8;
  const auto lastDisk = static_cast<uint8_t>(last[end + 4]) | static_cast<uint8_t>(last[end + 5]) << 8;
  ASSERT_LT(dirDisk, lastDisk);

  Reader r(d / "split.zip", d / "dest");
  std::vector<std::string> asked;
  r.unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool exists, bool& cancel) {
    asked.push_back(NamePart(name) + "#" + id);
    cancel = !exists || asked.size() > 200;
  };
  EXPECT_EQ(r.unzip.Extract(), 302);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  EXPECT_TRUE(Tree(d / "dest") == Tree(d / "src"));  // byte for byte, without printing them
}

// A directory cut short (the end record promises more headers than it holds) is reported,
// never taken for the whole archive.
TEST(UnZipVolumes, DirectoryWithMissingHeadersIsReported) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  std::string last = Slurp(d / "split.zip");
  const size_t end = last.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);
  // One entry more on the disk and in total than the directory holds.
  last[end + 8] = static_cast<char>(last[end + 8] + 1);
  last[end + 10] = static_cast<char>(last[end + 10] + 1);
  Put(d / "split.zip", last);
  Reader r(d / "split.zip", d / "dest");
  r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
    cancel = !exists;
  };
  r.unzip.Extract();
  EXPECT_EQ(r.Count(E_BAD_FILE_HEADER), 1);
}

}  // namespace

namespace {

// Members of the older methods and of Deflate64 whose data crosses a volume: each set starts
// with a stored entry that fills most of the first volume, then a raw copy of the member taken
// from a reference archive, and Info-ZIP splits the whole into 64 KB volumes.
bool MakeOldMethodSplit(const Folder& d, const std::string& reference) {
  if (!HaveTool("zip") || !HaveTool("python3")) return false;
  const std::string script = R"PY(
import struct, sys, zipfile, zlib, os
src, out, pad = sys.argv[1], sys.argv[2], os.urandom(60000)
entries = [("pad.bin", 0, 0, zlib.crc32(pad), len(pad), len(pad), pad)]
with zipfile.ZipFile(src) as z:
    raw = open(src, "rb").read()
    for i in z.infolist():
        h = i.header_offset
        n, e = struct.unpack("<HH", raw[h + 26:h + 30])
        data = raw[h + 30 + n + e:h + 30 + n + e + i.compress_size]
        entries.append((i.filename, i.compress_type, i.flag_bits & 0x6, i.CRC, i.compress_size, i.file_size, data))
body, central = b"", b""
for name, method, flags, crc, csize, usize, data in entries:
    nb = name.encode()
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014b50, 20, 20, flags, method, 0, 0x21, crc, csize, usize,
                           len(nb), 0, 0, 0, 0, 0, len(body)) + nb
    body += struct.pack("<IHHHHHIIIHH", 0x04034b50, 20, flags, method, 0, 0x21, crc, csize, usize, len(nb), 0) + nb + data
end = struct.pack("<IHHHHIIH", 0x06054b50, 0, 0, len(entries), len(entries), len(central), len(body), 0)
open(out, "wb").write(body + central + end)
)PY";
  Put(d / "make.py", script);
  if (Shell("python3 '" + (d / "make.py") + "' '" + reference + "' '" + (d / "whole.zip") + "'") != 0) return false;
  return Shell("cd '" + d.Path() + "' && zip -q -s 64k whole.zip --out split.zip") == 0 && Exists(d / "split.z01");
}

TEST(UnZipVolumes, OlderMethodsAndDeflate64CrossingAVolumeAreReadBack) {
  for (const char* reference : {"external/commons-compress/lorem-ipsum-implode.zip",
                                "external/commons-compress/lorem-ipsum-deflate64.zip",
                                "external/sharpcompress/Zip.shrink.zip"}) {
    SCOPED_TRACE(reference);
    Folder d;
    const std::string path = std::string(TARVELO_TESTDATA) + "/reference/" + reference;
    if (!MakeOldMethodSplit(d, path)) GTEST_SKIP() << "zip or python3 not available";
    // Info-ZIP's own reading of the whole set is what the parts must give back.
    ASSERT_EQ(Shell("cd '" + d.Path() + "' && mkdir -p want && unzip -q whole.zip -d want"), 0);
    Reader r(d / "split.zip", d / "dest");
    int asked = 0;
    r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
      cancel = !exists || ++asked > 50;
    };
    const auto files = static_cast<int32_t>(Tree(d / "want").size());
    EXPECT_EQ(r.unzip.Extract(), files);
    EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
    EXPECT_EQ(r.unzip.FilesFailed(), 0);
    EXPECT_TRUE(Tree(d / "dest") == Tree(d / "want"));
  }
}

}  // namespace

namespace {

// Info-ZIP's Zip64 split set keeps its numbers in the Zip64 end record: the last volume must be
// taken for the end of a set, not for a whole archive of its own.
TEST(UnZipVolumes, Zip64SplitSetIsReadThroughItsLastVolume) {
  Folder d;
  if (!HaveTool("zip")) GTEST_SKIP() << "zip not available";
  Put(d / "src/big.bin", writerfixture::Random(150000, 31));
  Put(d / "src/text.txt", writerfixture::Text(200000));
  Put(d / "src/sub/small.txt", "small");
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && zip -q -fz -s 64k -r ../split.zip ."), 0);
  ASSERT_TRUE(Exists(d / "split.z02"));
  Reader r(d / "split.zip", d / "dest");
  EXPECT_EQ(r.unzip.ArcType(), atZipMV);
  EXPECT_EQ(r.unzip.DirectoryFlags & hfZip64End, hfZip64End);  // the numbers are in the Zip64 end record
  std::vector<std::string> asked;
  r.unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string& id, bool exists, bool& cancel) {
    asked.push_back(NamePart(name) + "#" + id);
    cancel = !exists || asked.size() > 20;
  };
  EXPECT_EQ(r.unzip.Extract(), 3);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  EXPECT_TRUE(Tree(d / "dest") == Tree(d / "src"));
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), "split.z01#1");
}

}  // namespace

namespace {

// Every volume of a set, the last one (the set's own name) at the end.
std::vector<std::string> VolumesIn(const std::string& folder, const std::string& base) {
  std::vector<std::string> v;
  for (int n = 1; Exists(folder + "/" + base + (n < 10 ? ".z0" : ".z") + std::to_string(n)); ++n)
    v.push_back(folder + "/" + base + (n < 10 ? ".z0" : ".z") + std::to_string(n));
  v.push_back(folder + "/" + base + ".zip");
  return v;
}

// Whichever volume of a split set the user opens, the whole set comes out, and the volumes are
// asked for from the first on, each after the one before it (never one skipped).
TEST(UnZipVolumes, SplitSetOpenedByAnyOfItsVolumesAsksForEveryVolumeInOrder) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip not available";
  Folder made;
  Put(made / "src/big.bin", writerfixture::Random(150000, 41));
  Put(made / "src/more.bin", writerfixture::Random(100000, 42));
  Put(made / "src/small.txt", "small");
  ASSERT_EQ(Shell("cd '" + made.Path() + "/src' && zip -q -s 64k ../split.zip big.bin more.bin small.txt"), 0);
  ASSERT_EQ(Shell("cd '" + made.Path() + "/src' && zip -q -fz -s 64k ../zip64.zip big.bin more.bin small.txt"), 0);
  const std::string ref = std::string(TARVELO_TESTDATA) + "/reference/";
  const std::vector<std::pair<std::string, std::string>> sets = {
      {made.Path(), "split"},
      {made.Path(), "zip64"},
      {ref + "generated", "split-infozip-64k"},
      {ref + "external/sharpcompress/split-infozip", "Infozip.nocomp.multi"},
      {ref + "external/sharpcompress/split-winzip", "WinZip26.nocomp.multi"}};
  for (const auto& [folder, base] : sets) {
    const auto volumes = VolumesIn(folder, base);
    ASSERT_GE(volumes.size(), 2u) << base;
    Folder d;
    Reader whole(volumes.back(), d / "whole");
    whole.unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
      cancel = !exists;
    };
    const int32_t files = whole.unzip.Extract();
    ASSERT_GT(files, 0) << base;
    for (const auto& volume : volumes) {
      SCOPED_TRACE(NamePart(volume));
      Reader r(volume, d / ("from-" + NamePart(volume)));
      std::vector<int> asked;
      r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string& id, bool exists, bool& cancel) {
        asked.push_back(std::stoi(id));
        cancel = !exists || asked.size() > 50;
      };
      EXPECT_EQ(r.unzip.Extract(), files);
      EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
      EXPECT_EQ(r.unzip.FilesFailed(), 0);
      EXPECT_TRUE(Tree(d / ("from-" + NamePart(volume))) == Tree(d / "whole"));
      ASSERT_FALSE(asked.empty());
      EXPECT_EQ(asked.front(), 1);
      for (size_t i = 1; i < asked.size(); ++i) EXPECT_TRUE(asked[i] == asked[i - 1] || asked[i] == asked[i - 1] + 1);
      EXPECT_EQ(asked.back(), static_cast<int>(volumes.size()));
      // The caller's archive is given back as it was detected.
      EXPECT_EQ(r.unzip.ArchiveFile(), volume);
      EXPECT_EQ(r.unzip.DirectoryFlags & hfEnd, volume == volumes.back() ? hfEnd : 0);
    }
  }

  // Without its last volume the first one is walked by its local headers: the member that
  // starts there is followed through the volumes after it, in order.
  std::filesystem::remove(made / "split.zip");
  Reader r(made / "split.z01", made / "salvaged");
  std::vector<int> asked;
  r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string& id, bool exists, bool& cancel) {
    asked.push_back(std::stoi(id));
    cancel = !exists || asked.size() > 50;
  };
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_TRUE(r.Passed("big.bin"));
  EXPECT_TRUE(Slurp(made / "salvaged/big.bin") == Slurp(made / "src/big.bin"));
  const std::vector<int> inOrder = {2, 3};
  EXPECT_EQ(asked, inOrder);
  // Entries whose headers lie on later volumes cannot be found: the missing volume is named.
  ASSERT_EQ(r.Count(E_FILE_NOT_FOUND), 1);
  EXPECT_EQ(NamePart(r.errors[0].file), "split.zip");
}

}  // namespace

namespace {

// A handler that neither cancels nor brings the disk or volume asked for is asked a bounded
// number of times; the run then ends with "is not accessible" instead of waiting for ever.
// Each handler gives up by itself after 1000 calls, so that the test ends either way.
TEST(UnZipVolumes, RequestsThatNeverBringTheVolumeEndTheRun) {
  constexpr int kGiveUp = 1000;
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  const int volumes = VolumesOf(d);
  {
    Folder m;
    for (const auto& e : std::filesystem::directory_iterator(d.Path()))
      if (e.is_regular_file()) std::filesystem::copy_file(e.path(), m / e.path().filename().string());
    std::filesystem::remove(m / "split.z02");
    Reader r(m / "split.zip", m / "dest");
    int asked = 0;
    r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
      if (!exists) cancel = ++asked >= kGiveUp;
    };
    r.unzip.Extract();
    EXPECT_EQ(asked, TDiskCommon::kMaxDiskRequests);
    EXPECT_EQ(r.Count(E_NOT_ACCESSIBLE), 1);
    EXPECT_EQ(r.Count(E_USER_CANCELED), 0);
  }

  const auto disks = SpannedDisks(d, volumes);
  platform::SimulatedDrive& drive = *disks;
  struct Case {
    const char* what;
    std::function<void(TUnZip&, int&)> arm;
  };
  const std::vector<Case> cases = {
      {"first disk never inserted",
       [&](TUnZip& u, int& asked) {
         u.OnGetZipLastDisk = [&](TObject*, bool& cancel) { cancel = ++asked >= kGiveUp; };
         u.OnGetZipFirstDisk = [&](TObject*, bool& cancel) { cancel = ++asked >= kGiveUp; };
       }},
      {"last disk never inserted",
       [&](TUnZip& u, int& asked) {
         drive.ReinsertDisk(d / "disk1");
         u.OnGetZipLastDisk = [&](TObject*, bool& cancel) { cancel = ++asked >= kGiveUp; };
       }},
      {"drive left empty",
       [&](TUnZip& u, int& asked) {
         drive.EjectDisk();
         u.OnDiskInDrvErr = [&](TObject*, bool& abort) { abort = ++asked >= kGiveUp; };
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    drive.ReinsertDisk(d / ("disk" + std::to_string(volumes)));
    Reader r(drive.Path() + "/set.zip", d / "dest");
    ASSERT_EQ(r.unzip.ArcType(), atZipDS);
    int asked = 0;
    c.arm(r.unzip, asked);
    EXPECT_EQ(r.unzip.Extract(), 0);
    EXPECT_EQ(asked, TDiskCommon::kMaxDiskRequests);
    EXPECT_EQ(r.Count(E_NOT_ACCESSIBLE), 1);
    EXPECT_EQ(r.Count(E_USER_CANCELED), 0);
  }
}

}  // namespace

namespace {

int PassedFiles(const Reader& r) {
  return static_cast<int>(std::count_if(r.verdicts.begin(), r.verdicts.end(), [](const Verdict& v) {
    return v.pass && !v.file.empty() && v.file.back() != '/';
  }));
}

// A split set that stops for lack of a volume, or of the handler to ask for one, leaves its
// remaining files out: they count as failed, so that the restore is not shown as complete.
TEST(UnZipVolumes, FilesLeftOutForLackOfAVolumeCountAsFailed) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  constexpr int kFiles = 4;
  {
    Reader r(d / "split.zip", d / "none");  // no OnNextVolume
    r.unzip.Extract();
    EXPECT_EQ(PassedFiles(r), 0);
    EXPECT_EQ(r.unzip.FilesFailed(), kFiles);
  }
  {
    Reader r(d / "split.zip", d / "refused");
    r.unzip.OnNextVolume = [&](TObject*, std::string& name, const std::string&, bool exists, bool& cancel) {
      cancel = !exists || NamePart(name) != "split.z01";
    };
    r.unzip.Extract();
    EXPECT_GE(r.unzip.FilesFailed(), 1);
    EXPECT_EQ(PassedFiles(r) + r.unzip.FilesFailed(), kFiles);
  }

  // A directory that starts on a volume that cannot be had: every entry it holds is left out.
  Folder big;
  for (int i = 0; i < 300; ++i)
    Put(big / ("src/" + std::string(150, 'n') + std::to_string(1000 + i) + ".txt"), "entry " + std::to_string(i));
  ASSERT_EQ(Shell("cd '" + big.Path() + "/src' && zip -q -s 64k -r ../split.zip ."), 0);
  const std::string last = Slurp(big / "split.zip");
  const size_t end = last.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);
  ASSERT_LT(static_cast<uint8_t>(last[end + 6]), static_cast<uint8_t>(last[end + 4]));  // directory disk < last
  Reader r(big / "split.zip", big / "dest");
  r.unzip.OnNextVolume = [&](TObject*, std::string&, const std::string&, bool, bool& cancel) { cancel = true; };
  r.unzip.Extract();
  EXPECT_EQ(r.unzip.FilesFailed(), 300);
}

}  // namespace

namespace {

// Reading needs no writable disk: a split set on a write-protected stick, and a spanned set
// on write-protected disks, are read whole.
TEST(UnZipVolumes, SetsOnWriteProtectedDisksAreRead) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  const int volumes = VolumesOf(d);
  {
    platform::SimulatedDrive stick(d / "stick", 4 << 20, "BACKUP", 7, d / "stickdisk");
    for (const auto& e : std::filesystem::directory_iterator(d.Path()))
      if (e.is_regular_file()) std::filesystem::copy_file(e.path(), stick.Path() + "/" + e.path().filename().string());
    stick.SetWriteProtected(true);
    Reader r(stick.Path() + "/split.zip", d / "fromstick");
    EXPECT_EQ(r.unzip.ArcType(), atZipMV);
    r.unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
      cancel = !exists;
    };
    EXPECT_EQ(r.unzip.Extract(), 4);
    EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
    EXPECT_TRUE(Tree(d / "fromstick") == Tree(d / "src"));
  }
  const auto disks = SpannedDisks(d, volumes);
  platform::SimulatedDrive& drive = *disks;
  drive.SetWriteProtected(true);
  Reader r(drive.Path() + "/set.zip", d / "fromdisks");
  EXPECT_EQ(r.unzip.ArcType(), atZipDS);
  std::vector<std::string> events;
  InsertDisksOnRequest(r.unzip, drive, d, volumes, events, true);
  EXPECT_EQ(r.unzip.Extract(), 4);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
  EXPECT_TRUE(Tree(d / "fromdisks") == Tree(d / "src"));
}

}  // namespace

namespace {

// A volume is opened as the temporary input stream: its reads count down BytesLeft and report
// progress, as an archive read for an update does. The reader, whose archive progress counts
// the bytes it writes, does not count the volumes' bytes a second time.
TEST(UnZipVolumes, VolumesAreReadThroughTheTemporaryInputStream) {
  Folder d;
  if (!MakeSplit(d)) GTEST_SKIP() << "zip -s not available";
  TUnZip u;
  u.SetArchiveFile(d / "split.zip");
  u.VolumeFileName = u.ArchiveFile();
  u.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) { cancel = !exists; };
  // OnTmpFileProgress asks for the progress of these reads, which comes through OnProgress.
  int reported = 0;
  u.OnTmpFileProgress = [](TObject*, uint8_t, uint8_t) {};
  u.OnProgress = [&](TObject*, uint8_t, uint8_t) { ++reported; };
  std::unique_ptr<TStream32> volume;
  ASSERT_TRUE(u.NextVolume(volume, 0, VolumesOf(d) - 1));
  u.BytesLeft = 1000;
  uint8_t buffer[100];
  EXPECT_EQ(volume->Read(buffer, 100), 100);
  EXPECT_EQ(u.BytesLeft, 900);
  EXPECT_EQ(reported, 1);

  Reader r(d / "split.zip", d / "dest");
  r.unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool exists, bool& cancel) {
    cancel = !exists;
  };
  std::vector<int> byArchive;
  r.unzip.OnProgress = [&](TObject*, uint8_t, uint8_t archive) { byArchive.push_back(archive); };
  EXPECT_EQ(r.unzip.Extract(), 4);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.unzip.BytesLeft, 0);
  ASSERT_FALSE(byArchive.empty());
  EXPECT_TRUE(std::is_sorted(byArchive.begin(), byArchive.end()));
  EXPECT_EQ(byArchive.back(), 100);
}

}  // namespace

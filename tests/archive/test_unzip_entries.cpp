// Extraction of whole archives: our own writer's output round-trips, the directory decides the
// order, damaged entries fail visibly while the others are still extracted, an archive cut
// before its directory is walked by its local headers, and folder entries.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/qrnEndian.h"
#include "platform/volumes.h"
#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

// A damaged archive extracts what it can: the files of tree, with badHeaders reports of a bad
// header and failed entries counted; Info-ZIP's test refuses the archive too.
void ExpectDamaged(const std::vector<uint8_t>& bytes, const std::map<std::string, std::string>& tree,
                   int badHeaders, int failed) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", bytes);
  Reader r(d / "x.zip", d / "dest");
  r.unzip.Extract();
  EXPECT_EQ(Tree(d / "dest"), tree);
  EXPECT_EQ(r.Count(E_BAD_FILE_HEADER), badHeaders);
  EXPECT_EQ(r.unzip.FilesFailed(), failed);
  if (HaveTool("unzip")) {
    EXPECT_NE(Shell("unzip -tq " + (d / "x.zip")), 0);
  }
}

// Text files <prefix>0.txt ... of size, size + step, ... bytes in d/src, zipped there by
// Info-ZIP into d/a.zip in the order of their names; false when zip failed.
bool ZipTexts(const Folder& d, const std::string& prefix, int count, size_t size, size_t step,
              std::map<std::string, std::string>& source) {
  for (int i = 0; i < count; ++i) {
    const std::string name = prefix + std::to_string(i) + ".txt";
    source[name] = writerfixture::Text(size + step * static_cast<size_t>(i));
    Put(d / ("src/" + name), source[name]);
  }
  return Shell("cd '" + (d / "src") + "' && zip -q ../a.zip " + prefix + "*.txt") == 0;
}

TEST(UnZipEntries, OwnWriterRoundTripWithFoldersDatesAndEmptyFiles) {
  Folder d;
  Put(d / "src/a.txt", "hello");
  Put(d / "src/sub/deep/b.txt", writerfixture::Text(200000));
  Put(d / "src/sub/rnd.bin", writerfixture::Random(70000, 7));
  Put(d / "src/empty.txt", "");
  writerfixture::Writer w(d / "out.zip", d / "src");
  ASSERT_EQ(w.zip.Compress(), 4);

  Reader r(d / "out.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 4);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
  EXPECT_EQ(r.unzip.BytesWritten(), 5 + 200000 + 70000);
  // The stored DOS date-time (two-second steps) comes back as the file's time.
  struct stat src {}, dst {};
  ASSERT_EQ(stat((d / "src/sub/deep/b.txt").c_str(), &src), 0);
  ASSERT_EQ(stat((d / "dest/sub/deep/b.txt").c_str(), &dst), 0);
  EXPECT_LE(std::abs(static_cast<long>(src.st_mtime - dst.st_mtime)), 2);
}

TEST(UnZipEntries, DirectoryOrderNotFileOrder) {
  Folder d;
  writerfixture::Put(d / "x.zip", "");
  auto zip = Build({Stored("first.txt", "1"), Stored("second.txt", "22"), Stored("third.txt", "333")}, true,
                   {2, 0, 1});
  zipfixture::WriteAll(d / "x.zip", zip);
  Reader r(d / "x.zip", d / "dest");
  std::vector<std::string> begun;
  r.unzip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool&) { begun.push_back(NamePart(f)); };
  EXPECT_EQ(r.unzip.Extract(), 3);
  EXPECT_EQ(begun, (std::vector<std::string>{"third.txt", "first.txt", "second.txt"}));
}

TEST(UnZipEntries, BadLocalHeaderIsReportedAndTheOthersStillExtract) {
  Folder d;
  auto bad = Stored("bad.txt", "broken");
  bad.badLocalSignature = true;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "aaa"), bad, Stored("c.txt", "ccc")}));
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 2);
  ASSERT_EQ(r.Count(E_BAD_FILE_HEADER), 1);
  EXPECT_EQ(r.errors[0].file, "bad.txt");
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
  EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{"a.txt", "aaa"}, {"c.txt", "ccc"}}));
}

TEST(UnZipEntries, ArchiveCutBeforeItsDirectory) {
  Folder d;
  zipfixture::WriteAll(d / "cut.zip", Build({Stored("a.txt", "alpha"), Stored("b/c.txt", "gamma")}, false));
  {
    Reader r(d / "cut.zip", d / "walked");
    EXPECT_EQ(r.unzip.Extract(), 2);
    EXPECT_EQ(Tree(d / "walked"), (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"b/c.txt", "gamma"}}));
  }
  {
    Reader r(d / "cut.zip", d / "declined");
    int asked = 0;
    r.unzip.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool&) { ++asked; };
    EXPECT_EQ(r.unzip.Extract(), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(Exists(d / "declined"));
  }
  {
    Reader r(d / "cut.zip", d / "accepted");
    r.unzip.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    EXPECT_EQ(r.unzip.Extract(), 2);
  }
}

// Guards an archive found inside another file that extracted nothing and reported nothing when
// its directory was missing: like a plain archive, it is walked by its local headers.
TEST(UnZipEntries, EmbeddedArchiveWithoutDirectoryIsWalkedByItsLocalHeaders) {
  Folder d;
  const std::string prefix = "a log line that came before the archive\n";
  auto zip = Build({Stored("a.txt", "alpha"), Stored("b/c.txt", "gamma")}, false);
  zip.insert(zip.begin(), prefix.begin(), prefix.end());
  zipfixture::WriteAll(d / "cut.zip", zip);
  Reader r(d / "cut.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{"a.txt", "alpha"}, {"b/c.txt", "gamma"}}));
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
}

TEST(UnZipEntries, DataDescriptorEntryWithoutDirectoryFailsInsteadOfPassingEmpty) {
  Folder d;
  auto dd = Stored("streamed.txt", "");
  dd.flags = kFlagDataDescriptor;
  dd.method = 8;
  auto zip = Build({dd}, false);
  const std::vector<uint8_t> deflated = {0x4B, 0x04, 0x00};  // "a"
  zip.insert(zip.end(), deflated.begin(), deflated.end());
  zipfixture::WriteAll(d / "dd.zip", zip);
  Reader r(d / "dd.zip", d / "dest");
  r.unzip.Extract();
  EXPECT_FALSE(r.Passed("streamed.txt"));
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
}

TEST(UnZipEntries, UnsupportedMethodFailsEvenWithCrcZero) {
  Folder d;
  auto tokened = Stored("tok.bin", "xyz");
  tokened.method = 7;
  auto zeroCrc = Stored("zero.bin", "");
  zeroCrc.method = 12;
  zeroCrc.data = Bytes("BZh9");
  zeroCrc.unpacked = 0;
  zeroCrc.crc = 0;
  zipfixture::WriteAll(d / "x.zip", Build({tokened, zeroCrc, Stored("ok.txt", "fine")}));
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 3);
  EXPECT_EQ(r.Count(E_UNSUPPORTED_METHOD), 2);
  EXPECT_EQ(r.Count(E_CRC_ERROR), 2);
  EXPECT_FALSE(r.Passed("tok.bin"));
  EXPECT_FALSE(r.Passed("zero.bin"));
  EXPECT_TRUE(r.Passed("ok.txt"));
  EXPECT_EQ(r.unzip.FilesFailed(), 2);
  EXPECT_FALSE(Exists(d / "dest/tok.bin"));
  EXPECT_EQ(Slurp(d / "dest/ok.txt"), "fine");
}

TEST(UnZipEntries, CrcFailureIsCountedReportedAndLeavesNoFile) {
  Folder d;
  auto e = Stored("c.txt", "content");
  e.crc ^= 1;
  zipfixture::WriteAll(d / "x.zip", Build({e}));
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(r.Count(E_CRC_ERROR), 1);
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
  EXPECT_FALSE(r.Passed("c.txt"));
  EXPECT_FALSE(Exists(d / "dest/c.txt"));
}

TEST(UnZipEntries, TruncatedMemberFailsItsSizeCheck) {
  Folder d;
  auto e = Stored("t.txt", "0123456789");
  e.unpacked = 20;  // the directory promises more than the member holds
  zipfixture::WriteAll(d / "x.zip", Build({e}));
  Reader r(d / "x.zip", d / "dest");
  r.unzip.Extract();
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
}

TEST(UnZipEntries, FolderEntriesWithAndWithoutCreateStoredDirs) {
  Folder d;
  auto dir = Stored("empty/", "");
  dir.attributes = 0x10;
  auto dir2 = Stored("holder/", "");
  dir2.attributes = 0x10;
  zipfixture::WriteAll(d / "x.zip", Build({dir, dir2, Stored("holder/in.txt", "in")}));
  {
    Reader r(d / "x.zip", d / "plain");
    r.unzip.SetCreateStoredDirs(false);
    int begun = 0;
    r.unzip.OnBegin = [&](TObject*, const std::string&, int32_t, bool&) { ++begun; };
    EXPECT_EQ(r.unzip.Extract(), 1);  // folders are not counted
    EXPECT_EQ(begun, 1);              // nor begun
    EXPECT_FALSE(Exists(d / "plain/empty"));
    EXPECT_EQ(Slurp(d / "plain/holder/in.txt"), "in");
    EXPECT_EQ(r.verdicts.size(), 3u);
    EXPECT_EQ(r.Failed(), 0);
  }
  {
    Reader r(d / "x.zip", d / "made");
    EXPECT_EQ(r.unzip.Extract(), 1);
    EXPECT_TRUE(IsFolder(d / "made/empty"));
    EXPECT_EQ(r.Failed(), 0);
  }
}

// Guards data dropped for a wrong attribute: an entry marked folder ($10) that holds data and
// whose name does not end in "/" comes out as a file, as Info-ZIP extracts it; one without data
// is still a folder.
TEST(UnZipEntries, FolderAttributeOnAnEntryWithDataGivesAFile) {
  Folder d;
  auto marked = Stored("notes.txt", "data under a folder attribute");
  marked.attributes = 0x10;
  auto bare = Stored("bare", "");
  bare.attributes = 0x10;
  zipfixture::WriteAll(d / "x.zip", Build({marked, bare}));
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{"notes.txt", "data under a folder attribute"}}));
  EXPECT_TRUE(IsFolder(d / "dest/bare"));
  EXPECT_EQ(r.Failed(), 0);
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  if (HaveTool("unzip")) {
    ASSERT_EQ(Shell("unzip -qo " + (d / "x.zip") + " notes.txt -d " + (d / "peer")), 0);
    EXPECT_EQ(Slurp(d / "peer/notes.txt"), Slurp(d / "dest/notes.txt"));
  }
}

// Guards a folder entry that could not be made passing unseen: a file of its name stands in the
// way; "Invalid directory" names it and the entry fails.
TEST(UnZipEntries, FolderThatCannotBeMadeIsReported) {
  Folder d;
  auto dir = Stored("taken/", "");
  dir.attributes = 0x10;
  zipfixture::WriteAll(d / "x.zip", Build({dir, Stored("free.txt", "f")}));
  Put(d / "dest/taken", "a file, not a folder");
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 1);
  ASSERT_EQ(r.Count(E_INVALID_DIRECTORY), 1);
  EXPECT_EQ(r.errors[0].file, d / "dest/taken/");
  EXPECT_FALSE(r.Passed("taken/"));
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
  EXPECT_EQ(Slurp(d / "dest/taken"), "a file, not a folder");
}

TEST(UnZipEntries, FileSpecSelectsEntries) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "a"), Stored("b.dat", "b"), Stored("sub/c.txt", "c"),
                                           Stored("README", "r")}));
  {
    Reader r(d / "x.zip", d / "txt");
    r.unzip.FileSpec().Clear();
    r.unzip.FileSpec().Add("*.txt");
    EXPECT_EQ(r.unzip.Extract(), 2);
    EXPECT_EQ(Tree(d / "txt"), (std::map<std::string, std::string>{{"a.txt", "a"}, {"sub/c.txt", "c"}}));
  }
  {
    Reader r(d / "x.zip", d / "flat");
    r.unzip.FileSpec().Clear();
    r.unzip.FileSpec().Add("*.txt");
    r.unzip.SetRecurseDirs(false);
    EXPECT_EQ(r.unzip.Extract(), 1);
  }
  {
    Reader r(d / "x.zip", d / "all");
    EXPECT_EQ(r.unzip.Extract(), 4);  // "*.*" also takes a name without an extension
  }
  {
    Reader r(d / "x.zip", d / "none");
    r.unzip.FileSpec().Clear();
    EXPECT_EQ(r.unzip.Extract(), 0);
  }
}

TEST(UnZipEntries, EmptyOrMissingArchive) {
  Folder d;
  Reader r(d / "missing.zip", d / "dest");
  int activated = 0;
  r.unzip.OnActivate = [&](TObject*) { ++activated; };
  EXPECT_EQ(r.unzip.Extract(), 0);
  EXPECT_EQ(r.Count(E_FILE_NOT_FOUND), 1);
  EXPECT_EQ(activated, 0);

  Put(d / "text.zip", std::string(100, 'x'));
  Reader t(d / "text.zip", d / "dest");
  EXPECT_EQ(t.unzip.Extract(), 0);
  EXPECT_EQ(t.Count(E_UNSUPPORTED_TYPE), 1);
}

// Guards a damaged directory of a single-file archive passing as a smaller archive: the listing
// stops at the first record that is not a central header, and the entries it lost must fail
// visibly, as Info-ZIP's test calls such an archive damaged too.
TEST(UnZipEntries, DirectoryCutShortInASingleFileIsReportedAndItsLostEntriesFail) {
  const auto zip = Build({Stored("a.txt", "alpha"), Stored("b.txt", "beta"), Stored("c.txt", "gamma")});
  std::vector<size_t> headers;
  for (size_t i = 0; i + 4 <= zip.size(); ++i)
    if (zip[i] == 'P' && zip[i + 1] == 'K' && zip[i + 2] == 1 && zip[i + 3] == 2) headers.push_back(i);
  ASSERT_EQ(headers.size(), 3u);
  const size_t end = zip.size() - TEndRecord::kSize;

  const std::map<std::string, std::string> first = {{"a.txt", "alpha"}};
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::map<std::string, std::string> tree;
    int failed;
  };
  std::vector<Case> cases;
  cases.push_back({"damaged signature", zip, first, 2});
  cases.back().bytes[headers[1] + 2] = 9;
  cases.push_back({"zeroed header", zip, first, 2});
  std::fill_n(cases.back().bytes.begin() + static_cast<std::ptrdiff_t>(headers[1]), TCentralHeader::kSize, 0);
  // Its directory's stated size holds just the three headers there: no entry was lost.
  cases.push_back({"end record promises five", zip, {{"a.txt", "alpha"}, {"b.txt", "beta"}, {"c.txt", "gamma"}}, 0});
  cases.back().bytes[end + 8] = 5;   // entries on this disk
  cases.back().bytes[end + 10] = 5;  // entries in all
  // The count agrees with what is listed; the directory's size says a header is missing.
  cases.push_back({"short of its stated size", zip, {{"a.txt", "alpha"}, {"b.txt", "beta"}}, 0});
  cases.back().bytes[headers[2] + 2] = 9;
  cases.back().bytes[end + 8] = 2;
  cases.back().bytes[end + 10] = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectDamaged(c.bytes, c.tree, 1, c.failed);
  }
}

// Guards the zip-bomb shapes: several central headers over one member, and a member whose
// stored data quotes the next member's header and data. Info-ZIP refuses both as overlapped;
// here the overlapping entries are refused as damaged and the rest still comes out.
TEST(UnZipEntries, OverlappingEntriesAreRefusedAsDamaged) {
  const std::string kernel(600, 'k');
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    std::map<std::string, std::string> tree;
    int refused;
  };
  std::vector<Case> cases;
  cases.push_back({"one member under three headers", Build({Stored("a.txt", kernel)}, true, {0, 0, 0}),
                   {{"a.txt", kernel}}, 2});
  // a.txt holds b.txt's local header and data; b.txt's central header points inside a.txt.
  const auto inner = Build({Stored("b.txt", kernel)}, false);
  auto quoted = Build({Stored("a.txt", std::string(inner.begin(), inner.end())), Stored("b.txt", kernel)});
  const size_t second = quoted.size() - TEndRecord::kSize - TCentralHeader::kSize - 5;
  const uint32_t inside = TLocalHeader::kSize + 5;
  for (int i = 0; i < 4; ++i) quoted[second + 42 + i] = static_cast<uint8_t>(inside >> (8 * i));
  cases.push_back({"quoted overlap", quoted, {{"b.txt", kernel}}, 1});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectDamaged(c.bytes, c.tree, c.refused, c.refused);
  }
}

// Guards a local header that disagrees with its directory record passing as the entry: one
// flipped byte of a local name wrote the data over another entry's file, and local sizes, CRC
// and method went unchecked. The directory names the entry, as every other tool lists it; such
// an entry fails, reported under the directory's name, and nothing is written for it. The same
// check stops a restore that mixes two backups: a smaller spanned set written over a larger one
// leaves the old set's last disks, and read from there, the old directory points into the new
// pieces, where new files of the old names must not come out as the old ones.
TEST(UnZipEntries, LocalHeaderThatDisagreesWithItsDirectoryRecordFailsTheEntry) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  Folder d;
  std::map<std::string, std::string> source;
  ASSERT_TRUE(ZipTexts(d, "file", 4, 3000, 100, source));
  const auto zip = zipfixture::ReadAll(d / "a.zip");
  const auto entries = zipfixture::Entries(zip);
  ASSERT_EQ(entries.size(), 4u);
  ASSERT_EQ(entries[1].central.Method, 8);
  const size_t local = entries[1].central.LocalHeaderOffset;
  struct Case {
    const char* what;
    size_t at;
    uint8_t flip;
  };
  const std::vector<Case> cases = {
      {"local name of another entry", local + TLocalHeader::kSize + 4, '1' ^ '0'},
      {"local CRC", local + 14, 0x01},
      {"local packed size", local + 18, 0x01},
      {"local unpacked size", local + 22, 0x01},
      {"local method stored", local + 8, 0x08},
  };
  auto others = source;
  others.erase("file1.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto bytes = zip;
    bytes[c.at] ^= c.flip;
    const std::string path = d / "bad.zip";
    zipfixture::WriteAll(path, bytes);
    // The peers call each of these damaged, one or another of them.
    int refused = 0;
    if (HaveTool("unzip")) refused += Shell("unzip -tq '" + path + "' >/dev/null 2>&1") != 0;
    if (HaveTool("7zz")) refused += Shell("7zz t '" + path + "' >/dev/null 2>&1") != 0;
    refused += Shell("python3 -c \"import sys,zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).testzip() is not None)\" '" +
                     path + "' >/dev/null 2>&1") != 0;
    EXPECT_GE(refused, 1);
    const std::string out = d / "out";
    std::filesystem::remove_all(out);
    Reader r(path, out);
    EXPECT_EQ(r.unzip.Extract(), 3);
    EXPECT_EQ(r.Count(E_BAD_FILE_HEADER), 1);
    for (const auto& e : r.errors) EXPECT_EQ(e.file, "file1.txt");
    EXPECT_EQ(r.unzip.FilesFailed(), 1);
    EXPECT_EQ(Tree(out), others);
  }

  // Ten files over four disks of 64 KB, then six new files of the same names and sizes over the
  // first two: the old set's third and last disks stay, and its end is read first.
  Folder m;
  std::map<std::string, std::string> old;
  for (int i = 0; i < 10; ++i) {
    const std::string name = "f" + std::to_string(100 + i) + ".bin";
    old[name] = writerfixture::Random(20000, 40 + static_cast<uint32_t>(i));
    Put(m / ("old/" + name), old[name]);
    if (i < 6) Put(m / ("new/" + name), writerfixture::Random(20000, 80 + static_cast<uint32_t>(i)));
  }
  for (const char* set : {"old", "new"})
    ASSERT_EQ(Shell("cd '" + (m / set) + "' && zip -q -s 64k -0 ../" + set + ".zip f1*.bin"), 0);
  ASSERT_TRUE(Exists(m / "old.z03") && !Exists(m / "old.z04") && Exists(m / "new.z01") && !Exists(m / "new.z02"));
  const std::vector<std::string> pieces = {m / "new.z01", m / "new.zip", m / "old.z03", m / "old.zip"};
  auto label = [](size_t n) {
    char b[32];
    std::snprintf(b, sizeof b, "PKBACK# %03zu", n);
    return std::string(b);
  };
  auto disk = [&m](size_t n) { return m / ("disk" + std::to_string(n)); };
  for (size_t n = 1; n <= pieces.size(); ++n) {
    std::filesystem::create_directories(disk(n));
    std::filesystem::copy_file(pieces[n - 1], disk(n) + "/set.zip");
  }
  platform::SimulatedDrive drive(m / "floppy", 1 << 20, label(4), 4, disk(4));
  for (size_t n = 1; n < pieces.size(); ++n) drive.InsertDisk(disk(n), label(n), static_cast<uint32_t>(n));
  drive.ReinsertDisk(disk(4));
  Reader r(m / "floppy/set.zip", m / "out");
  int requests = 0;
  r.unzip.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
    drive.ReinsertDisk(disk(4));
    cancel = ++requests > 50;
  };
  r.unzip.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
    drive.ReinsertDisk(disk(1));
    cancel = ++requests > 50;
  };
  r.unzip.OnGetZipNextDisk = [&](TObject*, const std::string& number, bool& cancel) {
    const size_t n = static_cast<size_t>(std::stoi(number));
    cancel = n < 1 || n > pieces.size() || ++requests > 50;
    if (!cancel) drive.ReinsertDisk(disk(n));
  };
  r.unzip.SetArchiveFile(m / "floppy/set.zip");
  ASSERT_EQ(r.unzip.ArcType(), atZipDS);
  r.unzip.Extract();
  // f100 to f105 lie in the new pieces, f106 where the new directory now stands; f107 to f109
  // are the old set's own, on its own disks.
  const std::map<std::string, std::string> kept = {
      {"f107.bin", old["f107.bin"]}, {"f108.bin", old["f108.bin"]}, {"f109.bin", old["f109.bin"]}};
  EXPECT_EQ(Tree(m / "out"), kept);
  EXPECT_EQ(r.unzip.FilesFailed(), 7);
  EXPECT_EQ(r.Count(E_BAD_FILE_HEADER), 7);
}

// Guards a member whose compressed data runs past its declared packed size passing: the
// deflate reader read on into what follows, the Deflate64 reader stopped at the declared size
// without its end, and what came out checked out. 7-Zip and Info-ZIP call it damaged. The data
// here is one stored block of the content and an empty last block (two bytes), with the
// declared size ending before those two bytes or after them.
TEST(UnZipEntries, CompressedDataRunningPastItsPackedSizeFails) {
  const std::string content = writerfixture::Text(5000);
  std::vector<uint8_t> stream = {0x00, static_cast<uint8_t>(content.size()), static_cast<uint8_t>(content.size() >> 8),
                                 static_cast<uint8_t>(~content.size()), static_cast<uint8_t>(~content.size() >> 8)};
  stream.insert(stream.end(), content.begin(), content.end());
  stream.push_back(0x03);  // last block, fixed codes, then the end-of-block code
  stream.push_back(0x00);
  for (const uint16_t method : {8, 9}) {
    for (const bool past : {false, true}) {
      SCOPED_TRACE(std::to_string(method) + (past ? " past its size" : " within its size"));
      Folder d;
      RawEntry e;
      e.name = "a.txt";
      e.method = method;
      e.data = stream;
      e.crc = Crc(content);
      e.unpacked = static_cast<uint32_t>(content.size());
      auto zip = Build({e, Stored("b.txt", "beta")});
      if (past) {
        // The declared size, in the local and the central header, two bytes short.
        const auto entries = zipfixture::Entries(zip);
        ASSERT_EQ(entries.size(), 2u);
        const size_t central = zip.size() - TEndRecord::kSize - 2 * TCentralHeader::kSize - 5 - 5;
        for (const size_t at : {size_t{18}, central + 20}) zip[at] = static_cast<uint8_t>(zip[at] - 2);
      }
      zipfixture::WriteAll(d / "x.zip", zip);
      if (HaveTool("unzip")) {
        EXPECT_EQ(Shell("unzip -tq '" + (d / "x.zip") + "' >/dev/null 2>&1") != 0, past);
      }
      if (HaveTool("7zz")) {
        EXPECT_EQ(Shell("7zz t '" + (d / "x.zip") + "' >/dev/null 2>&1") != 0, past);
      }
      Reader r(d / "x.zip", d / "dest");
      EXPECT_EQ(r.unzip.Extract(), 2);
      EXPECT_EQ(r.Passed("a.txt"), !past);
      EXPECT_TRUE(r.Passed("b.txt"));
      EXPECT_EQ(r.unzip.FilesFailed(), past ? 1 : 0);
      EXPECT_EQ(Tree(d / "dest").count("a.txt"), past ? 0u : 1u);
    }
  }
}

// Guards the count of failed entries taken from a damaged end record: an eight-entry archive
// whose end signature read as the enciphered one gave 63238 failed files. The entries lost are
// counted, at most as many as the directory could hold: the central headers that fit in what is
// left of it, or, when none of it was found, the members that stand before it.
TEST(UnZipEntries, FailedEntriesOfADamagedDirectoryAreBoundedByWhatItCouldHold) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  Folder d;
  std::map<std::string, std::string> source;
  ASSERT_TRUE(ZipTexts(d, "g", 8, 900, 50, source));
  const auto zip = zipfixture::ReadAll(d / "a.zip");
  const size_t end = zip.size() - TEndRecord::kSize;
  ASSERT_EQ(GetLE32(zip, end), kEndRecordSignature);
  const uint32_t directory = GetLE32(zip, end + 16);
  const uint32_t directorySize = GetLE32(zip, end + 12);
  std::vector<size_t> headers;
  for (size_t at = directory; at + 4 <= end; ++at)
    if (GetLE32(zip, at) == kCentralHeaderSignature) headers.push_back(at);
  ASSERT_EQ(headers.size(), 8u);
  auto promise = [end](std::vector<uint8_t>& bytes, uint16_t count) {
    for (const size_t at : {end + 8, end + 10}) PutLE16(bytes, at, count);
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    size_t out;
    int32_t leastFailed;
    int32_t mostFailed;
  };
  std::vector<Case> cases;
  cases.push_back({"end signature read as the enciphered one", zip, 0, 8, 8});
  cases.back().bytes[end + 1] = 'L';
  cases.push_back({"end record promises 65535, the directory is whole", zip, 8, 0, 0});
  promise(cases.back().bytes, 0xFFFF);
  cases.push_back({"end record promises 65535, the third header is damaged", zip, 2, 6,
                   static_cast<int32_t>(directorySize / TCentralHeader::kSize)});
  promise(cases.back().bytes, 0xFFFF);
  cases.back().bytes[headers[2] + 2] = 9;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder t;
    zipfixture::WriteAll(t / "x.zip", c.bytes);
    if (HaveTool("unzip")) {
      EXPECT_NE(Shell("unzip -tq '" + (t / "x.zip") + "' >/dev/null 2>&1"), 0);
    }
    Reader r(t / "x.zip", t / "dest");
    r.unzip.Extract();
    EXPECT_EQ(Tree(t / "dest").size(), c.out);
    EXPECT_GE(r.Count(E_BAD_FILE_HEADER), 1);
    EXPECT_GE(r.unzip.FilesFailed(), c.leastFailed);
    EXPECT_LE(r.unzip.FilesFailed(), c.mostFailed);
  }
}

// Guards an end record that counts no entries passing after members: the reader listed nothing
// from it and restored "0 files" with success, where Info-ZIP and 7-Zip call the archive
// damaged. The members before it are walked by their local headers and the damage is reported;
// an archive of nothing but its end record is still an empty archive.
TEST(UnZipEntries, AnEndRecordCountingNothingAfterMembersIsDamage) {
  if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  Folder d;
  std::map<std::string, std::string> source;
  ASSERT_TRUE(ZipTexts(d, "m", 3, 700, 40, source));
  const auto infoZip = zipfixture::ReadAll(d / "a.zip");
  std::vector<uint8_t> own;
  {
    writerfixture::Writer w(d / "own.zip", d / "src");
    ASSERT_EQ(w.zip.Compress(), 3);
    own = zipfixture::ReadAll(d / "own.zip");
  }
  // The end record's counts and directory size zeroed, the directory still before it.
  auto countsZeroed = [](std::vector<uint8_t> b) {
    const size_t end = b.size() - TEndRecord::kSize;
    for (const size_t at : {end + 8, end + 10, end + 12, end + 14}) PutLE16(b, at, 0);
    return b;
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    bool damaged;
  };
  std::vector<Case> cases = {
      {"Info-ZIP's end record counting nothing", countsZeroed(infoZip), true},
      {"our end record counting nothing", countsZeroed(own), true},
      {"an empty end record after members", Build({Stored("m0.txt", source["m0.txt"])}, false), true},
      {"nothing but an end record", {}, false},
  };
  const auto empty = TEndRecord{}.Encode();
  cases[2].bytes.insert(cases[2].bytes.end(), empty.begin(), empty.end());
  cases[3].bytes.assign(empty.begin(), empty.end());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder t;
    zipfixture::WriteAll(t / "x.zip", c.bytes);
    if (c.damaged && HaveTool("unzip")) {
      EXPECT_NE(Shell("unzip -tq '" + (t / "x.zip") + "' >/dev/null 2>&1"), 0);
    }
    Reader r(t / "x.zip", t / "dest");
    r.unzip.Extract();
    EXPECT_EQ(r.Count(E_BAD_FILE_HEADER) > 0, c.damaged);
    for (const auto& [name, content] : Tree(t / "dest")) EXPECT_EQ(content, source[name]) << name;
    if (!c.damaged) {
      EXPECT_TRUE(r.errors.empty());
    }
  }
}

// Guards members of a zip stored in a backup passing as the backup's own: with the backup's
// first headers and its end record damaged, the walk without a directory began at the stored
// zip's members, and they passed, so a restore put an old todo.txt or report.txt in place.
// The directory records where the walk ends decide: an end record that more of a directory
// follows closes an archive inside another, and an enclosing directory must list each member
// as its local header gives it. A backup damaged only at its end still gives its members.
TEST(UnZipEntries, MembersFoundWithoutADirectoryMustBeThoseOfTheDirectoryTheyLeadTo) {
  const std::string oldReport = "the OLD report", oldTodo = "an old list of things to do";
  const auto inner = Build({Stored("report.txt", oldReport), Stored("todo.txt", oldTodo)});
  const std::string innerBytes(inner.begin(), inner.end());
  const std::map<std::string, std::string> source = {
      {"report.txt", "the report of today"}, {"docs/old.zip", innerBytes}, {"notes.txt", "notes of today"}};
  const auto backup =
      Build({Stored("report.txt", source.at("report.txt")), Stored("docs/old.zip", innerBytes),
             Stored("notes.txt", source.at("notes.txt"))});
  const std::string b(backup.begin(), backup.end());
  const size_t innerAt = b.find(innerBytes);
  const size_t innerMembers = innerBytes.find(std::string("PK\x01\x02", 4));
  // The end record's directory size damaged: the end record leads to no directory.
  const auto endDamaged = [](std::string bytes) {
    ++bytes[bytes.size() - TEndRecord::kSize + 12];
    return bytes;
  };
  const std::string outerDirectory = b.substr(b.find(std::string("PK\x01\x02", 4), innerAt + innerBytes.size()));
  // The name of the first directory record said to run past the end of the file.
  const auto nameRunsOut = [](std::string directory) {
    directory[28] = directory[29] = '\xFF';
    return directory;
  };
  // The comment of the first directory record said to run past the end of the file.
  const auto commentRunsOut = [](std::string directory) {
    directory[32] = directory[33] = '\xFF';
    return directory;
  };
  // The first member's sizes left to a data descriptor, as a writer to a pipe leaves them.
  const auto sizesInDescriptor = [](std::string bytes) {
    bytes[6] = static_cast<char>(bytes[6] | kFlagDataDescriptor);
    for (size_t at = 18; at < 26; ++at) bytes[at] = '\0';
    return bytes;
  };
  // The stored zip's end record says that a comment of 65,535 bytes follows it.
  const auto commentRunsOn = [&](std::string bytes) {
    const size_t innerEnd = innerAt + innerBytes.size() - TEndRecord::kSize;
    bytes[innerEnd + 20] = bytes[innerEnd + 21] = '\xFF';
    return bytes;
  };
  struct Case {
    const char* what;
    std::string bytes;
    bool outerPasses;  // the backup's own files beside the stored zip pass
  };
  const Case cases[] = {
      {"the headers before the stored zip garbled",
       endDamaged(std::string(innerAt, 'x') + b.substr(innerAt)), false},
      {"the stored zip at the start of the file", endDamaged(b.substr(innerAt)), false},
      {"the stored zip's directory gone as well",
       endDamaged(std::string(innerAt, 'x') + innerBytes.substr(0, innerMembers) +
                    b.substr(innerAt + innerBytes.size())),
       false},
      {"junk between the stored zip's members and its directory, the backup's directory after it",
       endDamaged(innerBytes.substr(0, innerMembers) + "junk" + innerBytes.substr(innerMembers) + outerDirectory),
       false},
      {"the stored zip's first directory record cut short, the backup's directory after it",
       endDamaged(innerBytes.substr(0, innerMembers) + nameRunsOut(innerBytes.substr(innerMembers)) + outerDirectory),
       false},
      {"the stored zip's first directory record's comment said to run past the end, the backup's directory after it",
       endDamaged(innerBytes.substr(0, innerMembers) + commentRunsOut(innerBytes.substr(innerMembers)) +
                  outerDirectory),
       false},
      {"a member before the stored zip sized in its descriptor, the backup cut at its directory, the stored zip's "
       "comment said to run on",
       sizesInDescriptor(commentRunsOn(b)).substr(0, b.find(outerDirectory)), false},
      {"the backup's local header of the stored zip damaged, the backup cut in its directory, the stored zip's "
       "comment said to run on",
       [&] {
         std::string bytes = commentRunsOn(b);
         bytes[b.rfind(std::string("PK\x03\x04", 4), innerAt - 1) + 1] = 'k';
         return bytes.substr(0, b.find(outerDirectory) + TCentralHeader::kSize + 10);
       }(),
       false},
      {"a script before the backup cut at its directory, the stored zip's comment said to run on",
       "#!/bin/sh\nexit 0\n" + commentRunsOn(b).substr(0, b.find(outerDirectory)), true},
      {"the stored zip's end record damaged, the backup's directory after it",
       endDamaged(innerBytes.substr(0, innerBytes.size() - TEndRecord::kSize) + "PK\x05\x07" +
                  innerBytes.substr(innerBytes.size() - TEndRecord::kSize + 4) + outerDirectory),
       false},
      {"only the end record damaged", endDamaged(b), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder t;
    zipfixture::WriteAll(t / "x.zip", std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
    Reader r(t / "x.zip", t / "dest");
    r.unzip.Extract();
    EXPECT_GT(r.Count(E_BAD_FILE_HEADER), 0);
    for (const auto& [name, content] : Tree(t / "dest")) {
      EXPECT_NE(content, oldReport) << name;
      EXPECT_NE(content, oldTodo) << name;
    }
    for (const auto& v : r.verdicts) {
      if (!v.pass) continue;
      const std::string name = std::filesystem::relative(v.file, t / "dest").string();
      EXPECT_TRUE(source.count(name) && Slurp(v.file) == source.at(name)) << name << " passed as " << Slurp(v.file);
    }
    EXPECT_EQ(r.Passed("notes.txt") && r.Passed("report.txt"), c.outerPasses);
  }
}

// Guards the UTF-8 flag (bit 11) of a directory record counting for nothing against its local
// header: set in the directory only, "Отчёт №1.txt" stored in the DOS code page came out under a
// name of replacement characters, with success. A flag that the two headers give differently
// fails the entry as damaged, and an update refuses the archive.
TEST(UnZipEntries, TheUtf8FlagOfADirectoryRecordMustAgreeWithItsLocalHeader) {
  const std::string report = "Отчёт №1.txt";
  Folder d;
  Put(d / ("src/" + report), "the report");
  Put(d / "src/other.txt", "another file");
  {
    writerfixture::Writer w(d / "own.zip", d / "src");
    ASSERT_EQ(w.zip.Compress(), 2);
  }
  ASSERT_EQ(Shell("cd '" + (d / "src") + "' && python3 -c \"import zipfile; z = zipfile.ZipFile('../py.zip', 'w'); "
                  "[z.write(n) for n in ('" + report + "', 'other.txt')]; z.close()\""),
            0);
  // The flags of the header of kind Signature that the name's stored bytes follow.
  auto flagsOf = [](std::vector<uint8_t>& b, uint32_t signature, size_t nameAt, const std::string& name) {
    for (size_t at = 0; at + nameAt + name.size() <= b.size(); ++at) {
      if (GetLE32(b, at) == signature && std::memcmp(b.data() + at + nameAt, name.data(), name.size()) == 0)
        return at + (signature == kCentralHeaderSignature ? 8 : 6);
    }
    ADD_FAILURE() << "no header for the name";
    return size_t{0};
  };
  const auto own = zipfixture::ReadAll(d / "own.zip");
  const auto py = zipfixture::ReadAll(d / "py.zip");
  const std::string dosName = zipfixture::Entries(own)[0].name == "other.txt" ? zipfixture::Entries(own)[1].name
                                                                               : zipfixture::Entries(own)[0].name;
  struct Case {
    std::string what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases = {{"set in our directory only", own},
                             {"cleared in Python's directory only", py},
                             {"cleared in Python's local header only", py}};
  PutLE16(cases[0].bytes, flagsOf(cases[0].bytes, kCentralHeaderSignature, 46, dosName),
          GetLE16(own, flagsOf(cases[0].bytes, kCentralHeaderSignature, 46, dosName)) | kFlagUtf8);
  const size_t central = flagsOf(cases[1].bytes, kCentralHeaderSignature, 46, report);
  PutLE16(cases[1].bytes, central, GetLE16(py, central) & ~kFlagUtf8);
  const size_t local = flagsOf(cases[2].bytes, kLocalHeaderSignature, 30, report);
  PutLE16(cases[2].bytes, local, GetLE16(py, local) & ~kFlagUtf8);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder t;
    zipfixture::WriteAll(t / "x.zip", c.bytes);
    Reader r(t / "x.zip", t / "dest");
    r.unzip.Extract();
    EXPECT_EQ(r.Count(E_BAD_FILE_HEADER), 1);
    EXPECT_EQ(r.unzip.FilesFailed(), 1);
    EXPECT_EQ(Tree(t / "dest"), (std::map<std::string, std::string>{{"other.txt", "another file"}}));
    Put(t / "new/added.txt", "new");
    writerfixture::Writer w(t / "x.zip", t / "new");
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_BAD_FILE_HEADER));
  }
}

TEST(UnZipEntries, DamagedDirectoryFallsBackToTheLocalHeaders) {
  Folder d;
  auto zip = Build({Stored("a.txt", "alpha")});
  // Damage the directory's signature: the end record still promises one entry.
  const size_t dir = zip.size() - TEndRecord::kSize - TCentralHeader::kSize - 5;
  zip[dir] = 'X';
  zipfixture::WriteAll(d / "x.zip", zip);
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "dest/a.txt"), "alpha");
}

}  // namespace

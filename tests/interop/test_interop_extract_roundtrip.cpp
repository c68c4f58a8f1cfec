// Folder → archive (our writer, every way the programs can set it) → folder (our reader) gives
// back the same files, names, DOS dates and read-only bits, empty files and empty folders
// included. Russian names travel as CP866, names that CP866 cannot hold as UTF-8 with bit 11.
#include <gtest/gtest.h>

#include "tests/interop/extract_fixture.h"

using namespace extractfixture;

namespace {

struct RoundTripCase {
  const char* name;
  TDeflateType level = dtDeflateN;
  TCompressMethod method = cmDeflate;
  const char* password = "";
  bool encipherHeaders = false;
  bool inMemory = false;
  bool translate = true;  // TranslateOemChar on both sides
  size_t scale = 1;
};

Tree MakeRoundTripSource(const std::string& root, size_t scale) {
  MakeSource(root, {.scale = scale});
  Put(root + "/Документы/Отчёт за март.txt", Text(4000));
  Put(root + "/Документы/Пустой.txt", "");
  Put(root + "/日本/名前.txt", "utf-8 name");
  Put(root + "/a/b/c/d/deep.bin", Random(3000, 4));
  std::filesystem::create_directories(root + "/empty/inner");
  std::filesystem::create_directories(root + "/Пустая папка");
  int64_t when = 1420070401;  // 2015-01-01, odd seconds
  for (const char* name : {"/Документы/Отчёт за март.txt", "/Документы/Пустой.txt", "/日本/名前.txt",
                           "/a/b/c/d/deep.bin"})
    SetTime(root + name, when += 40001);
  chmod((root + "/a/b/c/d/deep.bin").c_str(), 0444);
  return Snapshot(root);
}

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, FolderArchiveFolderIsIdentical) {
  const RoundTripCase& c = GetParam();
  Folder d;
  const Tree source = MakeRoundTripSource(d / "src", c.scale);
  {
    writerfixture::Writer w(d / "a.zip", d / "src");
    w.zip.SetDeflateType(c.level);
    w.zip.SetCompressMethod(c.method);
    w.zip.SetPassword(c.password);
    w.zip.SetEncryptHeaders(c.encipherHeaders);
    w.zip.SetCompressionMethod(c.inMemory ? cmInMemory : cmTempFile);
    w.zip.SetTranslateOemChar(c.translate);
    w.zip.SetStoreEmptySubDirs(true);
    ASSERT_GT(w.zip.Compress(), 0);
    ASSERT_TRUE(w.errors.empty());
  }
  Reader r(d / "a.zip", d / "out", c.password);
  r.unzip.SetTranslateOemChar(c.translate);
  ExpectIntact(r, source, d / "out");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RoundTrip,
    ::testing::Values(RoundTripCase{"Stored", dtDeflateN, cmStore}, RoundTripCase{"SuperFast", dtDeflateS},
                      RoundTripCase{"Fast", dtDeflateF}, RoundTripCase{"Normal", dtDeflateN},
                      RoundTripCase{"Maximum", dtDeflateX},
                      RoundTripCase{"Enciphered", dtDeflateN, cmDeflate, "pass word"},
                      RoundTripCase{"EncipheredStored", dtDeflateN, cmStore, "\xD0\xBF\xD0\xB0\xD1\x80"},
                      RoundTripCase{"EncipheredHeaders", dtDeflateN, cmDeflate, "", true},
                      RoundTripCase{"EncipheredHeadersAndData", dtDeflateX, cmDeflate, "both", true},
                      RoundTripCase{"InMemory", dtDeflateN, cmDeflate, "", false, true},
                      RoundTripCase{"Untranslated", dtDeflateN, cmDeflate, "", false, false, false},
                      RoundTripCase{"LargeFiles", dtDeflateN, cmDeflate, "", false, false, true, 10}),
    [](const auto& info) { return std::string(info.param.name); });

// Our reader and Info-ZIP unzip read the same archive of ours into the same tree: names, bytes,
// dates, read-only bits and empty folders. Names are ASCII: this unzip converts every name of a
// DOS-made archive from its own OEM guess, even one flagged UTF-8.
TEST(RoundTripPeers, OurReaderAndUnzipAgree) {
  Folder d;
  MakeSource(d / "src");
  {
    writerfixture::Writer w(d / "a.zip", d / "src");
    w.zip.SetStoreEmptySubDirs(true);
    ASSERT_GT(w.zip.Compress(), 0);
  }
  ASSERT_EQ(Shell("unzip -q " + Q(d / "a.zip") + " -d " + Q(d / "unzip")), 0);
  Reader r(d / "a.zip", d / "out");
  r.Extract();
  EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
  ExpectSameTree(Snapshot(d / "unzip"), Snapshot(d / "out"));
}

// Guards a name that is not UTF-8 (the byte 0xFF, as old USB sticks and other systems leave
// them): it was stored as OEM text and came back from this reader as "bad\302\240name.txt", with
// no report. It comes back under its own bytes, an "add" run finds its entry again, and the
// peers find the bytes where they stand.
TEST(RoundTripPeers, ANameThatIsNotUtf8ComesBackUnderItsOwnBytes) {
  Folder d;
  const std::string file = "bad\xFF" "name.txt";
  const std::string folder = "old\xFE" "folder";
  Put(d / ("src/" + file), "first");
  Put(d / ("src/" + folder + "/inner.txt"), "inner");
  std::filesystem::create_directories(d / ("src/empty\xFF"));
  auto compress = [&](int32_t added) {
    writerfixture::Writer w(d / "a.zip", d / "src");
    w.zip.SetStoreEmptySubDirs(true);
    // The programs' answers: a changed file replaces its entry, an unchanged one keeps it.
    w.zip.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, int64_t,
                             int64_t, int32_t, int32_t, bool& replace) { replace = true; };
    w.zip.OnRenameDupeFile = [](TObject*, const std::string&, std::string&, bool& rename) { rename = false; };
    EXPECT_EQ(w.zip.Compress(), added);
    EXPECT_TRUE(w.errors.empty());
  };
  compress(3);
  {
    Reader r(d / "a.zip", d / "out");
    ExpectIntact(r, Snapshot(d / "src"), d / "out");
  }
  Put(d / ("src/" + file), "second, and longer");
  compress(1);
  EXPECT_EQ(writerfixture::EntriesOf(d / "a.zip").size(), 3u);
  {
    Reader r(d / "a.zip", d / "again");
    ExpectIntact(r, Snapshot(d / "src"), d / "again");
  }

  writerfixture::ExpectPeersAccept(d / "a.zip");
  // 7-Zip and bsdtar write the names as they stand; Python lists them in code page 437, which
  // gives every byte back.
  ASSERT_EQ(Shell("7zz x -o" + Q(d / "7z") + " " + Q(d / "a.zip")), 0);
  EXPECT_EQ(Slurp(d / ("7z/" + file)), "second, and longer");
  EXPECT_EQ(Slurp(d / ("7z/" + folder + "/inner.txt")), "inner");
  std::filesystem::create_directories(d / "bsdtar");
  ASSERT_EQ(Shell("cd " + Q(d / "bsdtar") + " && bsdtar -xf " + Q(d / "a.zip")), 0);
  EXPECT_EQ(Slurp(d / ("bsdtar/" + file)), "second, and longer");
  EXPECT_TRUE(std::filesystem::is_directory(d / "bsdtar/empty\xFF"));
  Put(d / "names.py",
      "import sys,zipfile\n"
      "for n in zipfile.ZipFile(sys.argv[1]).namelist(): sys.stdout.buffer.write(n.encode('cp437') + b'\\n')\n");
  EXPECT_EQ(Shell("python3 " + Q(d / "names.py") + " " + Q(d / "a.zip") + " | grep -qax " + Q(file)), 0);
  // Info-ZIP's unzip here leaves the byte out of the name it writes; the file is there, and
  // the owner may read and write it, as the entry carries a Unix mode for a Unix host.
  ASSERT_EQ(Shell("unzip -q " + Q(d / "a.zip") + " -d " + Q(d / "unzip")), 0);
  int found = 0;
  for (const auto& e : std::filesystem::directory_iterator(d / "unzip")) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || !name.starts_with("bad") || !name.ends_with("name.txt")) continue;
    ++found;
    EXPECT_EQ(Slurp(e.path().string()), "second, and longer");
    EXPECT_EQ(std::filesystem::status(e.path()).permissions() & std::filesystem::perms::owner_all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  EXPECT_EQ(found, 1);
}

}  // namespace

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

}  // namespace

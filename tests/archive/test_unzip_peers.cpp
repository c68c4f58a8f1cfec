// Archives of other tools extract here: Info-ZIP (deflate, stored, data descriptors from a
// pipe, Zip64 with -fz), 7-Zip (Deflate64) and Python's zipfile (UTF-8 names).
#include <gtest/gtest.h>

#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

void MakeSource(const Folder& d) {
  Put(d / "src/a.txt", writerfixture::Text(120000));
  Put(d / "src/b/rnd.bin", writerfixture::Random(40000, 5));
  Put(d / "src/b/c/empty.txt", "");
  Put(d / "src/Кириллица.txt", "текст");
}

void ExpectSame(const Folder& d, const std::string& archive, int files) {
  Reader r(archive, d / "dest");
  EXPECT_EQ(r.unzip.Extract(), files);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  EXPECT_EQ(Tree(d / "dest"), Tree(d / "src"));
}

TEST(UnZipPeers, InfoZipDeflatedAndStored) {
  if (!HaveTool("zip")) GTEST_SKIP();
  Folder d;
  MakeSource(d);
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && zip -q -r ../z.zip . && zip -q -0 -r ../s.zip ."), 0);
  ExpectSame(d, d / "z.zip", 4);
  std::filesystem::remove_all(d / "dest");
  ExpectSame(d, d / "s.zip", 4);
}

TEST(UnZipPeers, InfoZipZip64) {
  if (!HaveTool("zip")) GTEST_SKIP();
  Folder d;
  MakeSource(d);
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && zip -q -fz -r ../z64.zip ."), 0);
  ExpectSame(d, d / "z64.zip", 4);
}

TEST(UnZipPeers, InfoZipFromAPipeHasDataDescriptors) {
  if (!HaveTool("zip")) GTEST_SKIP();
  Folder d;
  Put(d / "src/-", writerfixture::Text(50000));
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && cat ./- | zip -q - - | dd of=../p.zip status=none"), 0);
  Reader r(d / "p.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].code << " " << r.errors[0].file;
  EXPECT_EQ(Slurp(d / "dest/-"), Slurp(d / "src/-"));
}

TEST(UnZipPeers, SevenZipDeflate64) {
  if (!HaveTool("7zz")) GTEST_SKIP();
  Folder d;
  MakeSource(d);
  ASSERT_EQ(Shell("cd '" + d.Path() + "/src' && 7zz a -tzip -mm=Deflate64 ../d64.zip ."), 0);
  ExpectSame(d, d / "d64.zip", 4);
}

// Guards names of an archive without its directory read in the wrong code page: Info-ZIP on
// Linux writes UTF-8 names without flag bit 11, MS-DOS writes CP866 names; walked by their local
// headers, both come out under the names their intact archives give.
TEST(UnZipPeers, NamesOfArchivesCutBeforeTheirDirectory) {
  const std::string ref = std::string(TARVELO_TESTDATA) + "/reference/generated/";
  for (const char* name : {"utf8-names-infozip-noflag.zip", "cp866-names-dos.zip"}) {
    SCOPED_TRACE(name);
    Folder d;
    auto bytes = zipfixture::ReadAll(ref + name);
    const auto entries = zipfixture::Entries(bytes);
    ASSERT_FALSE(entries.empty());
    Reader intact(ref + name, d / "intact");
    intact.unzip.Extract();
    ASSERT_EQ(intact.unzip.FilesFailed(), 0);
    size_t directory = 0;  // where the last member ends
    for (const auto& e : entries) directory = std::max<size_t>(directory, e.dataOffset + e.central.PackedSize);
    bytes.resize(directory);
    zipfixture::WriteAll(d / "cut.zip", bytes);
    Reader cut(d / "cut.zip", d / "cut");
    cut.unzip.Extract();
    EXPECT_EQ(cut.unzip.FilesFailed(), 0);
    EXPECT_EQ(Tree(d / "cut"), Tree(d / "intact"));
  }
}

TEST(UnZipPeers, PythonZipfileUtf8Names) {
  if (!HaveTool("python3")) GTEST_SKIP();
  Folder d;
  MakeSource(d);
  const std::string script =
      "import zipfile,os,sys\n"
      "os.chdir(sys.argv[1])\n"
      "z=zipfile.ZipFile('../py.zip','w',zipfile.ZIP_DEFLATED)\n"
      "for r,ds,fs in os.walk('.'):\n"
      "  for f in fs: z.write(os.path.join(r,f), os.path.relpath(os.path.join(r,f),'.'))\n"
      "z.close()\n";
  Put(d / "mk.py", script);
  ASSERT_EQ(Shell("python3 '" + d.Path() + "/mk.py' '" + d.Path() + "/src'"), 0);
  ExpectSame(d, d / "py.zip", 4);
}

}  // namespace

// Archives that 7-Zip makes at test time must extract here to the source tree: its own deflate
// encoder at several levels, stored entries, ZipCrypto, and Deflate64 at sizes around the 64 KiB
// window with matches that reach beyond 32 KiB and lengths beyond 258.
#include <gtest/gtest.h>

#include "tests/interop/extract_fixture.h"

using namespace extractfixture;

namespace {

struct SevenZipCase {
  const char* name;
  const char* options;  // for `7zz a -tzip OPTIONS ARCHIVE .`, run in the source folder
  const char* password = "";
};

int SevenZip(const std::string& folder, const std::string& options, const std::string& archive) {
  return Shell("cd " + Q(folder) + " && 7zz a -tzip -bd -y " + options + " " + Q(archive) + " .");
}

void PrintTo(const SevenZipCase& c, std::ostream* os) { *os << c.name; }

class SevenZipExtract : public ::testing::TestWithParam<SevenZipCase> {};

TEST_P(SevenZipExtract, GivesBackTheSourceTree) {
  const SevenZipCase& c = GetParam();
  Folder d;
  const Tree source = MakeSource(d / "src");
  std::string options = c.options;
  if (*c.password) options += std::string(" -p") + c.password + " -mem=ZipCrypto";
  ASSERT_EQ(SevenZip(d / "src", options, d / "a.zip"), 0);

  Reader r(d / "a.zip", d / "out", c.password);
  ExpectIntact(r, source, d / "out");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SevenZipExtract,
    ::testing::Values(SevenZipCase{"Deflated", "-mx=5"}, SevenZipCase{"Fastest", "-mx=1"},
                      SevenZipCase{"Ultra", "-mx=9"}, SevenZipCase{"Stored", "-mx=0"},
                      SevenZipCase{"ZipCrypto", "-mx=5", "secret"}, SevenZipCase{"ZipCryptoStored", "-mx=0", "s2"},
                      SevenZipCase{"Deflate64", "-mm=Deflate64"},
                      SevenZipCase{"Deflate64ZipCrypto", "-mm=Deflate64", "d64pw"}),
    [](const auto& info) { return std::string(info.param.name); });

// Deflate64 at the sizes where the window and the code set matter: empty, tiny, just under, at
// and just over 64 KiB, and larger members whose repeats lie 40 KiB to 110 KiB back, runs that
// need the long length code, and incompressible stretches (stored blocks).
class SevenZipDeflate64 : public ::testing::TestWithParam<int> {};

TEST_P(SevenZipDeflate64, EverySizeAndDistanceDecodes) {
  Folder d;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.txt", ""},
      {"tiny.txt", "abc"},
      {"under.bin", FarRepeats(65535, 1)},
      {"window.bin", FarRepeats(65536, 2)},
      {"over.bin", FarRepeats(65537, 3)},
      {"far.bin", FarRepeats(400000, 4)},
      {"run.bin", std::string(300000, 'z')},
      {"mixed.bin", Random(50000, 5) + FarRepeats(200000, 6) + Random(50000, 5) + Text(100000)},
      {"large.bin", FarRepeats(1500000, 7)},
  };
  int64_t when = 1700000001;
  for (const auto& [name, bytes] : files) {
    Put(d / ("src/" + name), bytes);
    SetTime(d / ("src/" + name), when += 3601);
  }
  const Tree source = Snapshot(d / "src");
  ASSERT_EQ(SevenZip(d / "src", "-mm=Deflate64 -mx=" + std::to_string(GetParam()), d / "a.zip"), 0);
  // 7-Zip must really have used method 9 for the compressible members (it stores tiny ones) and
  // the far matches (plain deflate could not pack far.bin below about 0.6), or the test proves
  // nothing.
  ASSERT_EQ(Python(d,
                   "import sys,zipfile\n"
                   "z=zipfile.ZipFile(sys.argv[1])\n"
                   "far=z.getinfo('far.bin')\n"
                   "ok=all(z.getinfo(n).compress_type==9 for n in sys.argv[2:]) and far.compress_size<far.file_size/2\n"
                   "sys.exit(0 if ok else 1)\n",
                   Q(d / "a.zip") + " under.bin window.bin over.bin far.bin run.bin mixed.bin large.bin"),
            0);
  Reader r(d / "a.zip", d / "out");
  ExpectIntact(r, source, d / "out", {.readOnly = false});
}

INSTANTIATE_TEST_SUITE_P(Levels, SevenZipDeflate64, ::testing::Values(1, 5, 9),
                         [](const auto& info) { return "Level" + std::to_string(info.param); });

// A wrong password opens nothing and leaves no file that passes as intact; the run goes on to
// the end and reports the refusal.
TEST(SevenZipExtractPassword, WrongPasswordWritesNothingThatPasses) {
  Folder d;
  Put(d / "src/a.txt", Text(70000));
  Put(d / "src/empty.txt", "");
  Put(d / "src/b.bin", Random(5000, 9));
  ASSERT_EQ(SevenZip(d / "src", "-pright -mem=ZipCrypto", d / "a.zip"), 0);
  Reader r(d / "a.zip", d / "out", "wrong");
  // The empty entry holds nothing a key could garble: once in 256 runs its check byte lets the
  // wrong key pass, and it comes out whole. Whatever has data fails.
  r.Extract();
  EXPECT_FALSE(r.errors.empty());
  EXPECT_GE(r.unzip.FilesFailed(), 2);
  for (const auto& [name, pass] : r.verdicts)
    EXPECT_FALSE(pass && std::filesystem::path(name).filename() != "empty.txt" && std::filesystem::exists(name))
        << name;
}

}  // namespace

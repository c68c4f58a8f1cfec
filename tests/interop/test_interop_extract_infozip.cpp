// Archives that Info-ZIP zip makes at test time must extract here to the source tree: the same
// names, bytes, DOS dates and read-only bit, whatever way zip wrote them (deflated at several
// levels, stored, enciphered, with data descriptors, streamed through a pipe, split into
// volumes, forced Zip64).
#include <gtest/gtest.h>

#include "tests/interop/extract_fixture.h"

using namespace extractfixture;

namespace {

struct InfoZipCase {
  const char* name;
  const char* options;  // for `zip -q -r OPTIONS ARCHIVE .`, run in the source folder
  const char* password = "";
  bool streamed = false;  // written to a pipe ("zip - ."), so every entry has a data descriptor
  bool split = false;     // more than one volume: the reader must ask for the others
};

void PrintTo(const InfoZipCase& c, std::ostream* os) { *os << c.name; }

class InfoZipExtract : public ::testing::TestWithParam<InfoZipCase> {};

TEST_P(InfoZipExtract, GivesBackTheSourceTree) {
  const InfoZipCase& c = GetParam();
  Folder d;
  const Tree source = MakeSource(d / "src", {.scale = c.split ? 2u : 1u});
  const std::string archive = d / "a.zip";
  std::string options = c.options;
  if (*c.password) options += std::string(" -P ") + c.password;
  const std::string zip = "cd " + Q(d / "src") + " && zip -q -r " + options;
  if (c.streamed)
    ASSERT_EQ(Shell("(" + zip + " - . | cat > " + Q(archive) + ")"), 0);
  else
    ASSERT_EQ(Shell(zip + " " + Q(archive) + " ."), 0);
  // unzip cannot read split sets; 7-Zip can.
  const std::string pw = *c.password ? std::string(c.password) : "";
  const std::string check = c.split ? "7zz t" + (pw.empty() ? "" : " -p" + pw) + " " + Q(archive)
                                    : "unzip -tq" + (pw.empty() ? "" : " -P " + pw) + " " + Q(archive);
  ASSERT_EQ(Shell(check), 0) << "zip made a bad archive";

  Reader r(archive, d / "out", c.password);
  ExpectIntact(r, source, d / "out");
  if (c.split)
    EXPECT_FALSE(r.volumesAsked.empty());
  else
    EXPECT_TRUE(r.volumesAsked.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, InfoZipExtract,
                         ::testing::Values(InfoZipCase{"Deflated", "-6"}, InfoZipCase{"Fastest", "-1"},
                                           InfoZipCase{"Best", "-9"}, InfoZipCase{"Stored", "-0"},
                                           InfoZipCase{"Enciphered", "-6", "pw1"},
                                           InfoZipCase{"EncipheredStored", "-0", "p\xC3\xA4ss"},
                                           InfoZipCase{"DataDescriptors", "-fd"},
                                           InfoZipCase{"Streamed", "-6", "", true},
                                           InfoZipCase{"StreamedStoredEnciphered", "-0", "pipe", true},
                                           InfoZipCase{"SplitDeflated", "-6 -s 64k", "", false, true},
                                           InfoZipCase{"SplitStored", "-0 -s 64k", "", false, true},
                                           InfoZipCase{"SplitEnciphered", "-6 -s 64k", "sp1", false, true},
                                           InfoZipCase{"SplitStoredEnciphered", "-0 -s 64k", "sp2", false, true},
                                           InfoZipCase{"Zip64", "-fz"}, InfoZipCase{"Zip64Stored", "-fz -0"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A split set whose middle volume is missing: the reader asks for it, gets a refusal, keeps what
// came before and reports the broken entry instead of writing it as good.
TEST(InfoZipExtractSplit, MissingVolumeEndsTheRunWithoutFalseSuccess) {
  Folder d;
  MakeSource(d / "src", {.scale = 2});
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q -r -0 -s 64k " + Q(d / "a.zip") + " ."), 0);
  ASSERT_TRUE(std::filesystem::exists(d / "a.z03"));
  std::filesystem::remove(d / "a.z02");
  Reader r(d / "a.zip", d / "out");
  r.Extract();
  EXPECT_FALSE(r.volumesAsked.empty());
  EXPECT_GE(r.FailedVerdicts(), 1);
  // Whatever was cut short must not pass as intact.
  ExpectPassedMeansIntact(r, d / "out", d / "src");
}

// The last volume of a split set begins inside an entry's data, which may hold any bytes, also
// the two or four that open another kind of archive; the set's end record still says what it
// is. Each row puts one such signature at the start of the last volume (about one set in a few
// thousand does so by chance, enciphered or compressed).
TEST(InfoZipExtractSplit, ALastVolumeBeginningLikeAnotherKindIsStillTheSet) {
  Folder d;
  const std::string data = Random(100000, 7);
  const auto split = [&](const std::string& folder, const std::string& bytes) {
    Put(folder + "/src/f.bin", bytes);
    EXPECT_EQ(Shell("cd " + Q(folder + "/src") + " && zip -q -X -0 -s 64k ../a.zip f.bin"), 0);
    return Slurp(folder + "/a.zip");
  };
  // Where the last volume begins in the file's data.
  const size_t at = data.find(split(d / "probe", data).substr(0, 32));
  ASSERT_NE(at, std::string::npos);
  const std::string rows[] = {
      "\x1A\x02", "\x1A\x08", "\x1A\x0A", "\x1F\x8B", "\x1F\x9D", "HA", "ZO", "\x60\xEA", "\xB7\xDF",
      std::string("\xB7\xDFTW"), "Rar!", "MSCF", std::string("BH\x05\x07"), "xx-lh5-", "PKG5",
      std::string(130, '\0') + "-lh5-"};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    const std::string folder = d / std::to_string(i);
    std::string bytes = data;
    bytes.replace(at, rows[i].size(), rows[i]);
    ASSERT_EQ(split(folder, bytes).substr(0, rows[i].size()), rows[i]);
    Reader r(folder + "/a.zip", folder + "/out");
    EXPECT_EQ(r.Extract(), 1);
    EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
    EXPECT_FALSE(r.volumesAsked.empty());
    EXPECT_TRUE(Slurp(folder + "/out/f.bin") == bytes);
  }
}

// Names in UTF-8 without flag bit 11, as zip writes them on Linux (host Unix), come out
// unchanged, with or without the OEM translation: a Unix-made name is not OEM text.
TEST(InfoZipExtractNames, RawUtf8NamesOfAUnixHost) {
  Folder d;
  Put(d / "src/Документы/Отчёт №1.txt", "report");
  Put(d / "src/日本語.txt", "japanese");
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q -r " + Q(d / "a.zip") + " ."), 0);
  for (bool translate : {false, true}) {
    const std::string out = d / (translate ? "translated" : "raw");
    Reader r(d / "a.zip", out);
    r.unzip.SetTranslateOemChar(translate);
    EXPECT_EQ(r.Extract(), 2);
    EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
    EXPECT_EQ(Slurp(out + "/Документы/Отчёт №1.txt"), "report") << translate;
    EXPECT_EQ(Slurp(out + "/日本語.txt"), "japanese") << translate;
  }
}

}  // namespace

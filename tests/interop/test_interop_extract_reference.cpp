// Every reference archive (real files made by other tools, listed entry by entry in
// MANIFEST.tsv) must extract here: each entry of a method the reader knows gives exactly the
// expected plaintext (SHA-256) under its decoded name, and an entry of a method it does not know
// leaves no file, with "Unsupported compression method" and a failed verdict, while the rest of
// the archive still comes out.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/interop/extract_fixture.h"

using namespace extractfixture;

namespace {

const std::string kReference = std::string(TARVELO_TESTDATA) + "/reference";

struct ManifestEntry {
  std::string name;
  std::string encoding;
  int method = 0;
  uint64_t size = 0;
  std::string sha256;
  std::string password;
};

struct ReferenceArchive {
  std::string path;  // relative to the reference folder
  std::vector<ManifestEntry> entries;
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string field;
  while (std::getline(ss, field, '\t')) out.push_back(field);
  if (!line.empty() && line.back() == '\t') out.emplace_back();
  return out;
}

std::vector<ReferenceArchive> LoadManifest() {
  std::vector<ReferenceArchive> out;
  std::ifstream in(kReference + "/MANIFEST.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    const auto f = SplitTabs(line);
    if (f.size() < 12) continue;
    if (out.empty() || out.back().path != f[0]) out.push_back({f[0], {}});
    out.back().entries.push_back({f[1], f[3], std::stoi(f[4]), std::stoull(f[7]), f[9], f[11]});
  }
  return out;
}

bool Known(int method) { return method == 0 || (method >= 1 && method <= 6) || method == 8 || method == 9; }

std::string Sha256(const std::string& path) {
  std::string out;
  FILE* p = popen(("sha256sum " + Q(path)).c_str(), "r");
  if (!p) return out;
  char buf[128];
  if (std::fgets(buf, sizeof buf, p)) out.assign(buf, strnlen(buf, 64));
  pclose(p);
  return out;
}

void PrintTo(const ReferenceArchive& c, std::ostream* os) { *os << c.path; }

class ReferenceExtract : public ::testing::TestWithParam<ReferenceArchive> {};

TEST_P(ReferenceExtract, EveryEntryGivesItsExpectedPlaintext) {
  const ReferenceArchive& a = GetParam();
  Folder d;
  Reader r(kReference + "/" + a.path, d / "out", a.entries.front().password);
  // Raw UTF-8 names without bit 11 come out right only untranslated; CP866 ones need the OEM
  // translation, which is the default.
  bool rawUtf8 = false;
  for (const auto& e : a.entries) rawUtf8 |= e.encoding == "utf-8";
  r.unzip.SetTranslateOemChar(!rawUtf8);
  EXPECT_EQ(r.Extract(), static_cast<int32_t>(a.entries.size()));

  int unknown = 0;
  for (const auto& e : a.entries) {
    const std::string path = d / ("out/" + e.name);
    if (Known(e.method)) {
      ASSERT_TRUE(std::filesystem::is_regular_file(path)) << e.name;
      EXPECT_EQ(std::filesystem::file_size(path), e.size) << e.name;
      EXPECT_EQ(Sha256(path), e.sha256) << e.name;
    } else {
      ++unknown;
      EXPECT_FALSE(std::filesystem::exists(path)) << e.name;
    }
    bool seen = false;
    for (const auto& [file, pass] : r.verdicts) {
      if (file != path) continue;
      seen = true;
      EXPECT_EQ(pass, Known(e.method)) << e.name;
    }
    EXPECT_TRUE(seen) << "no verdict for " << e.name;
  }
  // The only reports are the unknown methods' (each named, perhaps with its failed verdict).
  int unsupported = 0;
  for (const auto& e : r.errors) {
    unsupported += e.code == 25326;
    EXPECT_TRUE(e.code == 25326 || e.code == 25151) << Describe(r.errors);
  }
  EXPECT_EQ(unsupported, unknown) << Describe(r.errors);
  EXPECT_EQ(r.unzip.FilesFailed(), unknown);
}

std::string TestName(const ::testing::TestParamInfo<ReferenceArchive>& info) {
  std::string s;
  for (char c : info.param.path) s += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(Manifest, ReferenceExtract, ::testing::ValuesIn(LoadManifest()), TestName);

// The manifest must be there and cover every method family: an empty or moved folder would
// otherwise pass silently.
TEST(ReferenceExtractManifest, CoversEveryMethod) {
  std::set<int> methods;
  size_t entries = 0;
  for (const auto& a : LoadManifest())
    for (const auto& e : a.entries) {
      methods.insert(e.method);
      ++entries;
    }
  EXPECT_GE(entries, 80u);
  EXPECT_EQ(methods, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// A split set read from its first volume's side: the reader asks for the other volumes by
// number, and every entry still matches.
TEST(ReferenceExtractSplit, AsksForEachVolumeInTurn) {
  Folder d;
  Reader r(kReference + "/generated/split-infozip-64k.zip", d / "out");
  EXPECT_EQ(r.Extract(), 4);
  EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
  EXPECT_EQ(r.FailedVerdicts(), 0);
  ASSERT_FALSE(r.volumesAsked.empty());
  // Volumes are asked in ascending order (a member that starts on a volume may be re-asked).
  for (size_t i = 1; i < r.volumesAsked.size(); ++i)
    EXPECT_LE(std::stoi(r.volumesAsked[i - 1]), std::stoi(r.volumesAsked[i]));
}

}  // namespace

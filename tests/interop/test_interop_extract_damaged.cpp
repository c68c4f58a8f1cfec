// Other tools' archives in the shapes that real files arrive in: behind a self-extractor stub,
// with a comment, cut before their directory, with one damaged member, and with names that try
// to leave the target folder. Whatever cannot come out intact must not pass as intact, and
// nothing is written outside the target.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fstream>

#include "tests/interop/extract_fixture.h"

using namespace extractfixture;

namespace {

void InfoZip(const Folder& d, const std::string& options = "") {
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q -r " + options + " " + Q(d / "a.zip") + " ."), 0);
}

std::string Bytes(const std::string& path) { return Slurp(path); }

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A number that a Python one-liner prints about an archive.
int64_t AskPython(const Folder& d, const std::string& expression, const std::string& archive) {
  Put(d / "ask.py", "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\nprint(" + expression + ")\n");
  FILE* p = popen((PythonCommand() + " " + Q(d / "ask.py") + " " + Q(archive)).c_str(), "r");
  if (!p) return -1;
  long long v = -1;
  if (std::fscanf(p, "%lld", &v) != 1) v = -1;
  pclose(p);
  return v;
}

// The archive cut at the start of its central directory.
std::string CutAtDirectory(const Folder& d) {
  const int64_t directory = AskPython(d, "z.start_dir", d / "a.zip");
  EXPECT_GT(directory, 0);
  Write(d / "cut.zip", Bytes(d / "a.zip").substr(0, static_cast<size_t>(std::max<int64_t>(directory, 0))));
  return d / "cut.zip";
}

// A self-extractor is a program with the archive appended; zip -A corrects the offsets, an
// uncorrected one keeps offsets counted from the archive's own start.
TEST(DamagedExtract, ArchiveBehindAStubWithAndWithoutCorrectedOffsets) {
  for (bool corrected : {false, true}) {
    Folder d;
    const Tree source = MakeSource(d / "src");
    InfoZip(d);
    Write(d / "sfx.zip", Random(3000, 77) + Bytes(d / "a.zip"));
    if (corrected) {
      ASSERT_EQ(Shell("zip -q -A " + Q(d / "sfx.zip")), 0);
    }
    // unzip warns (status 1) about the uncorrected offsets and copes.
    ASSERT_LE(WEXITSTATUS(Shell("unzip -tq " + Q(d / "sfx.zip"))), 1);
    SCOPED_TRACE(corrected ? "corrected" : "uncorrected");
    Reader r(d / "sfx.zip", d / "out");
    ExpectIntact(r, source, d / "out");
  }
}

TEST(DamagedExtract, ArchiveCommentIsNoObstacle) {
  Folder d;
  const Tree source = MakeSource(d / "src");
  InfoZip(d);
  ASSERT_EQ(Shell("echo 'weekly backup' | zip -q -z " + Q(d / "a.zip")), 0);
  Reader r(d / "a.zip", d / "out");
  ExpectIntact(r, source, d / "out");
}

// Cut at its directory, an archive with sizes in the local headers is walked header by header
// and every file still comes out (no OnCorruptZipHeader handler: the walk goes on).
TEST(DamagedExtract, CutBeforeTheDirectoryIsWalkedByLocalHeaders) {
  Folder d;
  const Tree source = MakeSource(d / "src");
  InfoZip(d);
  Reader r(CutAtDirectory(d), d / "out");
  // Attributes live only in the directory, so the read-only bit is lost here.
  ExpectIntact(r, source, d / "out", {.readOnly = false});
}

// A streamed archive cut at its directory has only data descriptors for sizes: its members
// cannot be delimited, and none may pass as extracted.
TEST(DamagedExtract, CutStreamedArchivePassesNothingFalse) {
  Folder d;
  MakeSource(d / "src");
  ASSERT_EQ(Shell("(cd " + Q(d / "src") + " && zip -q -r - . | cat > " + Q(d / "a.zip") + ")"), 0);
  Reader r(CutAtDirectory(d), d / "out");
  r.Extract();
  ExpectPassedMeansIntact(r, d / "out", d / "src");
}

// One flipped byte inside one deflated member fails that member only.
TEST(DamagedExtract, OneDamagedMemberFailsAloneAndTheRestComesOut) {
  Folder d;
  const Tree source = MakeSource(d / "src");
  InfoZip(d);
  const int64_t header = AskPython(d, "z.getinfo('text.txt').header_offset", d / "a.zip");
  const int64_t packed = AskPython(d, "z.getinfo('text.txt').compress_size", d / "a.zip");
  ASSERT_GT(packed, 100);
  std::string bytes = Bytes(d / "a.zip");
  const size_t nameAndExtra = static_cast<uint8_t>(bytes[header + 26]) + (static_cast<uint8_t>(bytes[header + 27]) << 8) +
                              static_cast<uint8_t>(bytes[header + 28]) + (static_cast<uint8_t>(bytes[header + 29]) << 8);
  bytes[static_cast<size_t>(header) + 30 + nameAndExtra + static_cast<size_t>(packed) / 2] ^= 0x55;
  Write(d / "bad.zip", bytes);

  Reader r(d / "bad.zip", d / "out");
  EXPECT_EQ(r.Extract(), FileCount(source));
  int failed = 0;
  for (const auto& [name, pass] : r.verdicts) {
    if (pass) continue;
    ++failed;
    EXPECT_EQ(std::filesystem::path(name).filename(), "text.txt");
  }
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(r.unzip.FilesFailed(), 1);
  ExpectPassedMeansIntact(r, d / "out", d / "src");
  Tree got = Snapshot(d / "out");
  Tree want = source;
  got.erase("text.txt");
  want.erase("text.txt");
  ExpectSameTree(want, got);
}

// Names with "..", absolute names and backslashes, as a hostile archive may carry them, land
// inside the target folder or not at all.
TEST(DamagedExtract, HostileNamesStayInsideTheTarget) {
  Folder d;
  const std::string outside = d / "outside";
  ASSERT_EQ(Python(d,
                   "import sys,zipfile\n"
                   "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                   "for n in ['../evil1.txt','a/../../evil2.txt',sys.argv[2]+'/evil3.txt',"
                   "'..\\\\evil4.txt','ok.txt']:\n"
                   "  i=zipfile.ZipInfo('x'); i.filename=n\n"
                   "  z.writestr(i,'data of '+n)\n"
                   "z.close()\n",
                   Q(d / "evil.zip") + " " + Q(outside)),
            0);
  std::filesystem::create_directories(d / "out/target");
  Reader r(d / "evil.zip", d / "out/target");
  r.Extract();
  EXPECT_EQ(Slurp(d / "out/target/ok.txt"), "data of ok.txt");
  for (const auto& e : std::filesystem::recursive_directory_iterator(d.Path())) {
    const std::string rel = std::filesystem::relative(e.path(), d.Path()).generic_string();
    if (rel.rfind("out/target", 0) == 0 || rel == "out" || rel == "evil.zip" || rel == "script.py") continue;
    ADD_FAILURE() << "written outside the target: " << rel;
  }
}

}  // namespace

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
// and every file still comes out (no OnCorruptZipHeader handler: the walk goes on); the missing
// directory is reported, so the run is no success.
TEST(DamagedExtract, CutBeforeTheDirectoryIsWalkedByLocalHeaders) {
  Folder d;
  const Tree source = MakeSource(d / "src");
  InfoZip(d);
  Reader r(CutAtDirectory(d), d / "out");
  EXPECT_EQ(r.Extract(), FileCount(source));
  ASSERT_EQ(r.errors.size(), 1u) << Describe(r.errors);
  EXPECT_EQ(r.errors[0].code, E_BAD_FILE_HEADER);
  EXPECT_EQ(r.FailedVerdicts(), 0);
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
  // Attributes live only in the directory, so the read-only bit is lost here.
  ExpectSameTree(source, Snapshot(d / "out"), {.readOnly = false});
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

// Guards an archive read without its directory passing as a restore: the walk of its local
// headers stopped without a word where a member of zip -P is followed by its data descriptor
// (one file of seven came out) and where the file was cut, and behind a program stub shorter
// than 17,000 bytes it began only at 17,000 bytes. Info-ZIP, 7-Zip and Python refuse each of
// these archives. Here the missing directory is reported, a member cut short fails, and every
// whole member comes out.
TEST(DamagedExtract, ArchiveWithoutItsDirectoryIsReportedAndWalkedToItsEnd) {
  Folder d;
  std::vector<std::string> names;
  for (int i = 1; i <= 7; ++i) {
    names.push_back("f" + std::to_string(i) + ".bin");
    Put(d / ("src/" + names.back()), Random(2500 * static_cast<size_t>(i), 60 + static_cast<uint32_t>(i)));
  }
  std::string list;
  for (const auto& n : names) list += " " + n;
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q -P secret " + Q(d / "a.zip") + list), 0);
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q " + Q(d / "plain.zip") + list), 0);
  const std::string locked = Bytes(d / "a.zip");
  const std::string plain = Bytes(d / "plain.zip");
  auto header = [&d](const std::string& archive, int index) {
    return static_cast<size_t>(AskPython(d, "z.infolist()[" + std::to_string(index) + "].header_offset", archive));
  };
  struct Case {
    const char* what;
    std::string bytes;
    int intact;  // the first members that come out whole
    int failed;
  };
  const size_t fourth = header(d / "a.zip", 3);
  std::vector<Case> cases = {
      {"zip -P cut by one byte", locked.substr(0, locked.size() - 1), 7, 0},
      {"zip -P cut inside the fourth member's data", locked.substr(0, fourth + 200), 3, 1},
      {"zip -P cut inside the fourth local header", locked.substr(0, fourth + 10), 3, 1},
      {"plain cut at the fifth local header", plain.substr(0, header(d / "plain.zip", 4)), 4, 0},
  };
  // A stub of a program, with a local header signature of its own, in front of the plain
  // archive cut at its directory.
  const std::string stub = "MZ" + Random(5000, 3) + "PK\x03\x04" + std::string(40, '\0') + Random(900, 4);
  cases.push_back({"plain behind a program stub", stub + plain.substr(0, static_cast<size_t>(AskPython(d, "z.start_dir", d / "plain.zip"))), 7, 0});
  ASSERT_GT(cases.back().bytes.size(), 17000u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder t;
    Write(t / "x.zip", c.bytes);
    const std::string x = Q(t / "x.zip");
    // bsdtar reads members as they come and refuses only those cut short.
    EXPECT_NE(Shell("unzip -tq -P secret " + x + " >/dev/null 2>&1"), 0);
    EXPECT_NE(Shell("7zz t -psecret " + x + " >/dev/null 2>&1"), 0);
    EXPECT_NE(Shell(PythonCommand() + " -c \"import sys,zipfile; zipfile.ZipFile(sys.argv[1]).testzip()\" " + x +
                    " >/dev/null 2>&1"),
              0);
    if (c.failed > 0) {
      EXPECT_NE(Shell("bsdtar --passphrase secret -xOf " + x + " >/dev/null 2>&1"), 0);
    }
    Reader r(t / "x.zip", t / "out", "secret");
    r.Extract();
    EXPECT_TRUE(r.Reported(E_BAD_FILE_HEADER)) << Describe(r.errors);
    EXPECT_EQ(r.unzip.FilesFailed(), c.failed);
    const Tree out = Snapshot(t / "out");
    EXPECT_EQ(FileCount(out), c.intact);
    for (int i = 0; i < c.intact; ++i) {
      const auto it = out.find(names[static_cast<size_t>(i)]);
      if (it == out.end()) {
        ADD_FAILURE() << "missing " << names[static_cast<size_t>(i)];
        continue;
      }
      EXPECT_TRUE(it->second.bytes == Bytes(d / ("src/" + names[static_cast<size_t>(i)]))) << it->first;
    }
    ExpectPassedMeansIntact(r, t / "out", d / "src");
  }
}

// Guards a damaged backup read as the archive stored in it: a backup holding an old zip
// (stored as it is) was cut by a byte, or its end record's signature damaged, and the search
// for the end record found the old zip's own inside its data, so a restore put the old zip's
// report.txt over the user's and said it had succeeded; an add run published the old zip's
// entries and the new file alone. Whatever the damage at the backup's end, nothing of the
// inner archive comes out, the run reports the damage, and an update is refused with the file
// left as it was.
TEST(DamagedExtract, ABackupHoldingAZipIsNeverTakenForThatZip) {
  Folder d;
  Put(d / "src/report.txt", "the report of today");
  for (int i = 0; i < 5; ++i) Put(d / ("src/docs/notes" + std::to_string(i) + ".txt"), Text(3000 + 100 * i));
  Put(d / "inner/report.txt", "the OLD report");
  Put(d / "inner/old-only.txt", "only in the old zip");
  ASSERT_EQ(Shell("cd " + Q(d / "inner") + " && zip -q " + Q(d / "src/docs/old.zip") + " report.txt old-only.txt"), 0);
  {
    writerfixture::Writer w(d / "backup.zip", d / "src");
    ASSERT_EQ(w.zip.Compress(), 7);
  }
  const std::string backup = Bytes(d / "backup.zip");
  const size_t end = backup.rfind(std::string("PK\x05\x06", 4));
  ASSERT_NE(end, std::string::npos);
  const auto byte = [&backup](size_t at) { return size_t{static_cast<uint8_t>(backup[at])}; };
  const size_t central = byte(end + 16) | byte(end + 17) << 8 | byte(end + 18) << 16 | byte(end + 19) << 24;
  // The stored old zip, whole with its own end record, lies before the backup's directory.
  const size_t innerEnd = backup.find(std::string("PK\x05\x06", 4)) + 22;
  ASSERT_LT(innerEnd, central);

  struct Damage {
    std::string what;
    std::string bytes;
  };
  std::vector<Damage> table;
  for (size_t cut = 1; cut <= 22; ++cut)
    table.push_back({"cut by " + std::to_string(cut), backup.substr(0, backup.size() - cut)});
  for (size_t at : {end + 1, end + 2, end + 3}) {
    table.push_back({"end signature byte " + std::to_string(at - end), backup});
    table.back().bytes[at] = static_cast<char>(table.back().bytes[at] ^ 0x40);
  }
  table.push_back({"end signature read as the enciphered one", backup});
  table.back().bytes[end + 1] = 'L';
  table.push_back({"end record's directory size", backup});
  table.back().bytes[end + 12] = static_cast<char>(table.back().bytes[end + 12] + 1);
  table.push_back({"first directory header's signature", backup});
  table.back().bytes[central + 3] = 9;
  table.push_back({"directory and end record cut off", backup.substr(0, central)});
  // The file then ends with the old zip, which looks whole behind the members before it.
  table.push_back({"cut right after the old zip", backup.substr(0, innerEnd)});

  for (const Damage& row : table) {
    SCOPED_TRACE(row.what);
    Folder t;
    Write(t / "backup.zip", row.bytes);
    Put(t / "out/report.txt", "the user's newer report");
    Reader r(t / "backup.zip", t / "out");
    r.Extract();
    EXPECT_TRUE(r.Reported(E_BAD_FILE_HEADER)) << Describe(r.errors);
    EXPECT_NE(Slurp(t / "out/report.txt"), "the OLD report");
    EXPECT_FALSE(std::filesystem::exists(t / "out/old-only.txt"));
    ExpectPassedMeansIntact(r, t / "out", d / "src");

    Put(t / "new/added.txt", "the new file");
    writerfixture::Writer w(t / "backup.zip", t / "new");
    EXPECT_EQ(w.zip.Compress(), 0);
    EXPECT_TRUE(w.Reported(E_BAD_FILE_HEADER));
    EXPECT_TRUE(Bytes(t / "backup.zip") == row.bytes) << "the archive was changed";
  }
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

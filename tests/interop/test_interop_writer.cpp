// Every archive the writer makes must pass the peers' tests and extract to the same bytes:
// Info-ZIP unzip, 7-Zip, bsdtar and Python's zipfile. Russian names are CP866 without flag bit
// 11 and extract correctly when the reader is told the code page; other names are UTF-8.
#include <gtest/gtest.h>

#include <map>

#include "tests/archive/writer_fixture.h"

using namespace writerfixture;

namespace {

std::map<std::string, std::string> Corpus() {
  return {{"a.txt", Text(50000)},
          {"sub/deep/code.cpp", Text(3000)},
          {"empty.dat", ""},
          {"rnd.bin", Random(70000, 7)},
          {"tiny.bin", Random(10, 3)},
          {"pack.rar", Text(1000)},
          {"Документы/Отчёт.txt", Text(2000)},
          {"日本/名前.txt", "utf-8 name"}};
}

void MakeSource(const Folder& d, const std::map<std::string, std::string>& files) {
  for (const auto& [name, bytes] : files) Put(d / ("src/" + name), bytes);
  std::filesystem::create_directories(d / "src/emptyfolder");
}

// The corpus packed into d/out.zip with a password.
std::map<std::string, std::string> WriteEncrypted(const Folder& d, const std::string& password) {
  const auto files = Corpus();
  MakeSource(d, files);
  Writer w(d / "out.zip", d / "src");
  w.zip.SetPassword(password);
  EXPECT_EQ(w.zip.Compress(), static_cast<int32_t>(files.size()));
  EXPECT_TRUE(w.errors.empty());
  return files;
}

// Extracts with bsdtar (names read as CP866 unless flagged UTF-8) and compares every file.
void ExpectExtractsTo(const Folder& d, const std::string& archive, const std::map<std::string, std::string>& files,
                      const std::string& out) {
  std::filesystem::create_directories(d / out);
  ASSERT_EQ(Shell("cd " + Q(d / out) + " && bsdtar --options hdrcharset=CP866 -xf " + Q(archive)), 0);
  for (const auto& [name, bytes] : files) EXPECT_EQ(Slurp(d / (out + "/" + name)), bytes) << name;
}

TEST(InteropWriter, NewArchivesAtEveryLevelPassEveryPeer) {
  const auto files = Corpus();
  const std::pair<TDeflateType, TCompressMethod> rows[] = {
      {dtDeflateS, cmDeflate}, {dtDeflateF, cmDeflate}, {dtDeflateN, cmDeflate}, {dtDeflateX, cmDeflate},
      {dtDeflateN, cmStore}};
  for (auto [type, method] : rows) {
    Folder d;
    MakeSource(d, files);
    Writer w(d / "out.zip", d / "src");
    w.zip.SetDeflateType(type);
    w.zip.SetCompressMethod(method);
    w.zip.SetStoreEmptySubDirs(true);
    // "sub" holds only a folder, so it counts as empty too.
    EXPECT_EQ(w.zip.Compress(), static_cast<int32_t>(files.size()) + 2);
    EXPECT_TRUE(w.errors.empty());
    ExpectPeersAccept(d / "out.zip");
    ExpectExtractsTo(d, d / "out.zip", files, "x");
    EXPECT_TRUE(std::filesystem::is_directory(d / "x/emptyfolder"));
  }
}

TEST(InteropWriter, RussianNamesDecodeAsCp866InPython) {
  Folder d;
  const auto files = Corpus();
  MakeSource(d, files);
  Writer w(d / "out.zip", d / "src");
  ASSERT_GT(w.zip.Compress(), 0);
  const std::string script =
      "import sys,zipfile\n"
      "z=zipfile.ZipFile(sys.argv[1], metadata_encoding='cp866')\n"
      "n=set(z.namelist())\n"
      "ok='Документы/Отчёт.txt' in n and '日本/名前.txt' in n and z.read('日本/名前.txt')==b'utf-8 name'\n"
      "sys.exit(0 if ok else 1)\n";
  Put(d / "check.py", script);
  EXPECT_EQ(Shell("python3 " + Q(d / "check.py") + " " + Q(d / "out.zip")), 0);
}

TEST(InteropWriter, UpdatedDeletedAndCommentedArchivesPassEveryPeer) {
  Folder d;
  auto files = Corpus();
  MakeSource(d, files);
  {
    Writer w(d / "out.zip", d / "src");
    ASSERT_GT(w.zip.Compress(), 0);
  }
  Put(d / "src/added.txt", Text(9000));
  files["added.txt"] = Text(9000);
  {
    Writer w(d / "out.zip", d / "src");
    EXPECT_EQ(w.zip.Compress(), 1);
  }
  ExpectPeersAccept(d / "out.zip");
  ExpectExtractsTo(d, d / "out.zip", files, "x1");
  {
    Writer w(d / "out.zip");
    w.zip.FileSpec().Add("*.bin");
    w.zip.SetSwitch(swDelete);
    EXPECT_EQ(w.zip.Compress(), 2);
  }
  files.erase("rnd.bin");
  files.erase("tiny.bin");
  ExpectPeersAccept(d / "out.zip");
  ExpectExtractsTo(d, d / "out.zip", files, "x2");
  EXPECT_FALSE(std::filesystem::exists(d / "x2/rnd.bin"));
  {
    TZip zip;
    zip.SetArchiveFile(d / "out.zip");
    const int32_t n = zip.OpenArchiveDirectory();
    ASSERT_GT(n, 0);
    zip.SetZipComment("backup of the week");
    zip.SetFileComment(0, "first entry");
    zip.CommitComments();
  }
  ExpectPeersAccept(d / "out.zip");
  ExpectExtractsTo(d, d / "out.zip", files, "x3");
  EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                  "sys.exit(0 if z.comment==b'backup of the week' and z.infolist()[0].comment==b'first entry' "
                  "else 1)\" " +
                  Q(d / "out.zip")),
            0);
}

TEST(InteropWriter, EncryptedArchiveOpensWithThePassword) {
  Folder d;
  const auto files = WriteEncrypted(d, "Pa55word");
  std::filesystem::create_directories(d / "u");
  EXPECT_EQ(Shell("cd " + Q(d / "u") + " && unzip -qq -P Pa55word " + Q(d / "out.zip")), 0);
  EXPECT_EQ(Slurp(d / "u/a.txt"), files.at("a.txt"));
  EXPECT_EQ(Slurp(d / "u/rnd.bin"), files.at("rnd.bin"));
  EXPECT_EQ(Slurp(d / "u/tiny.bin"), files.at("tiny.bin"));
  EXPECT_NE(Shell("unzip -tq -P wrong " + Q(d / "out.zip")), 0);
  // Enciphered entries are copied byte for byte by an update and still open.
  Put(d / "src/later.txt", Text(4000));
  {
    Writer u(d / "out.zip", d / "src");
    u.zip.SetPassword("Pa55word");
    EXPECT_EQ(u.zip.Compress(), 1);
  }
  EXPECT_EQ(Shell("unzip -tq -P Pa55word " + Q(d / "out.zip")), 0);
  EXPECT_EQ(Shell("7zz t -pPa55word " + Q(d / "out.zip")), 0);
  EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); z.setpassword(b'Pa55word'); "
                  "sys.exit(z.testzip() is not None or z.read('a.txt')!=open(sys.argv[2],'rb').read())\" " +
                  Q(d / "out.zip") + " " + Q(d / "src/a.txt")),
            0);
}

// A password is keyed with the bytes of the code page the system's texts are typed in (1251):
// peers open the archive with those bytes, not with the UTF-8 ones. Text that code page cannot
// hold is refused before anything is written.
TEST(InteropWriter, CyrillicPasswordIsKeyedInCp1251AndOtherTextIsRefused) {
  Folder d;
  WriteEncrypted(d, "Пароль");
  const std::string cp1251 = "\xCF\xE0\xF0\xEE\xEB\xFC";
  EXPECT_EQ(Shell("unzip -tq -P " + Q(cp1251) + " " + Q(d / "out.zip")), 0);
  EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
                  "z.setpassword('Пароль'.encode('cp1251')); "
                  "sys.exit(z.testzip() is not None or z.read('a.txt')!=open(sys.argv[2],'rb').read())\" " +
                  Q(d / "out.zip") + " " + Q(d / "src/a.txt")),
            0);
  EXPECT_NE(Shell("unzip -tq -P " + Q("Пароль") + " " + Q(d / "out.zip")), 0);

  Writer refused(d / "refused.zip", d / "src");
  refused.zip.SetPassword("密码");
  EXPECT_EQ(refused.zip.Compress(), 0);
  ASSERT_EQ(refused.errors.size(), 1u);
  EXPECT_EQ(refused.errors[0].code, E_INVALID_PASSWORD);
  EXPECT_NE(refused.errors[0].ext.find("1251"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(d / "refused.zip"));
}

// Files of /proc and /sys give their size as 0 and hold data all the same: a link to one in the
// source is stored with every byte it reads, under sizes and a CRC that every peer checks, with
// and without a password and whether it is deflated or stored. A file that is truly empty stays
// an empty entry.
TEST(InteropWriter, FilesThatGiveTheirSizeAsZeroAreStoredWithTheirBytes) {
  struct Row {
    const char* name;
    const char* target;
    bool stable;  // reads the same each time, so the stored bytes can be compared
  };
  const Row rows[] = {{"version", "/proc/version", true},
                      {"osrelease.txt", "/proc/sys/kernel/osrelease", true},
                      {"mounts.zip", "/proc/self/mounts", true},  // a known archive extension: stored
                      {"cpuinfo", "/proc/cpuinfo", false},
                      {"empty.txt", nullptr, true}};
  for (const std::string password : {"", "Pa55word"}) {
    SCOPED_TRACE(password.empty() ? "no password" : "with a password");
    Folder d;
    std::map<std::string, std::string> expected;
    for (const Row& r : rows) {
      if (r.target == nullptr) {
        Put(d / ("src/" + std::string(r.name)), "");
      } else {
        std::filesystem::create_directories(d / "src");
        std::filesystem::create_symlink(r.target, d / ("src/" + std::string(r.name)));
      }
      if (r.stable) expected[r.name] = r.target ? Slurp(r.target) : "";
    }
    Writer w(d / "out.zip", d / "src");
    w.zip.SetPassword(password);
    EXPECT_EQ(w.zip.Compress(), static_cast<int32_t>(std::size(rows)));
    EXPECT_TRUE(w.errors.empty());

    const std::string p = password.empty() ? "" : " -P " + password;
    EXPECT_EQ(Shell("unzip -tq" + p + " " + Q(d / "out.zip")), 0);
    EXPECT_EQ(Shell("7zz t" + (password.empty() ? std::string() : " -p" + password) + " " + Q(d / "out.zip")), 0);
    EXPECT_EQ(Shell("python3 -c \"import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); z.setpassword(sys.argv[2].encode()); "
                    "sys.exit(z.testzip() is not None)\" " + Q(d / "out.zip") + " " + Q(password)),
              0);
    for (const auto& e : EntriesOf(d / "out.zip")) {
      SCOPED_TRACE(e.name);
      EXPECT_EQ(e.local.UnpackedSize, e.central.UnpackedSize);
      EXPECT_EQ(e.local.Crc32, e.central.Crc32);
      if (e.name != "empty.txt") {
        EXPECT_GT(e.central.UnpackedSize, 0u);
      }
    }
    std::filesystem::create_directories(d / "x");
    ASSERT_EQ(Shell("cd " + Q(d / "x") + " && unzip -qq" + p + " " + Q(d / "out.zip")), 0);
    for (const auto& [name, bytes] : expected) EXPECT_EQ(Slurp(d / ("x/" + name)), bytes) << name;
    EXPECT_FALSE(Slurp(d / "x/cpuinfo").empty());
  }
}

// The benchmark driver runs the writer as the programs' task runs do, so what it measures is
// what a user gets: a second run over a changed folder replaces the changed file's entry.
TEST(InteropWriter, ArcbenchCompressRunsTheProgramsTaskRun) {
  const std::string arcbench = std::string(TARVELO_BINARY_DIR) + "/bench/arcbench";
  if (!std::filesystem::exists(arcbench)) GTEST_SKIP() << "arcbench not built";
  Folder d;
  Put(d / "src/a.txt", Text(5000));
  Put(d / "src/b.txt", Text(7000));
  const std::string run = Q(arcbench) + " compress " + Q(d / "src") + " " + Q(d / "out.zip");
  ASSERT_EQ(Shell(run), 0);
  Put(d / "src/a.txt", "changed since the first run");
  std::filesystem::last_write_time(d / "src/a.txt",
                                   std::filesystem::last_write_time(d / "src/a.txt") + std::chrono::hours(1));
  Put(d / "src/c.txt", "new");
  EXPECT_EQ(Shell(run), 0);
  std::filesystem::create_directories(d / "u");
  ASSERT_EQ(Shell("cd " + Q(d / "u") + " && unzip -qq " + Q(d / "out.zip")), 0);
  EXPECT_EQ(Slurp(d / "u/a.txt"), "changed since the first run");
  EXPECT_EQ(Slurp(d / "u/b.txt"), Text(7000));
  EXPECT_EQ(Slurp(d / "u/c.txt"), "new");
}

}  // namespace

// Entry names: extraction paths that never leave ExtractDir, stored names by StoredDirNames,
// exclusion masks, name code pages, volume names and method names.
#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "archive/qrnBase.h"

namespace {

// Reaches the kind and the archive name without detection.
struct Probe : TZipCommon {
  void Kind(TArcType t) { FArcType = t; }
  void Archive(const std::string& s) { FArchiveFile = s; }
};

std::string cwd() {
  char buf[PATH_MAX];
  return std::string(getcwd(buf, sizeof buf)) + "/";
}

}  // namespace

// Guards path traversal: every hostile entry name lands inside the target folder. The names
// are in local form, where only '/' separates folders: a DOS host's '\' and drive are turned
// before (DosNameToLocal), and elsewhere both are bytes of a name.
TEST(ExtractPath, HostileStoredNamesStayInsideExtractDir) {
  Probe zip;
  zip.SetExtractDir("/out");
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"../../etc/passwd", "/out/etc/passwd"},
      {"/etc/passwd", "/out/etc/passwd"},
      {"\\windows\\system.ini", "/out/\\windows\\system.ini"},
      {DosNameToLocal("C:\\data\\a.txt"), "/out/data/a.txt"},
      {"C:data/a.txt", "/out/C:data/a.txt"},
      {"c:/data/a.txt", "/out/c:/data/a.txt"},
      {"a/../../b.txt", "/out/a/b.txt"},
      {"..\\..\\x", "/out/..\\..\\x"},
      {DosNameToLocal("..\\..\\x"), "/out/x"},
      {"//srv/share/x", "/out/srv/share/x"},
      {"sub/./c.txt", "/out/sub/c.txt"},
      {"dir\\sub/mixed.txt", "/out/dir\\sub/mixed.txt"},
      {"..", "/out/"},
      {"../", "/out/"},
      {"sub/", "/out/sub/"},
      {"dir/file:x.txt", "/out/dir/file:x.txt"},
  };
  for (const auto& [stored, expected] : rows) {
    zip.SetCurrentFileName(stored);
    EXPECT_EQ(zip.CurrentFileName(), expected) << stored;
    EXPECT_EQ(zip.CurrentFileName().find("/../"), std::string::npos) << stored;
  }
}

TEST(ExtractPath, WithoutStoredDirsOnlyTheFileNameIsKept) {
  Probe zip;
  zip.SetExtractDir("/out/");
  zip.SetUseStoredDirs(false);
  zip.SetCurrentFileName("C:/data/a.txt");
  EXPECT_EQ(zip.CurrentFileName(), "/out/a.txt");
  zip.SetCurrentFileName("../../x");
  EXPECT_EQ(zip.CurrentFileName(), "/out/x");
  zip.SetCurrentFileName("..");
  EXPECT_EQ(zip.CurrentFileName(), "/out/");
}

// Guards reading past the start of an empty name (a fuzzed entry "e:\0a" cut at its NUL): a
// DOS host's name that is only a drive and its root names no file, whatever UseStoredDirs says;
// "e:" without a separator is a file's name.
TEST(ExtractPath, ANameThatIsOnlyADriveNamesTheTargetFolder) {
  for (bool storedDirs : {true, false}) {
    Probe zip;
    zip.SetExtractDir("/out/");
    zip.SetUseStoredDirs(storedDirs);
    for (const char* stored : {"e:\\", "C:/"}) {
      zip.SetCurrentFileName(DosNameToLocal(stored));
      EXPECT_EQ(zip.CurrentFileName(), "/out/") << stored;
    }
    zip.SetCurrentFileName(DosNameToLocal("e:"));
    EXPECT_EQ(zip.CurrentFileName(), "/out/e:");
  }
}

TEST(ExtractPath, EmptyTargetTakesTheArchiveFolderThenTheCurrentOne) {
  Probe zip;
  zip.SetCurrentFileName("");
  EXPECT_EQ(zip.CurrentFileName(), "");
  zip.Archive("/srv/backups/set.zip");
  zip.SetCurrentFileName("d/a.txt");
  EXPECT_EQ(zip.CurrentFileName(), "/srv/backups/d/a.txt");
  EXPECT_EQ(zip.ExtractDir(), "/srv/backups/");

  Probe bare;
  bare.SetCurrentFileName("a.txt");
  EXPECT_EQ(bare.CurrentFileName(), cwd() + "a.txt");

  // A relative target is read from the current folder, not from the root.
  Probe rel;
  rel.SetExtractDir("restore");
  rel.SetCurrentFileName("../a.txt");
  EXPECT_EQ(rel.CurrentFileName(), cwd() + "restore/a.txt");
}

TEST(ExtractDirSetter, TrailingSlashAndArchiveFolder) {
  Probe zip;
  zip.SetExtractDir("/out");
  EXPECT_EQ(zip.ExtractDir(), "/out/");
  zip.SetExtractDir("/out/");
  EXPECT_EQ(zip.ExtractDir(), "/out/");
  zip.SetExtractDir("");
  EXPECT_EQ(zip.ExtractDir(), "");
  zip.Archive("/a/b/x.zip");
  zip.SetExtractDir("");
  EXPECT_EQ(zip.ExtractDir(), "/a/b/");
}

TEST(StoredName, EveryModeOfStoredDirNames) {
  struct Row {
    TStoredDirNames mode;
    std::string file, base, defaultDir, expected;
  };
  const std::string f = "/data/docs/sub/a.txt";
  const std::string longServer = "//" + std::string(300, 's') + "/share/data/a.txt";
  const std::vector<Row> rows = {
      {sdNone, f, "/data/docs/", "", "a.txt"},
      {sdAbsolute, f, "/data/docs/", "", f},
      {sdAbsolute, "C:/data/a.txt", "", "", "C:/data/a.txt"},
      {sdAbsoluteNoDrv, f, "/data/docs/", "", f},
      {sdAbsoluteNoDrv, "C:/data/a.txt", "", "", "/data/a.txt"},
      {sdAbsoluteNoDrv, "//srv/share/data/a.txt", "", "", "/data/a.txt"},
      {sdAbsoluteNoDrv, "/data/a:b.txt", "", "", "/data/a:b.txt"},
      // Server and share are found past the first 255 characters too.
      {sdAbsoluteNoDrv, longServer, "", "", "/data/a.txt"},
      {sdAbsoluteNoRoot, f, "/data/docs/", "", "data/docs/sub/a.txt"},
      {sdAbsoluteNoRoot, "//srv/share/data/a.txt", "", "", "data/a.txt"},
      {sdAbsoluteNoRoot, "C:/data/a.txt", "", "", "data/a.txt"},
      {sdRelative, f, "/data/docs/", "", "sub/a.txt"},
      {sdRelative, f, "/DATA/docs/", "", "sub/a.txt"},
      {sdRelative, f, "/other/", "", f},
      {sdRelative, f, "", "", f},
      {sdRelativeStoreStart, f, "/data/docs/", "", "docs/sub/a.txt"},
      {sdRelativeStoreStart, "/a.txt", "/", "", "/a.txt"},
      {sdExplorer_Auto, f, "/data/docs/", "/DATA/docs", "sub/a.txt"},
      {sdExplorer_Auto, f, "/x/", "/data", "docs/sub/a.txt"},
      {sdExplorer_Auto, f, "/x/", "/dat", f},
      {sdExplorer_Auto, f, "/x/", "/DATA", f},
      {sdExplorer_UserDefineDefaultDir, f, "/x/", "/data/docs/", "sub/a.txt"},
      {sdExplorer_UserDefineDefaultDir, f, "/x/", "", f},
  };
  for (const auto& r : rows) {
    Probe zip;
    zip.SetStoredDirNames(r.mode);
    zip.SetDefaultDir(r.defaultDir);
    EXPECT_EQ(zip.MakeStoredName(r.file, r.base), r.expected) << int(r.mode) << " " << r.file << " " << r.base;
  }
}

TEST(Exclusion, MasksWithAndWithoutFoldersAndRecursion) {
  Probe zip;
  EXPECT_FALSE(zip.IsExcluded("a.tmp", "/data/"));
  zip.ExcludeSpec().Add("*.tmp");
  zip.ExcludeSpec().Add("/data/docs/sub/*.log");
  const std::string base = "/data/docs/";
  EXPECT_TRUE(zip.IsExcluded("deep/x.tmp", base));
  EXPECT_FALSE(zip.IsExcluded("deep/x.txt", base));
  EXPECT_TRUE(zip.IsExcluded("sub/a.log", base));
  EXPECT_TRUE(zip.IsExcluded("SUB/deeper/a.log", base));
  EXPECT_FALSE(zip.IsExcluded("other/a.log", base));

  zip.SetRecurseDirs(false);
  zip.ExcludeSpec().Clear();
  zip.ExcludeSpec().Add("/data/docs/sub/*.log");
  EXPECT_TRUE(zip.IsExcluded("sub/a.log", base));
  EXPECT_FALSE(zip.IsExcluded("a.log", base));
}

// Bit-11 names must never pass through CP866, and CP866 names must come back as typed.
TEST(NameCodePages, Cp866BothWaysAndUtf8WithFlagBit11) {
  bool utf8 = true;
  const std::string cyr = "Папка/Отчёт.txt";
  const std::string stored = LocalToStoredName(cyr, true, utf8);
  EXPECT_FALSE(utf8);
  EXPECT_EQ(stored.size(), std::string("Папка/Отчёт.txt").size() - 10);  // one byte per letter
  EXPECT_EQ(StoredToLocalName(stored, true, 0), "Папка/Отчёт.txt");

  const std::string jp = "日本/名前.txt";
  const std::string storedJp = LocalToStoredName(jp, true, utf8);
  EXPECT_TRUE(utf8);
  EXPECT_EQ(storedJp, jp);
  EXPECT_EQ(StoredToLocalName(storedJp, true, kUtf8NameFlag), jp);
  EXPECT_NE(StoredToLocalName(storedJp, true, 0), jp);

  // A '\' is a byte of a name both ways.
  EXPECT_EQ(LocalToStoredName("dir\\a.txt", true, utf8), "dir\\a.txt");
  EXPECT_FALSE(utf8);
  EXPECT_EQ(StoredToLocalName("dir\\a.txt", false), "dir\\a.txt");
  EXPECT_EQ(StoredToLocalName("", true), "");
}

TEST(VolumeNames, ZipSplitAndOlderArchiverNumbering) {
  Probe zip;
  zip.Archive("/x.d/backup.zip");
  zip.VolumeFileName = "/x.d/backup.zip";
  // Three parts: Count is the end record's number of the last disk, 2.
  EXPECT_EQ(zip.GetVolumeName(0, 2), "/x.d/backup.z01");
  EXPECT_EQ(zip.GetVolumeName(1, 2), "/x.d/backup.z02");
  EXPECT_EQ(zip.GetVolumeName(2, 2), "/x.d/backup.zip");
  EXPECT_EQ(zip.GetVolumeName(99, 200), "/x.d/backup.z100");

  Probe arj;
  arj.Kind(atArj);
  arj.VolumeLetter = 'a';
  EXPECT_EQ(arj.GetVolumeFileName("", 1), "");
  EXPECT_EQ(arj.GetVolumeFileName("/v/arc.arj", -1), "");
  EXPECT_EQ(arj.GetVolumeFileName("/v/arc.arj", 0), "/v/arc.a00");
  EXPECT_EQ(arj.GetVolumeFileName("/v/arc.arj", 9), "/v/arc.a09");
  EXPECT_EQ(arj.GetVolumeFileName("/v/arc.arj", 10), "/v/arc.a10");
  EXPECT_EQ(arj.GetVolumeFileName("/v/arc.arj", 100), "/v/arc.100");

  Probe rar;
  rar.Kind(atRar);
  rar.VolumeLetter = 'r';
  EXPECT_EQ(rar.GetVolumeFileName("arc.rar", 0), "arc.r00");
  EXPECT_EQ(rar.GetVolumeFileName("arc.rar", 99), "arc.r99");
  EXPECT_EQ(rar.GetVolumeFileName("arc.rar", 100), "arc.s00");
  EXPECT_EQ(rar.GetVolumeFileName("arc.part1.rar", 0), "arc.part2.rar");
  EXPECT_EQ(rar.GetVolumeFileName("arc.PART01.rar", 9), "arc.part11.rar");
  EXPECT_EQ(rar.GetVolumeFileName("arc.part001", 0), "arc.part002.rar");
}

TEST(MethodNames, EveryRowOfTheTable) {
  struct Row {
    TArcType kind;
    uint16_t method, flags;
    uint32_t attrs;
    uint16_t magic;
    const char* name;
  };
  const std::vector<Row> rows = {
      {atZip, 0, 0, 0, 0, "Stored"},      {atZip, 1, 0, 0, 0, "Shrunk"},     {atZip, 2, 0, 0, 0, "Reduce-1"},
      {atZip, 3, 0, 0, 0, "Reduce-2"},    {atZip, 4, 0, 0, 0, "Reduce-3"},   {atZip, 5, 0, 0, 0, "Reduce-4"},
      {atZip, 6, 0, 0, 0, "Imploded"},    {atZip, 7, 0, 0, 0, "Tokened"},    {atZip, 8, 0, 0, 0, "DeflateN"},
      {atZip, 8, 2, 0, 0, "DeflateX"},    {atZip, 8, 4, 0, 0, "DeflateF"},   {atZipMV, 8, 7, 0, 0, "DeflateS"},
      {atZipExe, 9, 0x802, 0, 0, "Def-64X"}, {atJar, 10, 0, 0, 0, "DCL-implode"}, {atZipDS, 12, 0, 0x10, 0, "<Dir>"},
      {atJarExe, 12, 0, 0x20, 0, "Unsupported"},
      {atGZip, 0, 0, 0, 0, "Stored"},     {atGZip, 8, 0, 0, 0, "Deflate"},   {atGZip, 144, 0, 0, 0, "LzwMAGIC"},
      {atGZip, 5, 0, 0, 0x1E1F, "PackMAGIC"}, {atGZip, 5, 0, 0, 0xA01F, "LzhMAGIC"}, {atGZip, 5, 0, 0, 0, "Unsupported"},
      {atAce, 0, 0, 0, 0, "Fastest"},     {atAceExe, 1, 0, 0, 0, "Fast"},    {atAce, 2, 0, 0, 0, "Normal"},
      {atAce, 3, 0, 0, 0, "Good"},        {atAce, 4, 0, 0, 0, "Best"},       {atAce, 5, 0, 0, 0, "Lzw"},
      {atAce, 6, 0, 0, 0, "Unsupported"},
      {atArc, 1, 0, 0, 0, "Stored"},      {atArc, 2, 0, 0, 0, "Stored"},     {atArc, 3, 0, 0, 0, "Packed"},
      {atArc, 4, 0, 0, 0, "Squeezed"},    {atArc, 5, 0, 0, 0, "Crunched"},   {atArcExe, 6, 0, 0, 0, "Crunched"},
      {atArc, 7, 0, 0, 0, "Squashed"},    {atArc, 8, 0, 0, 0, "Pack10"},     {atArc, 9, 0, 0, 0, "Pack11"},
      {atArc, 10, 0, 0, 0, "Pack12"},     {atArc, 11, 0, 0, 0, "Stored"},    {atArc, 0, 0, 0x10, 0, "<Dir>"},
      {atArj, 0, 0, 0, 0, "Stored"},      {atArj, 1, 0, 0, 0, "Most"},       {atArjExe, 2, 0, 0, 0, "2nd Most"},
      {atArj, 3, 0, 0, 0, "2nd Fast"},    {atArj, 4, 0, 0x10, 0, "<Dir>"},   {atArj, 4, 0, 0, 0, "Unsupported"},
      {atBh, 0, 0, 0, 0, "Stored"},       {atBh, 1, 0, 0, 0, "Fused1"},      {atBh, 2, 0, 0, 0, "Deflate"},
      {atBhExe, 3, 0, 0, 0, "Fused3"},    {atBh, 8, 4, 0, 0, "DeflateF"},
      {atCab, 0, 0, 0, 0, "Stored"},      {atCab, 1, 0, 0, 0, "MsZIP"},      {atCab, 2, 0, 0, 0, "Quantum"},
      {atCab, 3, 0, 0, 0, "Lzx"},         {atCabExe, 0x15, 0, 0, 0, "Lzx5"}, {atCab, 15, 0, 0, 0, "Lzx15"},
      {atHA, 0, 0, 0, 0, "Cpy"},          {atHA, 1, 0, 0, 0, "Asc"},         {atHA, 2, 0, 0, 0, "HSC"},
      {atHA, 14, 0, 0, 0, "<Dir>"},       {atHA, 15, 0, 0, 0, "Special"},    {atHA, 3, 0, 0, 0, "Unsupported"},
      {atLha, '0', 0, 0, 0, "Stored"},    {atLhaExe, '1', 0, 0, 0, "Frozen-1"}, {atLzh, '7', 0, 0, 0, "Frozen-7"},
      {atLzhExe, 'd', 0, 0, 0, "<Dir>"},  {atLha, '8', 0, 0, 0, "Unsupported"},
      {atPak, 2, 0, 0, 0, "Stored"},      {atPak, 3, 0, 0, 0, "RLE"},        {atPak, 4, 0, 0, 0, "Squeezed"},
      {atPak, 5, 0, 0, 0, "FixedLen"},    {atPakExe, 7, 0, 0, 0, "FixedLen"}, {atPak, 8, 0, 0, 0, "Varible"},
      {atPak, 9, 0, 0, 0, "Varible"},     {atPak, 10, 0, 0, 0, "Crushed"},   {atPak, 11, 0, 0, 0, "Distill"},
      {atRar, 48, 0, 0, 0, "Stored"},     {atRar, 49, 0, 0, 0, "Fastest"},   {atRar, 50, 0, 0, 0, "Fast"},
      {atRar, 51, 0, 0, 0, "Normal"},     {atRarExe, 52, 0, 0, 0, "Good"},   {atRar, 53, 0, 0, 0, "Best"},
      {atRar, 48, 0, 0x10, 0, "<Dir>"},
      {atZoo, 0, 0, 0, 0, "Stored"},      {atZoo, 1, 0, 0, 0, "Fastest"},    {atZoo, 2, 0, 0, 0, "Greatest"},
      {atTar, 0, 0, 0, 0, "Tarred"},      {atUUE, 0, 0, 0, 0, "Unsupported"},
  };
  for (const auto& r : rows) {
    Probe zip;
    zip.Kind(r.kind);
    EXPECT_EQ(zip.GetCompressMethodName(r.method, r.flags, r.attrs, r.magic), r.name)
        << int(r.kind) << " method " << r.method;
  }
  Probe tar;
  tar.Kind(atTar);
  tar.SetExtractDir("/out");
  tar.SetCurrentFileName("folder/");
  EXPECT_EQ(tar.GetCompressMethodName(5, 0), "<Dir>");
  tar.SetCurrentFileName("folder/a.txt");
  EXPECT_EQ(tar.GetCompressMethodName(5, 0), "Unsupported");
}

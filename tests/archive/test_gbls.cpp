// Path, name, percentage and date helpers of the engine, and the shared file routines.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "archive/qrnGbls.h"
#include "platform/files.h"

namespace {

class TempFolder {
 public:
  TempFolder() {
    std::string base = std::string(TARVELO_BINARY_DIR) + "/gbls-XXXXXX";
    char* made = ::mkdtemp(base.data());
    if (made) FPath = made;
  }
  ~TempFolder() {
    if (!FPath.empty()) std::system(("rm -rf '" + FPath + "'").c_str());
  }
  std::string Path() const { return FPath + "/"; }

 private:
  std::string FPath;
};

void writeFile(const std::string& name, const std::string& content) {
  std::ofstream(name, std::ios::binary) << content;
}

// Days since 1899-12-30 plus the time of day.
double dateTime(int days, int h, int m, int s) { return days + (h * 3600 + m * 60 + s) / 86400.0; }

uint32_t dos(int year, int month, int day, int h, int m, int s) {
  return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | h << 11 | m << 5 | s / 2);
}

}  // namespace

TEST(GblsPaths, JoinAddAndRemoveSlash) {
  EXPECT_EQ(JoinPath("/", "a.txt"), "/a.txt");
  EXPECT_EQ(JoinPath("/x", "a.txt"), "/x/a.txt");
  EXPECT_EQ(JoinPath("/x/", "a.txt"), "/x/a.txt");
  EXPECT_EQ(JoinPath("", "a.txt"), "");
  EXPECT_EQ(AddSlash("/x"), "/x/");
  EXPECT_EQ(AddSlash("/x/"), "/x/");
  EXPECT_EQ(AddSlash(""), "");
  EXPECT_EQ(RemoveSlash("/x//"), "/x/");  // only one
  EXPECT_EQ(RemoveSlash("/x"), "/x");
  EXPECT_EQ(RemoveSlash(""), "");
  EXPECT_EQ(SlashToBackslash("a/b/c"), "a\\b\\c");
  EXPECT_EQ(BackslashToSlash("a\\b\\c"), "a/b/c");
}

TEST(GblsPaths, StoredAndLocalNamesWithoutTranslation) {
  EXPECT_EQ(StoredToLocalName("dir/sub/a.txt", false), "dir/sub/a.txt");
  EXPECT_EQ(StoredToLocalName("dir\\sub\\a.txt", false), "dir\\sub\\a.txt");
  EXPECT_EQ(LocalToStoredName("dir/sub/a.txt", false), "dir/sub/a.txt");
  EXPECT_EQ(LocalToStoredName("dir\\sub\\a.txt", false), "dir\\sub\\a.txt");
  EXPECT_EQ(DosNameToLocal("C:\\dir\\sub/a.txt"), "/dir/sub/a.txt");
  EXPECT_EQ(DosNameToLocal("c:data.txt"), "c:data.txt");
  EXPECT_EQ(StoredToLocalName("", true), "");
  EXPECT_EQ(LocalToStoredName("", true), "");
}

TEST(GblsPaths, Cp866NamesAndTheUtf8Flag) {
  const std::string cyrUtf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82/\xD1\x84.txt";  // Привет/ф.txt
  const std::string cyr866 = "\x8F\xE0\xA8\xA2\xA5\xE2/\xE4.txt";
  bool utf8 = true;
  EXPECT_EQ(LocalToStoredName(cyrUtf8, true, utf8), cyr866);
  EXPECT_FALSE(utf8);
  EXPECT_EQ(StoredToLocalName(cyr866, true), cyrUtf8);
  EXPECT_EQ(AnsiToOemName(cyrUtf8, true), cyr866);
  EXPECT_EQ(AnsiToOemName(cyrUtf8, false), cyrUtf8);

  // CP866 has no Euro sign and no CJK: such a name stays UTF-8 and asks for bit 11, and a
  // bit-11 name is read back unchanged instead of being misread as CP866.
  const std::string foreign = "\xE2\x82\xAC-\xE6\x97\xA5.txt";
  EXPECT_EQ(LocalToStoredName(foreign, true, utf8), foreign);
  EXPECT_TRUE(utf8);
  EXPECT_EQ(StoredToLocalName(foreign, true, kUtf8NameFlag), foreign);
  EXPECT_NE(StoredToLocalName(foreign, true, 0), foreign);
  EXPECT_EQ(AnsiToOemName(foreign, true), foreign);

  LocalToStoredName("plain.txt", true, utf8);
  EXPECT_FALSE(utf8);
  // Untranslated non-ASCII names are UTF-8 as they stand, and say so.
  EXPECT_EQ(LocalToStoredName(cyrUtf8, false, utf8), cyrUtf8);
  EXPECT_TRUE(utf8);
}

TEST(GblsPaths, LastDotPosAndReplaceExtension) {
  EXPECT_EQ(LastDotPos("a.b.c"), 3u);
  EXPECT_EQ(LastDotPos("abc"), 3u);
  EXPECT_EQ(LastDotPos(""), 0u);
  // Names past 255 characters keep their real extension.
  const std::string longName = std::string(296, 'n') + ".zip";
  ASSERT_EQ(longName.size(), 300u);
  EXPECT_EQ(LastDotPos(longName), 296u);
  EXPECT_EQ(ReplaceExtension(longName, ".z01"), std::string(296, 'n') + ".z01");
  // A dot in a folder is not the file's extension.
  EXPECT_EQ(LastDotPos("/my.backups/archive"), 19u);
  EXPECT_EQ(ReplaceExtension("/my.backups/archive", ".z01"), "/my.backups/archive.z01");
  EXPECT_EQ(ReplaceExtension("/b/backup.zip", ".z01"), "/b/backup.z01");
}

TEST(GblsNumbers, PercentRoundsHalvesToEvenAndClamps) {
  EXPECT_EQ(Percent(0, 5), 0);
  EXPECT_EQ(Percent(3, 1), 33);
  EXPECT_EQ(Percent(3, 2), 67);
  EXPECT_EQ(Percent(8, 1), 12);  // 12.5
  EXPECT_EQ(Percent(8, 3), 38);  // 37.5
  EXPECT_EQ(Percent(8, 5), 62);  // 62.5
  EXPECT_EQ(Percent(200, 1), 0);  // 0.5
  EXPECT_EQ(Percent(200, 3), 2);  // 1.5
  EXPECT_EQ(Percent(10, 11), 100);
  EXPECT_EQ(Percent(10, -1), 0);
  EXPECT_EQ(Percent(10, 10), 100);
  EXPECT_EQ(Percent(int64_t{10000000000000}, int64_t{5000000000000}), 50);

  EXPECT_EQ(PercentLeft(10, 3), 70);
  EXPECT_EQ(PercentLeft(8, 7), 12);  // 12.5
  EXPECT_EQ(PercentLeft(10, 10), 0);
  EXPECT_EQ(PercentLeft(10, 12), 0);
  EXPECT_EQ(PercentLeft(0, 0), 0);
  EXPECT_EQ(PercentLeft(-5, -10), 0);
}

TEST(GblsDates, DosDateTimeConversionAndItsFallbacks) {
  const double oneMinute = 60.0 / 86400.0;
  EXPECT_NEAR(DosDateTimeToDateTime(0), 29221 + oneMinute, 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(0x00210020), 29221 + oneMinute, 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(dos(2024, 5, 17, 13, 45, 30)), dateTime(45429, 13, 45, 30), 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(dos(2000, 2, 29, 0, 0, 0)), 36585.0, 1e-9);

  // Invalid dates: the date falls back, the time is still added.
  const uint32_t month13 = static_cast<uint32_t>(13 << 21 | 1 << 16);
  EXPECT_NEAR(DosDateTimeToDateTime(month13), 29221.000694, 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(month13 | 12 << 11), 29221.500694, 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(dos(2100, 2, 29, 0, 0, 0)), 29221.000694, 1e-9);  // no leap year
  EXPECT_NEAR(DosDateTimeToDateTime(dos(2023, 4, 31, 0, 0, 0)), 29221.000694, 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(dos(2023, 4, 0, 0, 0, 0)), 29221.000694, 1e-9);
  EXPECT_NEAR(DosDateTimeToDateTime(static_cast<uint32_t>(44 << 25 | 1 << 16)), 29221.000694, 1e-9);  // month 0

  // An invalid time makes the whole value the fallback, whatever the date.
  const uint32_t goodDate = dos(2024, 5, 17, 0, 0, 0);
  EXPECT_NEAR(DosDateTimeToDateTime(goodDate | 31), 29221.000694, 1e-9);        // 62 seconds
  EXPECT_NEAR(DosDateTimeToDateTime(goodDate | 30), 29221.000694, 1e-9);        // 60 seconds
  EXPECT_NEAR(DosDateTimeToDateTime(goodDate | 24 << 11), 29221.000694, 1e-9);  // hour 24
  EXPECT_NEAR(DosDateTimeToDateTime(goodDate | 60 << 5), 29221.000694, 1e-9);   // minute 60
  EXPECT_NEAR(DosDateTimeToDateTime(goodDate | 29), dateTime(45429, 0, 0, 58), 1e-9);
}

TEST(GblsDates, FileTimeToLocalDosTimeRoundTrips) {
  const uint32_t d = dos(2021, 7, 4, 10, 20, 30);
  const int64_t t = platform::LocalDosTimeToUnixTime(d);
  EXPECT_EQ(FileTimeToLocalDosTime(t), d);
}

TEST(GblsNames, LevelNamesAndSmallHelpers) {
  EXPECT_EQ(DeflateLevelName(0), "DeflateN");
  EXPECT_EQ(DeflateLevelName(2), "DeflateX");
  EXPECT_EQ(DeflateLevelName(4), "DeflateF");
  EXPECT_EQ(DeflateLevelName(6), "DeflateS");
  EXPECT_EQ(DeflateLevelName(5), "DeflateN");
  EXPECT_EQ(DeflateLevelName(8), "DeflateN");
  EXPECT_EQ(Deflate64LevelName(2), "Def-64X");
  EXPECT_EQ(Deflate64LevelName(4), "Def-64F");
  EXPECT_EQ(Deflate64LevelName(6), "Def-64S");
  EXPECT_EQ(Deflate64LevelName(7), "Def-64N");

  EXPECT_FALSE(IsUNCPath("\\\\"));
  EXPECT_TRUE(IsUNCPath("\\\\srv"));
  EXPECT_FALSE(IsUNCPath("\\srv"));

  std::string src = "PKBACK# 001|rest";
  EXPECT_EQ(NextToken(src, "|"), "PKBACK# 001");
  EXPECT_EQ(src, "rest");
  EXPECT_EQ(NextToken(src, "|"), "rest");
  EXPECT_EQ(src, "");
  src = "a::b";
  EXPECT_EQ(NextToken(src, "::"), "a");
  EXPECT_EQ(src, "b");

  EXPECT_TRUE(SameBytes("abcX", "abcY", 3));
  EXPECT_FALSE(SameBytes("abcX", "abcY", 4));
  EXPECT_EQ(KeepKnownAttributes(0xFFFFFFFFu), 0x40BFu);
  EXPECT_EQ(AttrsToWindows({fsZeroAttr}), 0);
  EXPECT_EQ(AttrsToWindows({fsReadOnly, fsDirectory, fsCompressed, fsEncrypted}), 0x01 | 0x10 | 0x800 | 0x4000);
  EXPECT_TRUE(IsLargeEndSignature(0x06055B50u));
  EXPECT_TRUE(IsLargeEndSignature(0x06055C50u));
  EXPECT_FALSE(IsLargeEndSignature(0x06054B50u));
}

TEST(GblsNames, DisplayNamesAndExtensions) {
  EXPECT_EQ(std::string(ArcTypeNames[atNA]).size(), 11u);
  for (int t = atUnsupported; t <= atZoo; ++t) EXPECT_EQ(std::string(ArcTypeNames[t]).size(), 10u) << t;
  EXPECT_EQ(std::string(ArcTypeNames[atMsGZ]), "MsGZ     \t");
  EXPECT_EQ(std::string(ArcTypeNames[atZipMV]), "Zip MVol  ");
  EXPECT_EQ(std::string(KnownArchiveExtensions[0]), ".ACE");
  EXPECT_EQ(std::string(KnownArchiveExtensions[22]), ".ZIP");
  EXPECT_EQ(std::string(KnownArchiveExtensions[23]), ".ZOO");
}

TEST(GblsMasks, MatchesFileSpecFirstMaskDecidesAndExcludesWin) {
  TStrings specs, excludes;
  specs.Add("*.txt");
  specs.Add("*.*");
  EXPECT_TRUE(MatchesFileSpec("a.txt", specs, nullptr));
  EXPECT_TRUE(MatchesFileSpec("noext", specs, nullptr));  // "*.*" takes names without a dot
  excludes.Add("secret*");
  EXPECT_FALSE(MatchesFileSpec("secret.txt", specs, &excludes));
  EXPECT_TRUE(MatchesFileSpec("public.txt", specs, &excludes));
  TStrings noDotMask;
  noDotMask.Add("abc");
  EXPECT_TRUE(MatchesFileSpec("abc", noDotMask, nullptr));
  EXPECT_FALSE(MatchesFileSpec("abc.d", noDotMask, nullptr));
  EXPECT_FALSE(MatchesFileSpec("a.txt", TStrings(), nullptr));
}

TEST(GblsFiles, FileTests) {
  TempFolder tmp;
  const std::string d = tmp.Path();
  ASSERT_FALSE(d.empty());
  EXPECT_TRUE(DirExists(d));
  EXPECT_TRUE(FolderHasNoFiles(d));
  ASSERT_TRUE(ForceDirectories(d + "x/y/z"));
  EXPECT_TRUE(DirExists(d + "x/y/z"));
  EXPECT_TRUE(ForceDirectories(d + "x/y"));
  writeFile(d + ".hidden", "h");
  EXPECT_TRUE(FolderHasNoFiles(d));  // only a folder and a hidden file
  writeFile(d + "a.txt", "a");
  EXPECT_FALSE(FolderHasNoFiles(d));
  EXPECT_FALSE(ForceDirectories(d + "a.txt/sub"));  // a file stands in the way
  EXPECT_FALSE(DirExists(d + "a.txt"));

  EXPECT_TRUE(IsPlainFile(d + "a.txt"));
  EXPECT_FALSE(IsPlainFile(d + ".hidden"));
  EXPECT_FALSE(IsPlainFile(d + "x"));
  EXPECT_FALSE(IsPlainFile(d + "missing"));
  writeFile(d + "ro.txt", "r");
  platform::SetFileAttributes(d + "ro.txt", platform::kAttrReadOnly);
  EXPECT_FALSE(IsPlainFile(d + "ro.txt"));

  EXPECT_TRUE(FileExistsByFind(d + "a.txt"));
  EXPECT_TRUE(FileExistsByFind(d + "x"));
  EXPECT_TRUE(FileExistsByFind(d + "*.txt"));
  EXPECT_TRUE(FileExistsByFind(d + "?.TXT"));
  EXPECT_FALSE(FileExistsByFind(d + "*.zip"));
  EXPECT_FALSE(FileExistsByFind(d + "missing"));
  EXPECT_FALSE(FileExistsByFind(""));

  EXPECT_EQ(SystemTempPath().back(), '/');
}

TEST(GblsFiles, DeleteArchiveFileToTrashOrForGood) {
  TempFolder tmp;
  const std::string d = tmp.Path();
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  std::string saved = oldXdg ? oldXdg : "";
  ::setenv("XDG_DATA_HOME", (d + "data").c_str(), 1);

  writeFile(d + "old.zip", "archive");
  EXPECT_TRUE(DeleteArchiveFile(d + "old.zip", doAllowUndo));
  EXPECT_FALSE(platform::FileExists(d + "old.zip"));
  EXPECT_TRUE(platform::FileExists(d + "data/Trash/files/old.zip"));
  EXPECT_TRUE(platform::FileExists(d + "data/Trash/info/old.zip.trashinfo"));
  // A second file of the same name is renamed in the Trash, not lost.
  writeFile(d + "old.zip", "second");
  EXPECT_TRUE(DeleteArchiveFile(d + "old.zip", doAllowUndo));
  EXPECT_TRUE(platform::FileExists(d + "data/Trash/files/old.zip"));
  EXPECT_EQ(platform::ListDirectory(d + "data/Trash/files").size(), 2u);
  EXPECT_FALSE(DeleteArchiveFile(d + "missing.zip", doAllowUndo));

  writeFile(d + "final.zip", "x");
  EXPECT_TRUE(DeleteArchiveFile(d + "final.zip", doFinal));
  EXPECT_FALSE(platform::FileExists(d + "final.zip"));
  EXPECT_FALSE(platform::FileExists(d + "data/Trash/files/final.zip"));
  EXPECT_FALSE(DeleteArchiveFile(d + "final.zip", doFinal));

  if (oldXdg) {
    ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    ::unsetenv("XDG_DATA_HOME");
  }
}

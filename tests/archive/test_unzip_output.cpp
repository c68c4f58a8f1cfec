// Where and how entries are written: hostile names never leave ExtractDir, the overwrite rules
// and their events, renaming, the read-only bit and code pages of names.
#include <gtest/gtest.h>

#include <functional>

#include "platform/volumes.h"
#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

TEST(UnZipOutput, HostileNamesStayInsideTheTarget) {
  Folder d;
  zipfixture::WriteAll(d / "evil.zip",
                       Build({Stored("../x1", "1"), Stored("/etc/x2", "2"), Stored("C:\\x3", "3"),
                              Stored("..\\..\\x4", "4"), Stored("a/../../x5", "5"), Stored("C:x6", "6"),
                              Stored("\\\\srv\\share\\x7", "7"), Stored("ok/..\\../x8", "8"),
                              Stored(std::string("..\0/../x9", 10), "9")}));
  Reader r(d / "evil.zip", d / "box/dest");
  r.unzip.Extract();
  // Nothing outside the target folder: the archive and the target are all there is.
  std::vector<std::string> outside;
  for (const auto& e : std::filesystem::recursive_directory_iterator(d.Path())) {
    const std::string p = e.path().string();
    if (p == d / "evil.zip" || p == d / "box" || p.rfind(d / "box/dest", 0) == 0) continue;
    outside.push_back(p);
  }
  EXPECT_TRUE(outside.empty()) << outside.front();
  const auto tree = Tree(d / "box/dest");
  EXPECT_EQ(tree.size(), 8u);  // "..\0..." ends at its NUL: a name of no file
  EXPECT_EQ(tree.at("x1"), "1");
  EXPECT_EQ(tree.at("etc/x2"), "2");
  EXPECT_EQ(tree.at("x3"), "3");
  EXPECT_EQ(tree.at("x4"), "4");
}

TEST(UnZipOutput, OverwriteSkipExtractsNothing) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "new")}));
  Reader r(d / "x.zip", d / "dest");
  r.unzip.SetOverwriteMode(omSkip);
  EXPECT_EQ(r.unzip.Extract(), 0);
  EXPECT_FALSE(Exists(d / "dest/a.txt"));
}

TEST(UnZipOutput, ConfirmOverwritesWithoutHandlerKeepsExistingFiles) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "new"), Stored("b.txt", "fresh")}));
  Put(d / "dest/a.txt", "old");
  Reader r(d / "x.zip", d / "dest");
  r.unzip.SetConfirmOverwrites(true);
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "dest/a.txt"), "old");
  EXPECT_EQ(Slurp(d / "dest/b.txt"), "fresh");
  ASSERT_EQ(r.Count(E_EVENT_NOT_ASSIGNED), 1);
  EXPECT_EQ(r.errors[0].ext, "OnFileExists");
}

TEST(UnZipOutput, OnFileExistsAskedAgainForAnExistingNewName) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "new")}));
  Put(d / "dest/a.txt", "old");
  Put(d / "dest/a1.txt", "old1");
  Reader r(d / "x.zip", d / "dest");
  r.unzip.SetConfirmOverwrites(true);
  std::vector<std::string> asked;
  r.unzip.OnFileExists = [&](TObject*, const std::string& f, std::string& newName, TOverwriteMode& mode) {
    asked.push_back(NamePart(f));
    newName = asked.size() == 1 ? d / "dest/a1.txt" : d / "dest/a2.txt";
    mode = omOverwrite;
  };
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(asked, (std::vector<std::string>{"a.txt", "a1.txt"}));
  EXPECT_EQ(Slurp(d / "dest/a.txt"), "old");
  EXPECT_EQ(Slurp(d / "dest/a1.txt"), "old1");
  EXPECT_EQ(Slurp(d / "dest/a2.txt"), "new");
}

TEST(UnZipOutput, OverwritingAReadOnlyFileWhenConfirmed) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "new")}));
  Put(d / "dest/a.txt", "old");
  ASSERT_TRUE(platform::SetFileAttributes(d / "dest/a.txt", platform::kAttrReadOnly));
  Reader r(d / "x.zip", d / "dest");
  r.unzip.SetConfirmOverwrites(true);
  r.unzip.OnFileExists = [&](TObject*, const std::string&, std::string&, TOverwriteMode& mode) {
    mode = omOverwrite;
  };
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "dest/a.txt"), "new");
}

TEST(UnZipOutput, OnFileExistsSkip) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "new")}));
  Put(d / "dest/a.txt", "old");
  Reader r(d / "x.zip", d / "dest");
  r.unzip.SetConfirmOverwrites(true);
  r.unzip.OnFileExists = [&](TObject*, const std::string&, std::string&, TOverwriteMode& mode) { mode = omSkip; };
  EXPECT_EQ(r.unzip.Extract(), 0);
  EXPECT_EQ(Slurp(d / "dest/a.txt"), "old");
}

TEST(UnZipOutput, OnRenameFileOnlyWithOnBegin) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "A")}));
  Reader r(d / "x.zip", d / "dest");
  r.unzip.OnRenameFile = [&](TObject*, const std::string&, std::string& n) { n = d / "elsewhere/renamed.txt"; };
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "dest/a.txt"), "A");  // no OnBegin: no renaming

  Reader r2(d / "x.zip", d / "dest2");
  r2.unzip.OnRenameFile = r.unzip.OnRenameFile;
  int32_t counted = 0;
  r2.unzip.OnBegin = [&](TObject*, const std::string&, int32_t count, bool&) { counted = count; };
  EXPECT_EQ(r2.unzip.Extract(), 1);
  EXPECT_EQ(counted, 1);
  EXPECT_EQ(Slurp(d / "elsewhere/renamed.txt"), "A");
}

TEST(UnZipOutput, OnBeginDeclines) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("a.txt", "A"), Stored("b.txt", "B")}));
  Reader r(d / "x.zip", d / "dest");
  r.unzip.OnBegin = [&](TObject*, const std::string& f, int32_t, bool& go) { go = NamePart(f) != "a.txt"; };
  EXPECT_EQ(r.unzip.Extract(), 1);
  EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{"b.txt", "B"}}));
  EXPECT_EQ(r.unzip.FilesFailed(), 0);
}

TEST(UnZipOutput, ReadOnlyBitAndArchiveOnlyAttributes) {
  Folder d;
  auto ro = Stored("ro.txt", "r");
  ro.attributes = 0x21;
  auto hidden = Stored("hid.txt", "h");
  hidden.attributes = 0x02 | 0x04;  // hidden and system mean nothing here
  zipfixture::WriteAll(d / "x.zip", Build({ro, hidden, Stored("plain.txt", "p")}));
  Reader r(d / "x.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 3);
  struct stat st {};
  ASSERT_EQ(stat((d / "dest/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
  ASSERT_EQ(stat((d / "dest/hid.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  ASSERT_EQ(stat((d / "dest/plain.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
  platform::SetFileAttributes(d / "dest/ro.txt", 0);

  // Without RestoreFileAttr the stored bits are not applied.
  Reader k(d / "x.zip", d / "keep");
  k.unzip.SetRestoreFileAttr(false);
  k.unzip.Extract();
  ASSERT_EQ(stat((d / "keep/ro.txt").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

// Guards the mode of what extraction puts down, which no longer comes from one step for every
// file: a file that replaces none is made with the user's default mode (not the 0600 of a
// temporary file), also in a folder that the entry makes; one that replaces a file takes that
// file's mode.
TEST(UnZipOutput, ModesOfNewAndReplacedFiles) {
  Folder d;
  zipfixture::WriteAll(d / "x.zip", Build({Stored("new.txt", "n"), Stored("sub/deep.txt", "s"),
                                           Stored("old.txt", "o")}));
  Put(d / "dest/old.txt", "before");
  ASSERT_EQ(chmod((d / "dest/old.txt").c_str(), 0604), 0);
  const mode_t saved = umask(027);
  Reader r(d / "x.zip", d / "dest");
  const int32_t n = r.unzip.Extract();
  umask(saved);
  EXPECT_EQ(n, 3);
  auto modeOf = [](const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 01000;
  };
  EXPECT_EQ(modeOf(d / "dest/new.txt"), 0640u);
  EXPECT_EQ(modeOf(d / "dest/sub/deep.txt"), 0640u);
  EXPECT_EQ(modeOf(d / "dest/old.txt"), 0604u);
  EXPECT_EQ(Tree(d / "dest"),
            (std::map<std::string, std::string>{{"new.txt", "n"}, {"old.txt", "o"}, {"sub/deep.txt", "s"}}));
}

TEST(UnZipOutput, DateFromTheDosDateTime) {
  Folder d;
  auto e = Stored("dated.txt", "d");
  e.dos = (uint32_t{2001 - 1980} << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u;  // 2001-03-04 05:06:08
  zipfixture::WriteAll(d / "x.zip", Build({e}));
  Reader r(d / "x.zip", d / "dest");
  r.unzip.Extract();
  struct stat st {};
  ASSERT_EQ(stat((d / "dest/dated.txt").c_str(), &st), 0);
  struct tm tm {};
  localtime_r(&st.st_mtime, &tm);
  EXPECT_EQ(tm.tm_year, 101);
  EXPECT_EQ(tm.tm_mon, 2);
  EXPECT_EQ(tm.tm_mday, 4);
  EXPECT_EQ(tm.tm_hour, 5);
  EXPECT_EQ(tm.tm_min, 6);
  EXPECT_EQ(tm.tm_sec, 8);
}

// Guards a failing entry overwriting the file the user still has: an entry that fails its
// CRC, its size, its password or a write, or is cancelled, leaves the old file as it was and no
// partial file beside it; an entry that passes replaces the old file with its own date and
// read-only bit.
TEST(UnZipOutput, AFailingEntryNeverReplacesAnExistingFile) {
  const std::string big = writerfixture::Random(100000, 5);
  struct Case {
    const char* what;
    std::function<void(const Folder&, Reader&)> arrange;  // makes x.zip and sets up the reader
  };
  auto stored = [](RawEntry e) {
    return [e](const Folder& d, Reader&) { zipfixture::WriteAll(d / "x.zip", Build({e})); };
  };
  auto badCrc = Stored("f.txt", "new content");
  badCrc.crc ^= 1;
  auto shortData = Stored("f.txt", "0123456789");
  shortData.unpacked = 20;
  const std::vector<Case> cases = {
      {"crc", stored(badCrc)},
      {"size", stored(shortData)},
      {"password",
       [](const Folder& d, Reader& r) {
         // A wrong password that the cipher's one check byte lets through.
         Put(d / "src/f.txt", writerfixture::Text(5000));
         writerfixture::Writer w(d / "x.zip", d / "src");
         w.zip.SetPassword("secret");
         ASSERT_EQ(w.zip.Compress(), 1);
         const auto bytes = zipfixture::ReadAll(d / "x.zip");
         const auto e = zipfixture::Entries(bytes).at(0);
         const std::span<const uint8_t> header(bytes.data() + e.dataOffset, kEncryptionHeaderSize);
         for (int i = 0; i < 100000; ++i) {
           const std::string guess = "guess" + std::to_string(i);
           if (CheckEncryptionHeader(header, e.local.Flags, e.central.Crc32, guess,
                                     static_cast<uint16_t>(e.local.DosDateTime))) {
             r.unzip.Passwords().Add(guess);
             return;
           }
         }
         FAIL() << "no wrong password passes the check byte";
       }},
      {"refused write",
       [&](const Folder& d, Reader& r) {
         zipfixture::WriteAll(d / "x.zip", Build({Stored("f.txt", big)}));
         auto write = r.unzip.OutputHook;
         r.unzip.OutputHook = [write, calls = 0](TStream32* o, uint8_t* b, int32_t f, int32_t n, int32_t m,
                                                 bool c) mutable { return ++calls == 1 ? write(o, b, f, n, m, c) : 0; };
       }},
      {"cancelled",
       [&](const Folder& d, Reader& r) {
         zipfixture::WriteAll(d / "x.zip", Build({Stored("f.txt", big)}));
         r.unzip.OnProgress = [&r](TObject*, uint8_t, uint8_t) { r.unzip.SetCancel(true); };
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder d;
    Put(d / "dest/f.txt", "old");
    Reader r(d / "x.zip", d / "dest");
    c.arrange(d, r);
    r.unzip.SetArchiveFile(d / "x.zip");
    r.unzip.Extract();
    EXPECT_FALSE(r.Passed("f.txt"));
    EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{"f.txt", "old"}}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d / "dest"), {}), 1);
  }

  Folder d;
  auto fresh = Stored("f.txt", "new");
  fresh.attributes = 0x21;
  fresh.dos = (uint32_t{2001 - 1980} << 25) | (3u << 21) | (4u << 16);  // 2001-03-04 00:00:00
  zipfixture::WriteAll(d / "x.zip", Build({fresh}));
  Put(d / "dest/f.txt", "old");
  Reader r(d / "x.zip", d / "dest");
  r.unzip.Extract();
  EXPECT_TRUE(r.Passed("f.txt"));
  EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{"f.txt", "new"}}));
  struct stat st {};
  ASSERT_EQ(stat((d / "dest/f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
  EXPECT_EQ(st.st_mtime, platform::LocalDosTimeToUnixTime(fresh.dos));
  platform::SetFileAttributes(d / "dest/f.txt", 0);
}

// Guards the restore of small entries where no file of their name exists, which are written
// under that name rather than staged: one that fails in any way leaves nothing at all (no partial
// file, no staged file), one that passes has the mode a new file gets, its date and its
// read-only bit, and a name that a folder holds is left to the folder.
TEST(UnZipOutput, ASmallEntryWhereNoFileWasLeavesNothingWhenItFails) {
  auto badCrc = Stored("f.txt", "new content");
  badCrc.crc ^= 1;
  auto shortData = Stored("f.txt", "0123456789");
  shortData.unpacked = 20;
  auto damaged = Stored("f.txt", std::string(40, '\xFF'));
  damaged.method = 8;
  damaged.unpacked = 100;
  auto unsupported = Stored("f.txt", "0123456789");
  unsupported.method = 7;
  struct Case {
    const char* what;
    RawEntry entry;
    std::function<void(Reader&)> arrange;
  };
  const std::vector<Case> cases = {
      {"crc", badCrc, nullptr},
      {"size", shortData, nullptr},
      {"damaged data", damaged, nullptr},
      {"unsupported method", unsupported, nullptr},
      {"refused write", Stored("f.txt", "content"),
       [](Reader& r) {
         r.unzip.OutputHook = [](TStream32*, uint8_t*, int32_t, int32_t, int32_t, bool) { return 0; };
       }},
      {"cancelled", Stored("f.txt", "content"),
       [](Reader& r) { r.unzip.OnProgress = [&r](TObject*, uint8_t, uint8_t) { r.unzip.SetCancel(true); }; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder d;
    zipfixture::WriteAll(d / "x.zip", Build({c.entry}));
    std::filesystem::create_directories(d / "dest");
    Reader r(d / "x.zip", d / "dest");
    if (c.arrange) c.arrange(r);
    r.unzip.Extract();
    EXPECT_FALSE(r.Passed("f.txt"));
    EXPECT_EQ(r.unzip.FilesFailed(), 1);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d / "dest"), {}), 0) << "nothing left behind";
  }

  Folder d;
  auto fresh = Stored("new/f.txt", "new");
  fresh.attributes = 0x21;
  fresh.dos = (uint32_t{2001 - 1980} << 25) | (3u << 21) | (4u << 16);  // 2001-03-04 00:00:00
  zipfixture::WriteAll(d / "x.zip", Build({fresh, Stored("plain.txt", "plain"), Stored("taken", "file")}));
  std::filesystem::create_directories(d / "dest/taken");
  Put(d / "dest/taken/inside.txt", "kept");
  Reader r(d / "x.zip", d / "dest");
  const mode_t mask = ::umask(022);
  r.unzip.Extract();
  ::umask(mask);
  EXPECT_TRUE(r.Passed("f.txt"));
  EXPECT_TRUE(r.Passed("plain.txt"));
  EXPECT_FALSE(r.Passed("taken"));
  EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{
                                  {"new/f.txt", "new"}, {"plain.txt", "plain"}, {"taken/inside.txt", "kept"}}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d / "dest"), {}), 3);
  struct stat st {};
  ASSERT_EQ(stat((d / "dest/new/f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(st.st_mtime, platform::LocalDosTimeToUnixTime(fresh.dos));
  ASSERT_EQ(stat((d / "dest/plain.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  EXPECT_EQ(st.st_mtime, platform::LocalDosTimeToUnixTime(Stored("", "").dos));
  platform::SetFileAttributes(d / "dest/new/f.txt", 0);
}

// Guards restored files that could not be finished: a file whose close fails (a full network
// share says so only then) or that cannot take the permissions of the file it replaces (a share
// that keeps no Unix modes) is no restored file. It is reported (25138, not as a CRC failure) and
// removed, a file it was to replace stays as it was, and the run counts it failed; small files
// written under their own name, larger ones written beside it and files over an old one alike.
TEST(UnZipOutput, AFileThatCannotBeClosedOrGivenItsPermissionsIsNotRestored) {
  struct Case {
    const char* what;
    size_t size;
    bool overOldFile;
    bool fullAtClose;  // else the share keeps no modes
    bool ownMode = false;  // the entry carries its Unix permission bits (0600)
  };
  const std::vector<Case> cases = {
      {"a small new file whose close fails", 100, false, true},
      {"a large new file whose close fails", 100000, false, true},
      {"a file over an old one whose close fails", 100000, true, true},
      {"a file over an old one that cannot take its permissions", 100, true, false},
      {"a private new file that cannot take its own permissions", 100, false, false, true},
      {"a large private file that cannot take its own permissions", 100000, false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder d;
    auto entry = Stored("f.txt", writerfixture::Random(c.size, 3));
    if (c.ownMode) {
      entry.madeBy = 3 << 8 | 20;
      entry.attributes = (0100600u << 16) | 0x20;
    }
    zipfixture::WriteAll(d / "x.zip", Build({entry}));
    const std::string old = "old";
    // A full share can hold the old file and half the new one.
    const auto capacity = static_cast<int64_t>(c.fullAtClose ? old.size() + c.size / 2 : 1000000);
    platform::SimulatedDrive share(d / "share", capacity, "SHARE", 1);
    if (c.overOldFile) Put(share.Path() + "/dest/f.txt", old);
    std::filesystem::create_directories(share.Path() + "/dest");
    share.SetFullOnlyAtClose(c.fullAtClose);
    share.SetModesRefused(!c.fullAtClose);
    Reader r(d / "x.zip", share.Path() + "/dest");
    r.unzip.Extract();
    EXPECT_FALSE(r.Passed("f.txt"));
    EXPECT_EQ(r.unzip.FilesFailed(), 1);
    EXPECT_EQ(r.errors.size(), 1u);
    for (const auto& e : r.errors) {
      EXPECT_EQ(e.code, E_CLOSE_ERROR);
      EXPECT_EQ(e.file, share.Path() + "/dest/f.txt");
      EXPECT_EQ(e.ext, c.fullAtClose ? std::string("No space left on device")
                                     : "its permissions could not be set: Operation not permitted");
    }
    using Files = std::map<std::string, std::string>;
    const Files left = c.overOldFile ? Files{{"f.txt", old}} : Files{};
    EXPECT_EQ(Tree(share.Path() + "/dest"), left);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(share.Path() + "/dest"), {}), c.overOldFile ? 1 : 0)
        << "nothing left behind";
  }
}

// Guards two entries of an archive that come out under one path (a name stored twice, "../b"
// beside "./b", a drive or a leading '/' that the cleaning of a path drops): the later one replaced
// the first without a word, and the run counted both as restored. The file put down first stays;
// the later entry is not written, is named in a report and is not counted. An entry that failed
// put nothing down, and the next one of its name comes out.
TEST(UnZipOutput, TwoEntriesOfOnePathNeverReplaceEachOther) {
  const std::string big = writerfixture::Random(100000, 9);
  auto dos = [](const std::string& name, const std::string& bytes) { return Stored(name, bytes); };
  auto unix = [](const std::string& name, const std::string& bytes) {
    auto e = Stored(name, bytes);
    e.madeBy = 3 << 8 | 20;
    return e;
  };
  auto damaged = Stored("f.txt", "first");
  damaged.crc ^= 1;
  struct Row {
    RawEntry first, second;
    const char* path;
    std::string kept;
    int32_t count;  // Extract's result
    int32_t taken;  // reports of a name already taken
  };
  const std::vector<Row> rows = {
      {dos("a.txt", "first"), dos("a.txt", "second"), "a.txt", "first", 1, 1},
      {dos("../b.txt", "first"), dos("./b.txt", "second"), "b.txt", "first", 1, 1},
      {unix("/c.txt", "first"), unix("c.txt", "second"), "c.txt", "first", 1, 1},
      {dos("C:\\d.txt", "first"), unix("d.txt", "second"), "d.txt", "first", 1, 1},
      {dos("x\\e.txt", "first"), unix("x/e.txt", "second"), "x/e.txt", "first", 1, 1},
      {dos("big.bin", "first"), dos("big.bin", big), "big.bin", "first", 1, 1},
      {dos("big2.bin", big), dos("big2.bin", "second"), "big2.bin", big, 1, 1},
      {damaged, dos("f.txt", "second"), "f.txt", "second", 2, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    Folder d;
    zipfixture::WriteAll(d / "x.zip", Build({row.first, row.second}));
    Reader r(d / "x.zip", d / "dest");
    EXPECT_EQ(r.unzip.Extract(), row.count);
    EXPECT_EQ(Tree(d / "dest"), (std::map<std::string, std::string>{{row.path, row.kept}}));
    EXPECT_EQ(r.unzip.FilesFailed(), 1);
    int taken = 0;
    for (const auto& e : r.errors) taken += e.code == E_WRITE_ERROR && e.file == d / ("dest/" + std::string(row.path));
    EXPECT_EQ(taken, row.taken) << (r.errors.empty() ? "" : r.errors[0].ext);
    EXPECT_EQ(static_cast<int32_t>(r.errors.size()), 1);
  }
}

TEST(UnZipOutput, NameCodePages) {
  Folder d;
  auto utf8 = Stored("привет.txt", "u");
  utf8.flags = kFlagUtf8;
  auto oem = Stored("\xAF\xE0\xA8\xA2\xA5\xE2.txt", "o");  // "привет" in CP866
  oem.name[0] = '\xAF';
  zipfixture::WriteAll(d / "a.zip", Build({utf8}));
  zipfixture::WriteAll(d / "b.zip", Build({oem}));
  Reader a(d / "a.zip", d / "dest");
  EXPECT_EQ(a.unzip.Extract(), 1);
  Reader b(d / "b.zip", d / "dest2");
  EXPECT_EQ(b.unzip.Extract(), 1);
  EXPECT_EQ(Slurp(d / "dest/привет.txt"), "u");
  EXPECT_EQ(Slurp(d / "dest2/привет.txt"), "o");
}

}  // namespace

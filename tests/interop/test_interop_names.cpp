// File names as this system has them, bytes in which only '/' separates folders, through a
// backup and a restore, and through Info-ZIP unzip, 7-Zip, bsdtar and Python's zipfile: a
// backslash, a colon and letters outside ASCII never move, merge or garble a file.
#include <gtest/gtest.h>

#include <functional>

#include "tests/interop/names_fixture.h"

using namespace namesfixture;

namespace {

// An entry of one archive: made on a host (kNoDirectory: no directory names one), under a
// stored name, and the path our reader restores it under.
struct HostRow {
  int host;
  const char* stored;
  const char* restored;
};

// Restores each row's one-entry archive into a folder of its own and expects its path there,
// and nothing beside the archive and the target folder.
void ExpectEachRestoredAs(const Folder& d, const std::vector<HostRow>& rows) {
  for (size_t i = 0; i < rows.size(); ++i) {
    const HostRow& r = rows[i];
    const std::string box = d / ("box" + std::to_string(i));
    std::filesystem::create_directories(box);
    zipfixture::WriteAll(box + "/a.zip", OneEntry(r.host, r.stored, "x"));
    Reader reader(box + "/a.zip", box + "/deep/out");
    reader.Extract();
    // An archive without its directory is reported as damaged, and its entry comes out.
    EXPECT_EQ(reader.errors.size(), r.host == kNoDirectory ? 1u : 0u) << r.stored << ": " << Describe(reader.errors);
    EXPECT_EQ(Files(Snapshot(box + "/deep/out")), (std::map<std::string, std::string>{{r.restored, "x"}}))
        << r.host << " " << r.stored;
    for (const auto& e : std::filesystem::recursive_directory_iterator(box)) {
      const std::string p = e.path().string();
      EXPECT_TRUE(p == box + "/a.zip" || p == box + "/deep" || p.rfind(box + "/deep/out", 0) == 0) << p;
    }
  }
}

// Backs the source files up into d/ours.zip as the programs do and expects them back from our
// reader, listed by unzip, 7-Zip and bsdtar (the names Bsdtar keeps), and extracted by unzip and
// 7-Zip.
void ExpectBackupGivesBack(const Folder& d, const std::map<std::string, std::string>& source,
                           const std::function<bool(const std::string&)>& bsdtarKeeps) {
  for (const auto& [name, bytes] : source) Put(d / ("src/" + name), bytes);
  ASSERT_EQ(Backup(d / "ours.zip", d / "src"), static_cast<int32_t>(source.size()));
  Reader r(d / "ours.zip", d / "ours");
  EXPECT_EQ(r.Extract(), static_cast<int32_t>(source.size()));
  EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
  EXPECT_EQ(Files(Snapshot(d / "ours")), source);
  writerfixture::ExpectPeersAccept(d / "ours.zip");
  for (const auto& [name, bytes] : source) {
    EXPECT_TRUE(UnzipListing(d / "ours.zip").count(name)) << name;
    EXPECT_TRUE(SevenZipListing(d / "ours.zip").count(name)) << name;
    if (bsdtarKeeps(name)) {
      EXPECT_TRUE(BsdtarListing(d / "ours.zip").count(name)) << name;
    }
  }
  for (const std::string peer : {"unzip", "7z"}) {
    ASSERT_EQ(PeerExtract(peer, d / "ours.zip", d / peer), 0) << peer;
    EXPECT_EQ(Files(Snapshot(d / peer)), source) << peer;
  }
}

// Guards names with a backslash ("system-systemd\x2dcryptsetup.slice" of /usr/lib/systemd): the
// writer turned the '\' into a folder separator, the restore put the file into a new folder with
// success, and every "add" run stored it again; the reader split the name of an archive that zip
// made on Linux the same way. A '\' is a byte of a name here; only an entry of a DOS or Windows
// host, whose file systems forbid the byte in names, uses it between folders.
TEST(EntryNames, ABackslashSeparatesFoldersOnlyInEntriesOfDosHosts) {
  Folder d;
  ExpectEachRestoredAs(d, {
      {0, "back\\slash.txt", "back/slash.txt"},     {6, "back\\slash.txt", "back/slash.txt"},
      {10, "back\\slash.txt", "back/slash.txt"},    {11, "back\\slash.txt", "back/slash.txt"},
      {14, "back\\slash.txt", "back/slash.txt"},    {0, "dir\\sub/mixed.txt", "dir/sub/mixed.txt"},
      {3, "back\\slash.txt", "back\\slash.txt"},    {19, "back\\slash.txt", "back\\slash.txt"},
      {3, "dir\\sub/mixed.txt", "dir\\sub/mixed.txt"}, {kNoDirectory, "back\\slash.txt", "back\\slash.txt"},
  });

  // Trees with such names, backed up by this system and by Info-ZIP's zip, come back as they are.
  // bsdtar (libarchive 3.6) takes the '\' of a name without any '/' for a separator whatever
  // the host says: of its listing and its tree only the name in a folder is compared.
  const std::map<std::string, std::string> source = {{"back\\slash.txt", "1"}, {"x\\y.txt", "2"},
                                                     {"x/y.txt", "3"},          {"dir/in\\side.txt", "4"},
                                                     {"system-systemd\\x2dcryptsetup.slice", "5"}};
  ExpectBackupGivesBack(d, source, [](const std::string& name) { return name.find('/') != std::string::npos; });
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && zip -q -r " + Q(d / "zip.zip") + " ."), 0);
  Reader r(d / "zip.zip", d / "zip");
  EXPECT_EQ(r.Extract(), 5);
  EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
  EXPECT_EQ(Files(Snapshot(d / "zip")), source);
  // Each entry of ours says a Unix host, and an "add" run finds each under its name again.
  const auto entries = writerfixture::EntriesOf(d / "ours.zip");
  ASSERT_EQ(entries.size(), 5u);
  for (const auto& e : entries) {
    EXPECT_TRUE(source.count(e.name)) << e.name;
    EXPECT_EQ(e.central.VersionMadeBy >> 8, kHostUnix) << e.name;
  }
  EXPECT_EQ(Backup(d / "ours.zip", d / "src"), 0);
  EXPECT_EQ(writerfixture::EntriesOf(d / "ours.zip").size(), 5u);
  ASSERT_EQ(PeerExtract("bsdtar", d / "ours.zip", d / "bsdtar"), 0);
  EXPECT_EQ(Slurp(d / "bsdtar/dir/in\\side.txt"), "4");
}

// Guards names that begin with a letter and a colon: the restore dropped the two bytes as a drive
// ("c:data.txt" came back as "data.txt", over a file of that name) and failed on a file named
// "x:". A drive is one only in an entry of a DOS or Windows host, and only before a separator;
// whatever a name holds, nothing lands outside the target folder.
TEST(EntryNames, ALetterAndAColonAreADriveOnlyBeforeASeparatorInEntriesOfDosHosts) {
  Folder d;
  ExpectEachRestoredAs(d, {
      {3, "c:data.txt", "c:data.txt"},
      {3, "a:b:c.txt", "a:b:c.txt"},
      {3, "d:dir/in.txt", "d:dir/in.txt"},
      {3, "x:", "x:"},
      {3, "c:/data/a.txt", "c:/data/a.txt"},
      {0, "c:data.txt", "c:data.txt"},
      {0, "C:\\data\\a.txt", "data/a.txt"},
      {0, "c:/data/a.txt", "data/a.txt"},
      {10, "D:\\x.txt", "x.txt"},
      {kNoDirectory, "c:\\data\\a.txt", "c:\\data\\a.txt"},
      // Hostile names of either kind stay inside the target folder.
      {0, "C:\\..\\..\\up.txt", "up.txt"},
      {0, "..\\..\\up.txt", "up.txt"},
      {0, "\\\\srv\\share\\u.txt", "srv/share/u.txt"},
      {0, "\\abs.txt", "abs.txt"},
      {3, "..\\..\\up.txt", "..\\..\\up.txt"},
      {3, "c:/../../up.txt", "c:/up.txt"},
      {3, "/etc/abs.txt", "etc/abs.txt"},
      {3, "a/../../up.txt", "a/up.txt"},
      {kNoDirectory, "../../up.txt", "up.txt"},
  });

  // Such names backed up come back as they are, here and through unzip and 7-Zip; bsdtar lists
  // them right (extracting, it drops a leading letter and colon from every name).
  const std::map<std::string, std::string> source = {
      {"c:data.txt", "1"}, {"data.txt", "2"}, {"a:b:c.txt", "3"}, {"d:dir/in.txt", "4"}, {"x:", "5"}};
  ExpectBackupGivesBack(d, source, [](const std::string&) { return true; });
}

// Guards names that need UTF-8 (CJK, emoji, Greek): stored with flag bit 11 but a DOS host,
// Debian's unzip listed and extracted them as OEM text ("emoji\xad\x83\xc7.txt"). They say a
// Unix host, with the file's mode, and every peer reads them.
TEST(EntryNames, Utf8NamesSayAUnixHostSoEveryPeerReadsThem) {
  const std::map<std::string, std::string> source = {{"日本/名前.txt", "1"},
                                                     {"emoji😀.txt", "2"},
                                                     {"Ελληνικά.txt", "3"},
                                                     {"中文 文件.txt", "4"},
                                                     {"Ж и 😀.txt", "5"}};
  Folder d;
  for (const auto& [name, bytes] : source) Put(d / ("src/" + name), bytes);
  ASSERT_EQ(Backup(d / "a.zip", d / "src"), 5);
  for (const auto& e : writerfixture::EntriesOf(d / "a.zip")) {
    ASSERT_TRUE(source.count(e.name)) << e.name;
    EXPECT_NE(e.central.Flags & kFlagUtf8, 0) << e.name;
    EXPECT_EQ(e.central.VersionMadeBy >> 8, kHostUnix) << e.name;
    struct stat st {};
    ASSERT_EQ(stat((d / ("src/" + e.name)).c_str(), &st), 0);
    EXPECT_EQ(e.central.ExternalAttributes >> 16, st.st_mode) << e.name;
  }
  writerfixture::ExpectPeersAccept(d / "a.zip");
  std::set<std::string> names;
  for (const auto& [name, bytes] : source) names.insert(name);
  EXPECT_EQ(UnzipListing(d / "a.zip"), names);
  EXPECT_EQ(SevenZipListing(d / "a.zip"), names);
  EXPECT_EQ(BsdtarListing(d / "a.zip"), names);
  const auto python = Lines("python3 -c \"import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): "
                            "print(n)\" " + Q(d / "a.zip"));
  EXPECT_EQ(std::set<std::string>(python.begin(), python.end()), names);
  for (const std::string peer : {"unzip", "7z", "bsdtar"}) {
    ASSERT_EQ(PeerExtract(peer, d / "a.zip", d / peer), 0) << peer;
    EXPECT_EQ(Files(Snapshot(d / peer)), source) << peer;
  }
  Reader r(d / "a.zip", d / "out");
  ExpectIntact(r, Snapshot(d / "src"), d / "out");
}

// Guards Russian names: stored in CP866, as the programs always stored them, every Linux peer
// listed and extracted them as garbage. Each such name carries Info-ZIP's Unicode Path field in
// its local and central header, which unzip, 7-Zip and bsdtar take; an update keeps the field of
// an entry it copies and writes one anew for an entry it replaces or renames; and our reader
// reads the name right under the host of this system's entries and of its older ones.
TEST(EntryNames, Cp866NamesCarryTheirUnicodePathForThePeers) {
  struct Row {
    const char* name;
    bool field;  // a name that CP866 holds and that is not ASCII
  };
  // "│box│.txt" reads alike in code pages 866 and 437.
  const std::vector<Row> rows = {{"Документы/Отчёт.txt", true}, {"Ёлка.txt", true}, {"plain.txt", false},
                                 {"Папка/файл.txt", true},       {"│рамка│.txt", true}, {"│box│.txt", true},
                                 {"日本.txt", false},            {"Пустая папка/", true}};
  Folder d;
  std::map<std::string, std::string> source;
  for (const Row& r : rows) {
    if (std::string(r.name).back() == '/') {
      std::filesystem::create_directories(d / ("src/" + std::string(r.name)));
    } else {
      Put(d / ("src/" + std::string(r.name)), std::string("of ") + r.name);
      source[r.name] = std::string("of ") + r.name;
    }
  }
  ASSERT_EQ(Backup(d / "a.zip", d / "src", true), static_cast<int32_t>(rows.size()));
  auto expectFields = [&](const std::string& archive, const std::map<std::string, bool>& wanted) {
    const auto entries = writerfixture::EntriesOf(archive);
    EXPECT_EQ(entries.size(), wanted.size()) << archive;
    for (const auto& e : entries) {
      const std::string utf8 = StoredToLocalName(e.name, (e.central.Flags & kFlagUtf8) == 0, e.central.Flags);
      ASSERT_TRUE(wanted.count(utf8)) << utf8;
      const auto central = UnicodePathFields(e.centralExtra);
      EXPECT_EQ(central, UnicodePathFields(e.localExtra)) << utf8;
      if (!wanted.at(utf8)) {
        EXPECT_TRUE(central.empty()) << utf8;
        continue;
      }
      const auto field = UnicodePath(e.name, utf8);
      ASSERT_EQ(central.size(), 1u) << utf8;
      EXPECT_EQ(central[0], std::string(field.begin() + 4, field.end())) << utf8;
    }
  };
  std::map<std::string, bool> wanted;
  for (const Row& r : rows) wanted[r.name] = r.field;
  expectFields(d / "a.zip", wanted);

  auto expectRestored = [&](const std::string& archive, const std::map<std::string, std::string>& files,
                            const std::string& tag) {
    writerfixture::ExpectPeersAccept(archive);
    for (const std::string peer : {"unzip", "7z", "bsdtar"}) {
      ASSERT_EQ(PeerExtract(peer, archive, d / (tag + peer)), 0) << peer;
      EXPECT_EQ(Files(Snapshot(d / (tag + peer))), files) << peer;
      EXPECT_TRUE(std::filesystem::is_directory(d / (tag + peer + "/Пустая папка"))) << peer;
    }
    Reader r(archive, d / (tag + "ours"));
    EXPECT_EQ(r.Extract(), static_cast<int32_t>(files.size()));
    EXPECT_TRUE(r.errors.empty()) << Describe(r.errors);
    EXPECT_EQ(Files(Snapshot(d / (tag + "ours"))), files);
  };
  expectRestored(d / "a.zip", source, "new.");

  // An update: "Папка/файл.txt" changed and replaces its entry; "Ёлка.txt" changed and its
  // stored entry is kept under a new name; the others are copied as they were.
  const auto before = writerfixture::EntriesOf(d / "a.zip");
  Put(d / "src/Папка/файл.txt", "changed, and longer");
  Put(d / "src/Ёлка.txt", "a new tree");
  {
    writerfixture::Writer w(d / "a.zip", d / "src");
    w.zip.SetStoreEmptySubDirs(true);
    w.zip.OnReplaceFile = [](TObject*, const std::string& name, const std::string&, TDateTime, TDateTime, int64_t,
                             int64_t, int32_t, int32_t, bool& replace) { replace = name == "Папка/файл.txt"; };
    w.zip.OnRenameDupeFile = [](TObject*, const std::string& name, std::string& newName, bool& rename) {
      newName = "Ёлка (прошлая).txt";
      rename = name == "Ёлка.txt";
    };
    EXPECT_EQ(w.zip.Compress(), 2);
    EXPECT_TRUE(w.errors.empty());
  }
  source["Папка/файл.txt"] = "changed, and longer";
  source["Ёлка (прошлая).txt"] = source["Ёлка.txt"];
  source["Ёлка.txt"] = "a new tree";
  wanted["Ёлка (прошлая).txt"] = true;
  expectFields(d / "a.zip", wanted);
  for (const auto& e : writerfixture::EntriesOf(d / "a.zip")) {
    for (const auto& old : before) {
      if (old.name != e.name || e.name == LocalToStoredName("Папка/файл.txt", true) ||
          e.name == LocalToStoredName("Ёлка.txt", true))
        continue;
      EXPECT_EQ(e.localExtra, old.localExtra) << e.name;
      EXPECT_EQ(e.centralExtra, old.centralExtra) << e.name;
    }
  }
  expectRestored(d / "a.zip", source, "updated.");

  // The name reads right under any host: this system's entries now (Unix host, with the field),
  // its older ones (DOS host, without), and a Unix host's with the field.
  const std::string cyr = "Отчёт.txt";
  const std::string oem = LocalToStoredName(cyr, true);
  const std::vector<std::pair<int, std::vector<uint8_t>>> hosts = {
      {3, UnicodePath(oem, cyr)}, {0, {}}, {0, UnicodePath(oem, cyr)}, {19, UnicodePath(oem, cyr)}};
  for (size_t i = 0; i < hosts.size(); ++i) {
    const std::string archive = d / ("host" + std::to_string(i) + ".zip");
    zipfixture::WriteAll(archive, OneEntry(hosts[i].first, oem, "x", 0x20, hosts[i].second));
    Reader r(archive, d / ("host" + std::to_string(i)));
    r.Extract();
    EXPECT_EQ(Files(Snapshot(d / ("host" + std::to_string(i)))), (std::map<std::string, std::string>{{cyr, "x"}}))
        << hosts[i].first;
  }
}

}  // namespace

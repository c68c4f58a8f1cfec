// File names as this system has them, bytes in which only '/' separates folders, through a
// backup and a restore, and through Info-ZIP unzip, 7-Zip, bsdtar and Python's zipfile: a
// backslash, a colon and letters outside ASCII never move, merge or garble a file.
#include <gtest/gtest.h>

#include "tests/interop/names_fixture.h"

using namespace namesfixture;

namespace {

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

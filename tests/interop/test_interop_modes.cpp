// The permissions of files through a backup and a restore, here and through Info-ZIP unzip: a
// private file stays private, a script stays executable, and nothing gains a special bit.
#include <gtest/gtest.h>

#include "tests/interop/names_fixture.h"

using namespace namesfixture;

namespace {

// Sets the process's umask for the life of the object.
class Umask {
 public:
  explicit Umask(mode_t m) : FSaved(umask(m)) {}
  ~Umask() { umask(FSaved); }

 private:
  mode_t FSaved;
};

// Guards the permissions of a file: a key of mode 0600 came back 0644, readable by every user of
// the machine, and a script of 0755 came back 0644. Entries carry the file's mode (a Unix host's,
// beside the DOS attribute bits) and a restore gives back its permission bits, never
// set-user-ID, set-group-ID or sticky, whether the file is new or replaces one; entries of DOS
// hosts, and modes that are no regular file's, restore as they always did.
TEST(EntryModes, ARestoreGivesBackEachFilesPermissionBits) {
  const Umask umask022(022);
  struct Row {
    const char* name;
    uint32_t mode;
    uint32_t restored;
    size_t size = 10;
  };
  const std::vector<Row> rows = {
      {"id_ed25519", 0600, 0600},         {"run.sh", 0755, 0755},       {"notes.txt", 0644, 0644},
      {"group.txt", 0640, 0640},          {"locked.txt", 0444, 0444},   {"open.txt", 0666, 0666},
      {"setuid", 04755, 0755},            {"setgid", 02750, 0750},      {"sticky", 01700, 0700},
      {"big.key", 0600, 0600, 100000},    {"Ключ.txt", 0600, 0600},     {"日本.key", 0600, 0600},
      {"bad\xFF.key", 0600, 0600},
  };
  Folder d;
  for (const Row& r : rows) {
    Put(d / ("src/" + std::string(r.name)), std::string(r.size, 'k'));
    ASSERT_EQ(chmod((d / ("src/" + std::string(r.name))).c_str(), r.mode), 0) << r.name;
  }
  ASSERT_EQ(Backup(d / "a.zip", d / "src"), static_cast<int32_t>(rows.size()));
  for (const auto& e : writerfixture::EntriesOf(d / "a.zip")) {
    EXPECT_EQ(e.central.VersionMadeBy >> 8, kHostUnix) << e.name;
    EXPECT_EQ(e.central.ExternalAttributes >> 16 & kUnixTypeMask, kUnixRegularFile) << e.name;
  }
  // Into an empty folder, and over files of other modes.
  for (const char* out : {"new", "over"}) {
    if (std::string(out) == "over") {
      for (const Row& r : rows) {
        Put(d / (std::string(out) + "/" + r.name), "older");
        chmod((d / (std::string(out) + "/" + r.name)).c_str(), 0604);
      }
    }
    Reader reader(d / "a.zip", d / out);
    EXPECT_EQ(reader.Extract(), static_cast<int32_t>(rows.size())) << out;
    EXPECT_TRUE(reader.errors.empty()) << Describe(reader.errors);
    for (const Row& r : rows) {
      EXPECT_EQ(PermissionsOf(d / (std::string(out) + "/" + r.name)), r.restored) << out << " " << r.name;
      EXPECT_EQ(Slurp(d / (std::string(out) + "/" + r.name)), std::string(r.size, 'k')) << out << " " << r.name;
    }
  }
  ASSERT_EQ(PeerExtract("unzip", d / "a.zip", d / "unzip"), 0);
  for (const Row& r : rows) {
    if (std::string(r.name).find('\xFF') != std::string::npos) continue;  // unzip drops the byte
    EXPECT_EQ(PermissionsOf(d / ("unzip/" + std::string(r.name))), r.restored) << "unzip " << r.name;
  }

  // Entries of other makers: a DOS host's attributes, and Unix modes that are no regular file's,
  // give a new file's mode (0644 under this umask) and the read-only bit as before.
  struct Foreign {
    int host;
    uint32_t attributes;
    uint32_t restored;
  };
  const std::vector<Foreign> foreign = {
      {0, 0x20, 0644},
      {0, 0x21, 0444},
      {0, 0x00, 0644},
      {10, (0100600u << 16) | 0x20, 0644},
      {3, (0100600u << 16) | 0x20, 0600},
      {3, (0100664u << 16) | 0x21, 0464},
      {3, (0104777u << 16) | 0x20, 0777},
      {3, (0120777u << 16) | 0x20, 0644},
      {3, 0x20, 0644},
      {19, (0100750u << 16), 0750},
  };
  for (size_t i = 0; i < foreign.size(); ++i) {
    const Foreign& f = foreign[i];
    const std::string tag = "foreign" + std::to_string(i);
    zipfixture::WriteAll(d / (tag + ".zip"), OneEntry(f.host, "f.txt", "x", f.attributes));
    Reader reader(d / (tag + ".zip"), d / tag);
    EXPECT_EQ(reader.Extract(), 1) << tag;
    EXPECT_EQ(PermissionsOf(d / (tag + "/f.txt")), f.restored) << f.host << " " << std::hex << f.attributes;
  }
}

}  // namespace

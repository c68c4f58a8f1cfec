// Platform core: code pages, the message box hook, attributes and DOS times.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/support/OrdinaryUser.h"

namespace {

class TempDir {
 public:
  TempDir() {
    char buf[] = "/tmp/tarvelo-platform-XXXXXX";
    path_ = mkdtemp(buf);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void touch(const std::string& p, const std::string& content = "x") { std::ofstream(p) << content; }

TEST(CodePage, RussianRoundTripsThroughCp1251AndCp866) {
  const std::string text = "Резервное копирование";
  auto cp1251 = platform::Utf8ToCp1251(text);
  ASSERT_TRUE(cp1251);
  EXPECT_EQ(static_cast<unsigned char>((*cp1251)[0]), 0xD0);  // 'Р' in CP1251
  EXPECT_EQ(platform::Cp1251ToUtf8(*cp1251), text);
  auto cp866 = platform::Utf8ToCp866(text);
  ASSERT_TRUE(cp866);
  EXPECT_EQ(static_cast<unsigned char>((*cp866)[0]), 0x90);  // 'Р' in CP866
  EXPECT_EQ(platform::Cp866ToUtf8(*cp866), text);
}

TEST(CodePage, UnrepresentableTextIsRefusedNotReplaced) {
  EXPECT_FALSE(platform::Utf8ToCp1251("日本"));
  EXPECT_FALSE(platform::Utf8ToCp866("€"));  // the euro sign is in CP1251 but not in CP866
  EXPECT_TRUE(platform::Utf8ToCp1251("€"));
  EXPECT_FALSE(platform::IsValidUtf8("\xff\xfe"));
  EXPECT_TRUE(platform::IsValidUtf8("тест"));
}

TEST(MessageBoxHook, DefaultAnswersAndScriptedAnswers) {
  EXPECT_EQ(platform::MessageBox("t", "c", platform::MB_YESNO), platform::IDYES);
  EXPECT_EQ(platform::MessageBox("t", "c", platform::MB_YESNO | platform::MB_DEFBUTTON2), platform::IDNO);
  // Unattended, a retry question is declined: retrying a cause nobody can mend never ends.
  EXPECT_EQ(platform::MessageBox("t", "c", platform::MB_RETRYCANCEL), platform::IDCANCEL);
  {
    platform::ScriptedAnswerer answers;
    answers.Answer(platform::IDNO);
    EXPECT_EQ(platform::MessageBox("Удалить?", "Подтверждение", platform::MB_YESNO | platform::MB_ICONQUESTION),
              platform::IDNO);
    EXPECT_EQ(platform::MessageBox("ok", "Результат", platform::MB_OK), platform::IDOK);
    ASSERT_EQ(answers.Boxes().size(), 2u);
    EXPECT_EQ(answers.Boxes()[0].caption, "Подтверждение");
    EXPECT_EQ(answers.Boxes()[0].flags & platform::MB_ICONMASK, platform::MB_ICONQUESTION);
  }
  // The answerer's scope ended: back to the default.
  EXPECT_EQ(platform::MessageBox("t", "c", platform::MB_OKCANCEL), platform::IDOK);
}

TEST(Files, AttributesAreDerivedFromMetadata) {
  TempDir dir;
  const std::string file = dir.path() + "/a.txt", hidden = dir.path() + "/.h";
  touch(file);
  touch(hidden);
  EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrArchive);
  EXPECT_EQ(platform::GetFileAttributes(hidden), platform::kAttrArchive | platform::kAttrHidden);
  EXPECT_EQ(platform::GetFileAttributes(dir.path()), platform::kAttrDirectory);
  ASSERT_TRUE(platform::SetFileAttributes(file, platform::kAttrReadOnly));
  EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrArchive | platform::kAttrReadOnly);
  ASSERT_TRUE(platform::SetFileAttributes(file, 0));
  EXPECT_EQ(platform::GetFileAttributes(file), platform::kAttrArchive);
  EXPECT_EQ(platform::GetFileAttributes(dir.path() + "/missing"), platform::kInvalidAttributes);
}

TEST(Files, ListingSkipsSpecialFilesAndLinkedFolders) {
  TempDir dir;
  touch(dir.path() + "/f");
  ASSERT_EQ(mkdir((dir.path() + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir.path() + "/fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink(dir.path().c_str(), (dir.path() + "/loop").c_str()), 0);
  ASSERT_EQ(symlink((dir.path() + "/f").c_str(), (dir.path() + "/flink").c_str()), 0);
  auto list = platform::ListDirectory(dir.path());
  std::set<std::string> names;
  for (auto& e : list) names.insert(e.name);
  EXPECT_EQ(names, (std::set<std::string>{"f", "sub", "flink"}));
  // Opening a FIFO never blocks: it is refused.
  EXPECT_LT(platform::OpenFile(dir.path() + "/fifo", 0x20), 0);
}

TEST(Files, DosTimeRoundTripsInLocalTime) {
  // 2024-03-15 13:45:30 local
  struct tm tm {};
  tm.tm_year = 124; tm.tm_mon = 2; tm.tm_mday = 15; tm.tm_hour = 13; tm.tm_min = 45; tm.tm_sec = 30;
  tm.tm_isdst = -1;
  int64_t t = mktime(&tm);
  uint32_t dos = platform::UnixTimeToLocalDosTime(t);
  EXPECT_EQ(dos >> 25, 44u);
  EXPECT_EQ((dos >> 21) & 15, 3u);
  EXPECT_EQ((dos >> 16) & 31, 15u);
  EXPECT_EQ((dos >> 11) & 31, 13u);
  EXPECT_EQ((dos >> 5) & 63, 45u);
  EXPECT_EQ(dos & 31, 15u);
  EXPECT_EQ(platform::LocalDosTimeToUnixTime(dos), t);
}

TEST(Files, TrashKeepsTheFileAndItsOrigin) {
  TempDir dir;
  setenv("XDG_DATA_HOME", (dir.path() + "/data").c_str(), 1);
  const std::string file = dir.path() + "/old.zip";
  touch(file, "archive");
  ASSERT_TRUE(platform::MoveToTrash(file));
  EXPECT_FALSE(platform::FileExists(file));
  EXPECT_TRUE(platform::FileExists(dir.path() + "/data/Trash/files/old.zip"));
  std::ifstream info(dir.path() + "/data/Trash/info/old.zip.trashinfo");
  std::string all((std::istreambuf_iterator<char>(info)), {});
  EXPECT_NE(all.find("Path=" + file), std::string::npos);
  touch(file, "again");
  ASSERT_TRUE(platform::MoveToTrash(file));
  EXPECT_TRUE(platform::FileExists(dir.path() + "/data/Trash/files/old.zip.1"));
  unsetenv("XDG_DATA_HOME");
}

TEST(Files, PublishedFileTakesTheModeOfTheFileItReplaces) {
  TempDir dir;
  const std::string old = dir.path() + "/a.zip", tmp = platform::MakeTempFile(dir.path(), "qrn");
  touch(old);
  ASSERT_EQ(chmod(old.c_str(), 0640), 0);
  ASSERT_TRUE(platform::SetPublishedMode(tmp, old));
  struct stat st;
  ASSERT_EQ(stat(tmp.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  mode_t mask = umask(022);
  ASSERT_TRUE(platform::SetPublishedMode(tmp, dir.path() + "/new.zip"));
  umask(mask);
  ASSERT_EQ(stat(tmp.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// Guards the one executor per installation folder: its lock must hold for a user who may not
// write there, in a folder without write permission and where the lock file belongs to another
// user, as it does in an ordinary folder. One holder at a time; a look at the lock takes nothing.
TEST(Files, AProcessLockHoldsWhereTheUserCannotWrite) {
  struct Case {
    const char* what;
    bool readOnlyFolder;
    bool lockFileOfAnotherUser;
  };
  for (const Case c : {Case{"an ordinary folder", false, false}, Case{"a folder the user cannot write", true, false},
                       Case{"a lock file of another user", false, true}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string lock = dir.path() + "/Dorvexal.lock";
    if (c.lockFileOfAnotherUser) {
      touch(lock, "");
      ASSERT_EQ(chmod(lock.c_str(), 0644), 0);
      ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
    }
    if (c.readOnlyFolder) {
      ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    }
    {
      const testsupport::TOrdinaryUser user;
      if (c.readOnlyFolder && !user.CannotWriteInto(dir.path())) {
        GTEST_SKIP() << "this process writes everywhere";
      }
      const int probe = ::open(lock.c_str(), O_RDWR | O_CLOEXEC);
      if (c.lockFileOfAnotherUser && probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "this process writes every file";
      }
      EXPECT_FALSE(platform::LockHeld(lock));
      {
        const platform::ProcessLock first(lock);
        EXPECT_FALSE(first.HeldElsewhere());
        EXPECT_TRUE(platform::LockHeld(lock));
        const platform::ProcessLock second(lock);
        EXPECT_TRUE(second.HeldElsewhere()) << "two holders at once";
        EXPECT_TRUE(platform::LockHeld(lock));
      }
      EXPECT_FALSE(platform::LockHeld(lock)) << "the lock goes with its holder";
      const platform::ProcessLock next(lock);
      EXPECT_FALSE(next.HeldElsewhere());
      EXPECT_TRUE(platform::LockHeld(lock));
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  }
}

TEST(Files, TempFileIsUniqueAndMade) {
  TempDir dir;
  std::string a = platform::MakeTempFile(dir.path(), "qrn");
  std::string b = platform::MakeTempFile(dir.path(), "qrn");
  EXPECT_NE(a, b);
  EXPECT_TRUE(platform::FileExists(a));
  EXPECT_EQ(a.rfind(dir.path() + "/qrn", 0), 0u);
}

TEST(Files, InstallDirFollowsTheEnvironment) {
  setenv("TARVELO_HOME", "/opt/tv/", 1);
  EXPECT_EQ(platform::InstallDir(), "/opt/tv");
  unsetenv("TARVELO_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(platform::InstallDir(), "/home/u/Tarvelo");
}

}  // namespace

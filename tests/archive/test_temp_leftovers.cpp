// What a killed run leaves: the archive it was building in the temporary folder, the entry it was
// writing beside the restored files. A later run of the same kind removes them, and only them:
// not the files of a run still going on in another process, not other names.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "platform/files.h"
#include "tests/archive/unzip_fixture.h"

using namespace unzipfixture;

namespace {

// A run in a process of its own that stops at a point of its choosing (Hold) until the test lets
// it go on or kills it, as a user's kill would.
class RunInChild {
 public:
  explicit RunInChild(const std::function<int(RunInChild&)>& run) {
    if (::pipe(FToParent) != 0 || ::pipe(FToChild) != 0) return;
    FPid = ::fork();
    if (FPid == 0) {
      ::close(FToParent[0]);
      ::close(FToChild[1]);
      int code = 2;
      try {
        code = run(*this);
      } catch (...) {
      }
      ::_exit(code);
    }
    ::close(FToParent[1]);
    ::close(FToChild[0]);
  }
  ~RunInChild() {
    if (FPid > 0) Kill();
    ::close(FToParent[0]);
    ::close(FToChild[1]);
  }
  RunInChild(const RunInChild&) = delete;
  RunInChild& operator=(const RunInChild&) = delete;

  // In the child: tells the test it holds, and waits for the word to go on.
  void Hold() {
    char c = 'h';
    if (::write(FToParent[1], &c, 1) != 1 || ::read(FToChild[0], &c, 1) != 1) ::_exit(3);
  }
  // In the test: whether the child reached its hold (false when it ended first).
  bool Holding() {
    pollfd p{FToParent[0], POLLIN, 0};
    char c = 0;
    return FPid > 0 && ::poll(&p, 1, 120000) == 1 && ::read(FToParent[0], &c, 1) == 1;
  }
  // The child's exit status once it went on to its end.
  int GoOnToTheEnd() {
    const char c = 'g';
    if (::write(FToChild[1], &c, 1) != 1) return -1;
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    ::kill(FPid, SIGKILL);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

 private:
  pid_t FPid = -1;
  int FToParent[2] = {-1, -1};
  int FToChild[2] = {-1, -1};
};

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

// A backup of src into archive that builds its archive in temp and holds before putting it in place.
int HeldBackup(RunInChild& self, const std::string& archive, const std::string& src, const std::string& temp) {
  writerfixture::Writer w(archive, src);
  w.zip.SetTempDir(temp);
  w.zip.OnTmpFileMoveBegin = [&self](TObject*, const std::string&, const std::string&) { self.Hold(); };
  return w.zip.Compress() == 2 && w.errors.empty() ? 0 : 1;
}

TEST(TempLeftovers, ALaterRunRemovesWhatKilledRunsLeftAndNothingInUse) {
  Folder d;
  Put(d / "src/a.txt", "first file");
  Put(d / "src/big.bin", writerfixture::Random(2 << 20, 7));
  std::filesystem::create_directories(d / "tmp");
  // Not leftovers: other names, and an empty file, which its maker may not have locked yet.
  const std::set<std::string> others = {"qrnABCDE", "qrnABCDEFG", "qrnEMPTY0", "notes.txt"};
  for (const auto& n : others) Put(d / ("tmp/" + n), n == "qrnEMPTY0" ? "" : "not a leftover");

  // A backup that is still running in another process, and one that was killed at the same point.
  RunInChild running([&](RunInChild& self) { return HeldBackup(self, d / "running.zip", d / "src", d / "tmp"); });
  ASSERT_TRUE(running.Holding());
  const std::set<std::string> withRunning = Names(d / "tmp");
  ASSERT_EQ(withRunning.size(), others.size() + 1);
  {
    RunInChild killed([&](RunInChild& self) { return HeldBackup(self, d / "killed.zip", d / "src", d / "tmp"); });
    ASSERT_TRUE(killed.Holding());
    killed.Kill();
  }
  ASSERT_EQ(Names(d / "tmp").size(), withRunning.size() + 1) << "the killed backup left its archive behind";

  writerfixture::Writer later(d / "later.zip", d / "src");
  later.zip.SetTempDir(d / "tmp");
  EXPECT_EQ(later.zip.Compress(), 2);
  EXPECT_EQ(Names(d / "tmp"), withRunning) << "the leftover goes, the running backup's archive stays";
  EXPECT_EQ(running.GoOnToTheEnd(), 0);
  writerfixture::ExpectPeersAccept(d / "running.zip");
  EXPECT_EQ(Names(d / "tmp"), others);

  // A restore killed in the middle of an entry leaves it beside the restored files.
  {
    RunInChild killed([&](RunInChild& self) {
      Reader r(d / "later.zip", d / "dest");
      bool big = false;
      r.unzip.OnBegin = [&big](TObject*, const std::string& f, int32_t, bool&) { big = NamePart(f) == "big.bin"; };
      r.unzip.OnProgress = [&](TObject*, uint8_t byFile, uint8_t) {
        if (big && byFile >= 50) self.Hold();
      };
      return r.unzip.Extract() == 2 ? 0 : 1;
    });
    ASSERT_TRUE(killed.Holding());
    killed.Kill();
  }
  std::string leftover;
  for (const auto& n : Names(d / "dest"))
    if (n.rfind(".qrn", 0) == 0) leftover = n;
  ASSERT_FALSE(leftover.empty());
  ASSERT_GT(std::filesystem::file_size(d / ("dest/" + leftover)), 0u);
  // The entry another restore is writing there now, and names that are not leftovers.
  std::string inUse;
  const int held = platform::CreateTempFile(d / "dest", ".qrn", false, inUse);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::write(held, "in use", 6), 6);
  Put(d / "dest/.qrnABCDEFG", "not a leftover");
  Put(d / "dest/.qrnEMPTY0", "");

  Reader r(d / "later.zip", d / "dest");
  EXPECT_EQ(r.unzip.Extract(), 2);
  EXPECT_EQ(Names(d / "dest"), (std::set<std::string>{"a.txt", "big.bin", inUse.substr(inUse.rfind('/') + 1),
                                                       ".qrnABCDEFG", ".qrnEMPTY0"}));
  EXPECT_EQ(Slurp(d / "dest/big.bin"), Slurp(d / "src/big.bin"));
  ::close(held);
  platform::DeleteFile(inUse);
}

}  // namespace

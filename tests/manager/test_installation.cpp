// The installation rules: programs, row picture and help page in the installation folder, an
// empty task store on the first installation, and an existing task store kept byte for byte; a
// program finds its installation folder wherever it was installed, and what it starts finds the
// same one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "manager/Settings.h"
#include "platform/files.h"
#include "platform/gui/application.h"
#include "platform/gui/autostart.h"
#include "platform/gui/registry.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Install(const fs::path& prefix) {
  const std::string command = "cmake --install \"" + std::string(TARVELO_BINARY_DIR) + "\" --prefix \"" +
                              prefix.string() + "\" > /dev/null";
  return std::system(command.c_str());
}

TEST(Installation, FirstInstallationCreatesAnEmptyStoreAndALaterOneKeepsIt) {
  char dir[] = "/tmp/tarvelo-install-XXXXXX";
  const fs::path prefix = fs::path(mkdtemp(dir)) / "Tarvelo";
  ASSERT_EQ(Install(prefix), 0);
  EXPECT_TRUE(fs::is_regular_file(prefix / "Kalvenor"));
  EXPECT_TRUE(fs::is_regular_file(prefix / "1.bmp"));
  EXPECT_TRUE(fs::is_regular_file(prefix / "help" / "index.htm"));
  ASSERT_TRUE(fs::is_regular_file(prefix / "records.dat"));
  EXPECT_EQ(fs::file_size(prefix / "records.dat"), 0u);

  const std::string tasks = "Docs|/src|/b|\xcf\xee \xf2\xf0\xe5\xe1\xee\xe2\xe0\xed\xe8\xfe||||"
                            "|new|Backup.zip|0|none@";
  std::ofstream(prefix / "records.dat", std::ios::binary) << tasks;
  ASSERT_EQ(Install(prefix), 0);
  EXPECT_EQ(Read(prefix / "records.dat"), tasks);
  fs::remove_all(prefix.parent_path());
}

// Sets an environment variable for the life of a test, or removes it (value nullptr).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_.empty()) {
      unsetenv(name_);
    } else {
      setenv(name_, old_.c_str(), 1);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::string old_;
};

TEST(Installation, AProgramFindsItsFolderWhereverItIsInstalledAndWhatItStartsFindsTheSameOne) {
  char dir[] = "/tmp/tarvelo-install-XXXXXX";
  const fs::path root = mkdtemp(dir);
  const fs::path prefix = root / "opt" / "Резервные копии";
  const fs::path home = root / "home";
  const fs::path config = root / "config";
  const fs::path runtime = root / "runtime";
  fs::create_directories(home);
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  ASSERT_EQ(Install(prefix), 0);
  for (const char* program : {"Kalvenor", "Dorvexal", "Lokvist"}) EXPECT_TRUE(fs::is_regular_file(prefix / program)) << program;

  // Started without TARVELO_HOME, as the autostart entry and the tray menu start it: the manager
  // opens on its own folder (a first run takes it as the default root folder) and not on
  // ~/Tarvelo, which holds no task store.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("TARVELO_HOME");
  env.insert("HOME", QString::fromStdString(home.string()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(config.string()));
  env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.string()));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  QProcess manager;
  manager.setProcessEnvironment(env);
  manager.start(QString::fromStdString((prefix / "Kalvenor").string()), {});
  ASSERT_TRUE(manager.waitForStarted(10000));
  std::string rootf;
  {
    ScopedEnv configHome("XDG_CONFIG_HOME", config.c_str());
    (void)QTest::qWaitFor(
        [&] {
          platform::TRegistry registry;
          if (registry.KeyExists(kSettingsKey) && registry.OpenKey(kSettingsKey, false)) rootf = registry.ReadString("rootf");
          return !rootf.empty();
        },
        20000);
  }
  const bool running = manager.state() == QProcess::Running;
  manager.kill();
  manager.waitForFinished(5000);
  EXPECT_TRUE(running) << manager.readAllStandardError().toStdString();
  EXPECT_EQ(rootf, prefix.string());

  {
    ScopedEnv noHome("TARVELO_HOME", nullptr);
    ScopedEnv userHome("HOME", home.c_str());
    EXPECT_EQ(platform::InstallDirWithout(prefix.string()), prefix.string());
    EXPECT_EQ(platform::InstallDirWithout((root / "opt").string()), (home / "Tarvelo").string())
        << "a folder without a task store holds no installation";

    // A started program is told the folder, wherever it lies itself.
    const fs::path probe = root / "probe.sh";
    std::ofstream(probe) << "#!/bin/sh\nprintf %s \"$TARVELO_HOME\" > \"$0.out\"\n";
    fs::permissions(probe, fs::perms::owner_all);
    ASSERT_TRUE(platform::StartDetached(probe.string()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Read(root / "probe.sh.out").empty(); }, 10000));
    EXPECT_EQ(Read(root / "probe.sh.out"), platform::InstallDir());
  }

  // The autostart entry starts the executor on this installation: by its path alone when the
  // executor finds the folder itself, else with the folder named.
  {
    ScopedEnv installation("TARVELO_HOME", prefix.c_str());
    const std::string executor = (prefix / "Dorvexal").string();
    EXPECT_EQ(platform::AutostartExecValue(executor), platform::DesktopExecValue(executor));
  }
  {
    const fs::path elsewhere = root / "data";
    ScopedEnv installation("TARVELO_HOME", elsewhere.c_str());
    const std::string executor = (prefix / "Dorvexal").string();
    EXPECT_EQ(platform::AutostartExecValue(executor),
              platform::DesktopExecLine({"env", "TARVELO_HOME=" + elsewhere.string(), executor}));
  }
  fs::remove_all(root);
}

}  // namespace

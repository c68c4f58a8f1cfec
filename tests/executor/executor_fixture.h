#pragma once
// A temporary installation folder for executor tests: TARVELO_HOME and XDG_CONFIG_HOME point
// into it, the clock is fixed at a chosen moment, and tasks are written to its store by the
// store's own writer.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "manager/Settings.h"
#include "manager/TaskStore.h"
#include "platform/codepage.h"
#include "platform/gui/application.h"
#include "platform/gui/datetime.h"
#include "platform/gui/registry.h"
#include "platform/hooks.h"

namespace executor_test {

// One QApplication for the whole program; the first test file's environment to run makes it.
class QtAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qApp) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The program's application object (the tray icon reaches it), without its box and pump:
    // nobody answers a box here, and runs go on as without a user interface.
    app_ = std::make_unique<platform::Application>(argc_, argv_);
    platform::SetMessageBoxHandler(nullptr);
    platform::SetMessagePump(nullptr);
  }
  void TearDown() override { app_.reset(); }

 private:
  static inline int argc_ = 1;
  static inline char name_[] = "executor_tests";
  static inline char* argv_[] = {name_, nullptr};
  std::unique_ptr<platform::Application> app_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A file of CP1251 text read back as UTF-8.
inline std::string ReadText(const std::string& path) { return platform::Cp1251ToUtf8(ReadBytes(path)); }

struct TTask {
  std::string Name = "Документы";
  std::string Source;
  std::string Backup;
  std::string Kind = "Ежедневная";
  std::string WeekDay = "Понедельник";
  std::string StartDate = "08.12.2026";
  std::string StartTime = "9:05:00";
  std::string CopyType = "add";
  std::string Archive = "Дата+Время.zip";
  std::string LogFlag = "1";
  std::string LogFile = "Документы.log";
};

class InstallFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dorvexal-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    Root = pattern;
    Home = Root + "/Tarvelo";
    std::filesystem::create_directories(Home);
    std::filesystem::create_directories(Root + "/config");
    setenv("TARVELO_HOME", Home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (Root + "/config").c_str(), 1);
    SetClock(2026, 12, 8, 9, 5, 30);
    platform::SetClockForTesting([this] { return Clock; });
  }
  void TearDown() override {
    platform::SetClockForTesting(nullptr);
    std::error_code ec;
    std::filesystem::remove_all(Root, ec);
  }

  void SetClock(int y, int mo, int d, int h, int mi, int s) { Clock = platform::EncodeDateTime(y, mo, d, h, mi, s); }

  void SetLogf(const std::string& value) {
    platform::TRegistry registry;
    registry.OpenKey(kSettingsKey, true);
    registry.WriteString("logf", value);
  }

  // A source folder with a few files, one in a subfolder.
  std::string MakeSource(const std::string& name) {
    const std::string dir = Root + "/" + name;
    std::filesystem::create_directories(dir + "/sub");
    std::ofstream(dir + "/a.txt") << "first file\n";
    std::ofstream(dir + "/b.txt") << std::string(5000, 'b');
    std::ofstream(dir + "/sub/c.txt") << "third";
    return dir;
  }

  std::string MakeBackup(const std::string& name) {
    const std::string dir = Root + "/" + name;
    std::filesystem::create_directories(dir);
    return dir;
  }

  void WriteStore(const std::vector<TTask>& tasks) {
    TTaskTable table;
    int32_t t = 0;
    for (const TTask& task : tasks) {
      ++t;
      const std::string fields[kStoredTaskFields] = {task.Name,      task.Source,    task.Backup,   "Автоматическая",
                                                     task.Kind,      task.WeekDay,   task.StartDate, task.StartTime,
                                                     task.CopyType,  task.Archive,   task.LogFlag,  task.LogFile};
      for (int32_t f = 0; f < kStoredTaskFields; ++f) table(f + 1, t) = fields[f];
    }
    SaveTaskStore(table, t + 1);
  }

  std::string Root;
  std::string Home;
  double Clock = 0;
};

// Runs a shell command; its exit status.
inline int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline std::string Quote(const std::string& path) { return "'" + path + "'"; }

}  // namespace executor_test

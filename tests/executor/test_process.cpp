// The Dorvexal program itself, without a system tray: started on a temporary installation folder
// whose store holds a task due at the minute of its first tick (59 s after the start), it writes
// the archive and its log line and keeps running. The wait is bounded; the process is killed at
// the end.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "executor_fixture.h"

namespace {

using namespace executor_test;
namespace fs = std::filesystem;


constexpr double kSecond = 1.0 / 86400.0;
constexpr int kFirstTickSeconds = 59;
constexpr auto kBound = std::chrono::seconds(70);

int SecondOfMinute(double dateTime) {
  const std::string t = platform::TimeToStr(dateTime);
  return std::stoi(t.substr(t.size() - 2));
}

class Program : public InstallFolder {};

TEST_F(Program, RunsTheTaskDueAtItsFirstTickAndKeepsRunning) {
  platform::SetClockForTesting(nullptr);
  const std::string program = std::string(TARVELO_BINARY_DIR) + "/executor/Dorvexal";
  ASSERT_TRUE(fs::exists(program)) << program;

  TTask task;
  task.Source = MakeSource("data");
  task.Backup = MakeBackup("backup");
  task.CopyType = "new";
  task.Archive = "daily.zip";
  // Keep the first tick well inside one minute, whatever the start-up takes.
  while (true) {
    const int s = SecondOfMinute(platform::Now() + kFirstTickSeconds * kSecond);
    if (s >= 2 && s <= 52) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  const double start = platform::Now();
  task.StartTime = platform::TimeToStr(start + kFirstTickSeconds * kSecond);
  WriteStore({task});

  char runtime[] = "/tmp/dorvexal-runtime-XXXXXX";
  ASSERT_NE(mkdtemp(runtime), nullptr);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("TARVELO_HOME", QString::fromStdString(Home));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(Root + "/config"));
  env.insert("XDG_RUNTIME_DIR", runtime);
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(QString::fromStdString(program), {});
  ASSERT_TRUE(process.waitForStarted(10000));

  const std::string zip = task.Backup + "/daily.zip";
  const std::string log = Home + "/Dorvexal.log";
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  bool done = false;
  while (!done && std::chrono::steady_clock::now() < deadline && process.state() == QProcess::Running) {
    // The log line comes after the archive is in place.
    done = fs::exists(log) && ReadText(log).find(" - OK") != std::string::npos;
    if (!done) process.waitForFinished(250);
  }
  const bool running = process.state() == QProcess::Running;
  process.kill();
  process.waitForFinished(5000);
  fs::remove_all(runtime);

  EXPECT_TRUE(running) << process.readAllStandardError().toStdString();
  ASSERT_TRUE(done) << "no run within " << kBound.count() << " s; task time " << task.StartTime;
  EXPECT_EQ(Shell("unzip -tq " + Quote(zip)), 0);
  EXPECT_NE(ReadText(log).find("-> Выполнение задачи  :Документы - OK"), std::string::npos);
  EXPECT_NE(ReadText(Home + "/" + task.LogFile).find("скопировано: 3 файлов"), std::string::npos);
}

}  // namespace

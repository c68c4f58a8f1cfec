#pragma once
// Shared by the GUI test programs: one application object for the whole run, offscreen (or on the
// X server of DISPLAY for the desktop tests), and a fresh installation folder and configuration
// folder for every test.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/gui/application.h"
#include "platform/hooks.h"

namespace testsupport {

class QtEnvironment : public ::testing::Environment {
 public:
  // "offscreen" unless QT_QPA_PLATFORM says otherwise; "xcb" always takes the X server.
  explicit QtEnvironment(const char* platform = "offscreen") : platform_(platform) {}

  void SetUp() override {
    setenv("QT_QPA_PLATFORM", platform_, platform_ != std::string("offscreen"));
    if (!std::getenv("XDG_RUNTIME_DIR")) {
      char dir[] = "/tmp/tarvelo-xdg-XXXXXX";
      if (mkdtemp(dir)) setenv("XDG_RUNTIME_DIR", dir, 1);
    }
    static int argc = 1;
    static char name[] = "tarvelo-tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<platform::Application>(argc, argv);
    // A box that no test answers would wait for a click forever offscreen: fail instead.
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, uint32_t flags) {
      ADD_FAILURE() << "unanswered message box \"" << caption << "\": " << text;
      return platform::DefaultAnswer(flags);
    });
  }
  void TearDown() override { app_.reset(); }

 protected:
  platform::Application& App() { return *app_; }

 private:
  const char* platform_;
  std::unique_ptr<platform::Application> app_;
};

// A test with its own TARVELO_HOME (created) and XDG_CONFIG_HOME (not created).
class TempHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tarvelo-test-XXXXXX";
    root_ = mkdtemp(dir);
    home_ = root_ + "/home";
    config_ = root_ + "/config";
    std::filesystem::create_directory(home_);
    setenv("TARVELO_HOME", home_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
    std::filesystem::permissions(home_, std::filesystem::perms::owner_all, ec);
    std::filesystem::permissions(config_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
  }

  static std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  std::string root_, home_, config_;
};

// Returns once a fresh timer of periodMs has elapsed `periods` times on this thread's event loop
// (false when it never does). Timers are served in the order they fall due, so any timer of that
// period or less that still runs has elapsed before: a check that it did not is a real check on a
// slow machine too, which a fixed wait is not.
inline bool TimerPeriodsPass(int periodMs, int periods = 3) {
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  int elapsed = 0;
  QObject::connect(&probe, &QTimer::timeout, [&elapsed] { ++elapsed; });
  probe.start(periodMs);
  return QTest::qWaitFor([&elapsed, periods] { return elapsed >= periods; }, 10000 + periodMs * periods);
}

}  // namespace testsupport

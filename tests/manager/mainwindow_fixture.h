#pragma once
// The real main window on a fresh installation folder and settings store, with the program
// starter and the document opener recorded instead of run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "manager/Kalvenor.h"
#include "manager/Settings.h"
#include "manager/Shsystem.h"
#include "platform/files.h"
#include "platform/codepage.h"
#include "platform/gui/registry.h"
#include "platform/hooks.h"
#include "tests/support/QtTestSupport.h"

namespace mainwindow {

inline const std::string kPictureSource = std::string(TARVELO_TESTDATA) + "/../../manager/resources/1.bmp";

inline TTaskRecord OnDemand(const std::string& name, const std::string& backupDir = "/nonexistent/b") {
  return {name, "/nonexistent/src-" + name, backupDir, "По требованию", "", "", "", "", "new", "Backup.zip", "0",
          "none"};
}
inline TTaskRecord Automatic(const std::string& name, const std::string& kind, const std::string& weekDay,
                             const std::string& date, const std::string& time) {
  return {name, "/nonexistent/src-" + name, "/nonexistent/b", "Автоматическая", kind, weekDay, date, time, "add",
          "Дата+Время.zip", "0", "none"};
}

class MainWindowTest : public testsupport::TempHomeTest {
 protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    std::filesystem::copy_file(kPictureSource, home_ + "/1.bmp");
    SetProgramStarterForTesting([this](const std::string& p) { started_.push_back(p); });
  }
  void TearDown() override {
    form_.reset();
    SetProgramStarterForTesting(nullptr);
    TempHomeTest::TearDown();
  }

  // The settings as the settings form saves them; without a call the first run creates them.
  void Settings(const std::string& warn, const std::string& delf, const std::string& info) {
    platform::TRegistry registry;
    registry.OpenKey(kSettingsKey, true);
    WriteFirstRunSettings(registry, home_);
    registry.WriteString("warn", warn);
    registry.WriteString("delf", delf);
    registry.WriteString("info", info);
    registry.CloseKey();
  }

  // The store's bytes as the manager writes them.
  void Store(const std::vector<TTaskRecord>& tasks) {
    std::string bytes;
    for (const auto& task : tasks) {
      for (size_t f = 0; f < task.size(); ++f) bytes += *platform::Utf8ToCp1251(task[f]) + (f + 1 < task.size() ? "|" : "@");
    }
    WriteBytes(home_ + "/records.dat", bytes);
  }

  // Creates the window, shows it and lets it become active, which fills the grid.
  TForm1& Open() {
    form_ = std::make_unique<TForm1>();
    form_->show();
    form_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get(), 2000));
    return *form_;
  }

  void ClickRow(int row) {
    TStringGrid& grid = form_->StringGrid1;
    const QRect cell = grid.visualRect(grid.model()->index(row, 1));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  }

  std::string Cell(int row, int column) const {
    const QTableWidgetItem* item = form_->StringGrid1.item(row, column);
    return item ? item->text().toStdString() : std::string();
  }

  // Texts of the boxes shown since the last call.
  std::vector<std::string> Shown() {
    std::vector<std::string> texts;
    for (const auto& box : answerer_.Boxes()) texts.push_back(box.text);
    answerer_.Clear();
    return texts;
  }

  platform::ScriptedAnswerer answerer_;
  std::unique_ptr<TForm1> form_;
  std::vector<std::string> started_;
};

}  // namespace mainwindow

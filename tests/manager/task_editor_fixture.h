#pragma once
// The task editor forms and the folder chooser on a temporary installation with the real main
// window: typing, clicking, choosing folders in the real folder tree, and the expected store
// bytes.
#include <QTimer>

#include <functional>

#include "manager/Add.h"
#include "manager/Select.h"
#include "manager/prefrens.h"
#include "platform/gui/datetime.h"
#include "platform/gui/dialogs.h"
#include "tests/manager/mainwindow_fixture.h"

namespace editor {

// Types text into w as the keyboard would, one character at a time (Cyrillic included).
inline void Type(QWidget* w, const QString& text) {
  for (const QChar c : text) QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// A press and release of the left button on w, as the user clicks.
inline void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

// The store bytes of the given records, as the manager writes them.
inline std::string StoreBytes(const std::vector<TTaskRecord>& tasks) {
  std::string bytes;
  for (const auto& task : tasks) {
    for (size_t f = 0; f < task.size(); ++f) bytes += *platform::Utf8ToCp1251(task[f]) + (f + 1 < task.size() ? "|" : "@");
  }
  return bytes;
}

class EditorTest : public mainwindow::MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    // 09.12.2026 7:04:05, so the pickers start at a known moment.
    platform::SetClockForTesting([] { return platform::EncodeDateTime(2026, 12, 9, 7, 4, 5); });
    chooser_ = std::make_unique<TForm3>();
    new_ = std::make_unique<TForm2>();
    params_ = std::make_unique<TForm4>();
    std::filesystem::create_directory(source_ = root_ + "/источник");
  }
  void TearDown() override {
    params_.reset();
    new_.reset();
    chooser_.reset();
    Form1 = nullptr;
    Form10 = nullptr;
    platform::SetClockForTesting(nullptr);
    platform::SetFolderChooserForTesting(nullptr);
    MainWindowTest::TearDown();
  }

  // The settings that the editor reads, with rootf as given and warn and delf "1".
  void EditorSettings(const std::string& deff, const std::string& addf, const std::string& info,
                      const std::string& rootf) {
    Settings("1", "1", info);
    platform::TRegistry registry;
    registry.OpenKey(kSettingsKey, false);
    for (const auto& [name, value] : {std::pair{"deff", deff}, std::pair{"addf", addf}, std::pair{"rootf", rootf}}) {
      registry.WriteString(name, value);
    }
    registry.CloseKey();
  }

  // Lets w become the active window, as the user's click on it does.
  static void Activate(QWidget& w) {
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 2000));
  }

  // The main window, then the new-task form opened from its toolbar.
  TForm2& OpenNewTask() {
    Open();
    QTest::mouseClick(&form_->ToolButton6, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitForWindowActive(new_.get(), 2000));
    return *new_;
  }

  // Runs open, and while the chooser that it shows modally is open runs inChooser, which must
  // close it; a chooser still open afterwards is closed and the test fails instead of waiting.
  void WithChooser(const std::function<void()>& open, const std::function<void(TForm3&)>& inChooser) {
    bool shown = false;
    QTimer::singleShot(0, [&] {
      shown = chooser_->isVisible();
      if (shown) {
        // As a window manager does: the modal chooser becomes the active window.
        chooser_->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(chooser_.get(), 2000));
        inChooser(*chooser_);
      }
      if (chooser_->isVisible()) {
        ADD_FAILURE() << "the chooser stayed open";
        chooser_->reject();
      }
    });
    open();
    EXPECT_TRUE(shown) << "no chooser was shown";
  }
  void WithChooser(QWidget* button, const std::function<void(TForm3&)>& inChooser) {
    WithChooser([button] { Click(button); }, inChooser);
  }

  // Chooses folder in the chooser's tree with a click of the given mouse button on it, then
  // "Выбрать".
  static void ChooseInTree(TForm3& chooser, const std::string& folder, Qt::MouseButton button = Qt::LeftButton) {
    TShellTreeView& tree = chooser.ShellTreeView1;
    const QModelIndex index = tree.Model().index(QString::fromStdString(folder));
    ASSERT_TRUE(index.isValid()) << folder;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) tree.expand(up);
    tree.scrollTo(index);
    const QRect cell = tree.visualRect(index);
    ASSERT_TRUE(cell.isValid()) << folder;
    QTest::mouseClick(tree.viewport(), button, Qt::NoModifier, cell.center());
    EXPECT_EQ(tree.Path(), folder) << "a click selects the folder";
    Click(&chooser.xpButton1);
  }

  // The record that an on-demand task gets with the defaults of the new-task form.
  static TTaskRecord OnDemandRecord(const std::string& name, const std::string& source, const std::string& backup) {
    return {name, source, backup, "По требованию", "", "", "", "", "new", "Backup.zip", "0", "none"};
  }

  std::string StoreNow() const { return ReadBytes(home_ + "/records.dat"); }

  std::unique_ptr<TForm3> chooser_;
  std::unique_ptr<TForm2> new_;
  std::unique_ptr<TForm4> params_;
  std::string source_;
};

}  // namespace editor

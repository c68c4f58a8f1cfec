// The log view: the selected task's log as the file holds it, reloaded on every activation,
// cleared down to a fresh header, and a missing file reported with the earlier text kept.
#include "manager/Lokvist.h"
#include "manager/TaskLog.h"
#include "platform/gui/application.h"
#include "platform/gui/datetime.h"
#include "tests/manager/mainwindow_fixture.h"

namespace {

using mainwindow::MainWindowTest;
using mainwindow::OnDemand;

class LogView : public MainWindowTest {
 protected:
  void TearDown() override {
    Form9 = nullptr;
    view_.reset();
    platform::SetClockForTesting(nullptr);
    MainWindowTest::TearDown();
  }

  void At(int hour, int minute, int second) {
    const double moment = platform::EncodeDateTime(2026, 12, 8, hour, minute, second);
    platform::SetClockForTesting([moment] { return moment; });
  }

  // A logged task and a plain one; the logged one is selected and its view opened.
  TForm9& OpenView() {
    auto task = OnDemand("Docs", root_ + "/b");
    task[LogFlag - 1] = "1";
    task[LogFile - 1] = "Docs.log";
    Store({OnDemand("Plain"), task});
    Open();
    ClickRow(2);
    view_ = std::make_unique<TForm9>();
    Form9 = view_.get();
    QTest::mouseClick(&form_->ToolButton2, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitForWindowActive(view_.get(), 2000));
    return *view_;
  }

  std::string Log() const { return platform::Cp1251ToUtf8(ReadBytes(home_ + "/Docs.log")); }
  std::string Viewed() const { return view_->RichEdit1.toPlainText().toStdString(); }
  static std::string Lines(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
    return text;
  }

  std::unique_ptr<TForm9> view_;
};

const std::string kHeaderAt905 =
    "*****\r\nФайл отчётов программы Tarvelo ver. 1.0\r\n Создан: 08.12.2026 9:05:33\r\n*****\r\n";

TEST_F(LogView, ShowsTheSelectedTasksLog) {
  At(8, 0, 0);
  WriteTaskLogHeader("1", "Docs.log");
  AppendLogLines(home_ + "/Docs.log", {"->", "Имя файла: 05_12_2026-09_05.zip"});
  TForm9& view = OpenView();
  EXPECT_EQ(view.windowTitle().toStdString(), "Просмотр отчётов");
  EXPECT_EQ(view.Edit1.text().toStdString(), "Docs");
  EXPECT_EQ(Viewed(), Lines(Log()));
  EXPECT_NE(Viewed().find("Имя файла: 05_12_2026-09_05.zip"), std::string::npos);
  EXPECT_TRUE(Shown().empty());
}

TEST_F(LogView, ClearKeepsOnlyAFreshHeaderAndLaterEntriesFollowIt) {
  At(7, 0, 0);
  WriteTaskLogHeader("1", "Docs.log");
  AppendLogLines(home_ + "/Docs.log", {"->", "old entry"});
  TForm9& view = OpenView();
  At(9, 5, 33);
  QTest::mouseClick(&view.xpButton1, Qt::LeftButton);
  EXPECT_TRUE(Shown().empty());  // nothing is asked
  EXPECT_EQ(ReadBytes(home_ + "/Docs.log"), *platform::Utf8ToCp1251(kHeaderAt905));
  EXPECT_EQ(Viewed(), Lines(kHeaderAt905));

  // An entry written meanwhile (by the executor, say) shows at the next activation, after the header.
  TaskTable(LogFlag, 2) = "1";
  WriteArchiveDeletionEntry(TaskTable, 2, root_ + "/b/x.zip");
  view.FormActivate();
  EXPECT_EQ(Log().rfind(kHeaderAt905 + "->\r\n", 0), 0u) << Log();
  EXPECT_EQ(Viewed(), Lines(Log()));
  EXPECT_NE(Viewed().find("Имя файла: " + root_ + "/b/x.zip"), std::string::npos);
}

TEST_F(LogView, AMissingLogIsReportedAndTheViewKeepsItsText) {
  WriteTaskLogHeader("1", "Docs.log");
  TForm9& view = OpenView();
  const std::string before = Viewed();
  ASSERT_FALSE(before.empty());
  std::filesystem::remove(home_ + "/Docs.log");
  EXPECT_FALSE(platform::RunGuarded([&] { view.FormActivate(); }));  // as every activation runs
  const auto shown = Shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find(home_ + "/Docs.log"), std::string::npos) << shown[0];
  EXPECT_EQ(Viewed(), before);
  EXPECT_FALSE(Exists(home_ + "/Docs.log"));  // viewing never creates a log
}

TEST_F(LogView, ExitClosesTheView) {
  WriteTaskLogHeader("1", "Docs.log");
  TForm9& view = OpenView();
  QTest::mouseClick(&view.xpButton2, Qt::LeftButton);
  EXPECT_FALSE(view.isVisible());
}

}  // namespace

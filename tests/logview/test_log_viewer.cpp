// The log viewer that the tray menu starts: the executor's log in code page 1251, followed as
// lines are appended, read anew when the log is replaced or cut, empty while there is none.
#include <QTest>

#include <cstdio>
#include <fstream>
#include <string>

#include "logview/LogViewer.h"
#include "platform/codepage.h"
#include "tests/support/QtTestSupport.h"

namespace {

constexpr int kInterval = 20;
constexpr int kBound = 5000;

class LogViewer : public testsupport::TempHomeTest {
 protected:
  std::string Log() const { return home_ + "/Dorvexal.log"; }
  void Append(const std::string& utf8) {
    std::ofstream(Log(), std::ios::binary | std::ios::app) << *platform::Utf8ToCp1251(utf8);
  }
  static std::string Shown(TLogViewer& v) { return v.View().toPlainText().toStdString(); }
  static bool Shows(TLogViewer& v, const std::string& text) {
    return QTest::qWaitFor([&] { return Shown(v) == text; }, kBound);
  }
};

TEST_F(LogViewer, ShowsTheExecutorLogAndFollowsIt) {
  EXPECT_EQ(ExecutorLogFile(), Log());
  TLogViewer viewer(ExecutorLogFile(), kInterval);
  viewer.show();
  EXPECT_EQ(Shown(viewer), "") << "no log yet";

  Append("08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\r\n");
  ASSERT_TRUE(Shows(viewer, "08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\n")) << Shown(viewer);
  // A line written in two pieces, its CR LF split between them.
  Append("08.12.2026 9:06:30-> Выполнение задачи  :Почта - ERROR!\r");
  // The viewer has read the first piece, its CR held back, before the LF comes.
  ASSERT_TRUE(Shows(viewer,
                    "08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\n"
                    "08.12.2026 9:06:30-> Выполнение задачи  :Почта - ERROR!"))
      << Shown(viewer);
  Append("\n");
  ASSERT_TRUE(Shows(viewer,
                    "08.12.2026 9:05:30-> Выполнение задачи  :Документы - OK\n"
                    "08.12.2026 9:06:30-> Выполнение задачи  :Почта - ERROR!\n"))
      << Shown(viewer);

  // Replaced by a shorter log, or removed: shown anew.
  std::remove(Log().c_str());
  Append("09.12.2026 7:00:00-> Выполнение задачи  :Фото - OK\r\n");
  ASSERT_TRUE(Shows(viewer, "09.12.2026 7:00:00-> Выполнение задачи  :Фото - OK\n")) << Shown(viewer);
  std::remove(Log().c_str());
  EXPECT_TRUE(Shows(viewer, "")) << Shown(viewer);
}

}  // namespace

// The application object: the default error box for exceptions that escape handlers, the
// QMessageBox that it puts behind the hook, the message loop that ends with the main form, and the fixed
// date and time texts.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/gui/application.h"
#include "platform/gui/datetime.h"
#include "platform/hooks.h"
#include "tests/support/QtTestSupport.h"

namespace {

class Throwing : public QWidget {
 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error("Disk full: /x/records.dat");
    return QWidget::event(e);
  }
};

TEST(Application, EscapedExceptionsShowTheDefaultErrorBox) {
  platform::ScriptedAnswerer answers;
  platform::App()->SetTitle("Планировщик задач");
  EXPECT_FALSE(platform::RunGuarded([] { throw EInOutError("File not found: /x/a.log", 2); }));
  EXPECT_TRUE(platform::RunGuarded([] {}));

  Throwing w;
  QEvent user(QEvent::User);
  QCoreApplication::sendEvent(&w, &user);  // must not unwind through Qt

  ASSERT_EQ(answers.Boxes().size(), 2u);
  EXPECT_EQ(answers.Boxes()[0].text, "File not found: /x/a.log");
  EXPECT_EQ(answers.Boxes()[0].caption, "Планировщик задач");
  EXPECT_EQ(platform::ApplicationTitle(), "Планировщик задач");  // the engine's boxes carry it too
  EXPECT_EQ(answers.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_EQ(answers.Boxes()[1].text, "Disk full: /x/records.dat");
}

TEST(Application, MessageBoxHasTheFlagsButtonsIconAndDefault) {
  QMessageBox* seen = nullptr;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool noIsDefault = false;
  int buttons = 0;
  QTimer::singleShot(0, [&] {
    seen = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!seen) return;
    caption = seen->windowTitle();
    icon = seen->icon();
    buttons = static_cast<int>(seen->buttons().size());
    noIsDefault = seen->defaultButton() == static_cast<QPushButton*>(seen->button(QMessageBox::No));
    seen->button(QMessageBox::Yes)->click();
  });
  int answer = platform::ShowQtMessageBox("Вы действительно хотите удалить выбранную задачу?", "Подтверждение",
                                    platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2);
  ASSERT_NE(seen, nullptr) << "no box was shown";
  EXPECT_EQ(answer, platform::IDYES);
  EXPECT_EQ(caption, "Подтверждение");
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(buttons, 2);
  EXPECT_TRUE(noIsDefault);
}

TEST(Application, MessageBoxButtonsReadRussianOnEveryBoxType) {
  const std::pair<uint32_t, std::vector<std::string>> cases[] = {
      {platform::MB_OK, {"ОК"}},
      {platform::MB_OKCANCEL, {"ОК", "Отмена"}},
      {platform::MB_YESNO, {"Да", "Нет"}},
      {platform::MB_YESNOCANCEL, {"Да", "Нет", "Отмена"}},
      {platform::MB_RETRYCANCEL, {"Повтор", "Отмена"}},
      {platform::MB_ABORTRETRYIGNORE, {"Прервать", "Повтор", "Пропустить"}},
  };
  for (const auto& [flags, expected] : cases) {
    std::vector<std::string> texts;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      for (QAbstractButton* b : box->buttons()) texts.push_back(b->text().toStdString());
      box->buttons().front()->click();
    });
    platform::ShowQtMessageBox("Текст", "Заголовок", flags | platform::MB_ICONINFORMATION);
    // The order on the box is the style's.
    std::sort(texts.begin(), texts.end());
    std::vector<std::string> want = expected;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(texts, want) << "box type " << flags;
  }
}

TEST(Application, TheLoopEndsWhenTheMainFormClosesAndTerminateStopsIt) {
  auto* app = platform::App();
  ASSERT_NE(app, nullptr);
  // The shared application already owns no forms in this program; the first one becomes main.
  QWidget* main = app->CreateForm<QWidget>();
  QWidget* second = app->CreateForm<QWidget>();
  ASSERT_EQ(app->MainForm(), main);
  QTimer::singleShot(0, [&] {
    second->show();
    second->close();  // another form closing keeps the program running
    QTimer::singleShot(0, [&] { main->close(); });
  });
  QTimer watchdog;
  watchdog.setSingleShot(true);
  bool timedOut = false;
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    timedOut = true;
    app->quit();
  });
  watchdog.start(10000);
  app->Run();
  EXPECT_FALSE(timedOut);
  EXPECT_FALSE(main->isVisible());

  app->Terminate();
  EXPECT_EQ(app->Run(), 0);
  EXPECT_FALSE(main->isVisible()) << "a terminated application shows nothing";
}

TEST(DateTimeTexts, FixedFormatsWhateverTheLocale) {
  EXPECT_EQ(platform::EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
  EXPECT_EQ(platform::EncodeDateTime(2000, 1, 1, 0, 0, 0), 36526.0);
  const double morning = platform::EncodeDateTime(2026, 12, 8, 9, 5, 33);
  EXPECT_EQ(platform::DateToStr(morning), "08.12.2026");
  EXPECT_EQ(platform::TimeToStr(morning), "9:05:33");
  const double afternoon = platform::EncodeDateTime(2026, 2, 28, 14, 30, 0);
  EXPECT_EQ(platform::DateToStr(afternoon), "28.02.2026");
  EXPECT_EQ(platform::TimeToStr(afternoon), "14:30:00");
  EXPECT_EQ(platform::TimeToStr(platform::EncodeDateTime(2024, 2, 29, 23, 59, 59)), "23:59:59");
  EXPECT_EQ(platform::DateToStr(platform::EncodeDateTime(2024, 2, 29, 23, 59, 59)), "29.02.2024");
  EXPECT_EQ(platform::TimeToStr(platform::EncodeDateTime(2024, 3, 1, 0, 0, 0)), "0:00:00");

  platform::SetClockForTesting([morning] { return morning; });
  EXPECT_EQ(platform::Now(), morning);
  platform::SetClockForTesting(nullptr);
  const double now = platform::Now();
  EXPECT_GT(now, platform::EncodeDateTime(2020, 1, 1, 0, 0, 0));
}

}  // namespace

// The help and about forms: the help page of the installation folder shown (and shown again from
// the index on every activation), and the about form's texts and its mail link, captured instead
// of opened.
#include "manager/Linkra.h"
#include "manager/TaskLog.h"
#include "manager/about.h"
#include "manager/help.h"
#include "tests/manager/mainwindow_fixture.h"

namespace {

using mainwindow::MainWindowTest;

class InfoForms : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    SetUrlOpenerForTesting([this](const std::string& url) { urls_.push_back(url); });
    std::filesystem::create_directory(home_ + "/help");
  }
  void TearDown() override {
    Form13 = nullptr;
    Form6 = nullptr;
    SetUrlOpenerForTesting(nullptr);
    MainWindowTest::TearDown();
  }
  void Page(const std::string& name, const std::string& body) {
    WriteBytes(home_ + "/help/" + name,
               "<html><head><meta charset=\"utf-8\"></head><body>" + body + "</body></html>");
  }

  std::vector<std::string> urls_;
};

TEST_F(InfoForms, HelpShowsTheIndexPageAndStartsThereAgain) {
  Page("index.htm", "<h1>Описание Tarvelo</h1><a href=\"more.htm\">дальше</a>");
  Page("more.htm", "<p>Вторая страница</p>");
  Store({});
  Open();
  TForm13 help;
  Form13 = &help;
  QTest::mouseClick(&form_->ToolButton12, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&help, 2000));
  EXPECT_EQ(help.windowTitle().toStdString(), "Описание программы");
  EXPECT_EQ(help.WebBrowser1.source(), QUrl::fromLocalFile(QString::fromStdString(home_ + "/help/index.htm")));
  EXPECT_NE(help.WebBrowser1.toPlainText().toStdString().find("Описание Tarvelo"), std::string::npos);

  help.WebBrowser1.setSource(QUrl("more.htm"));
  EXPECT_NE(help.WebBrowser1.toPlainText().toStdString().find("Вторая страница"), std::string::npos);
  // A page installed anew shows at the next activation, from the index.
  Page("index.htm", "<h1>Новое описание</h1>");
  help.FormActivate();
  EXPECT_NE(help.WebBrowser1.toPlainText().toStdString().find("Новое описание"), std::string::npos);
  help.FormActivate();
  EXPECT_NE(help.WebBrowser1.toPlainText().toStdString().find("Новое описание"), std::string::npos);
  EXPECT_TRUE(Shown().empty());
  EXPECT_TRUE(urls_.empty());
}

TEST_F(InfoForms, AboutShowsNameVersionAndOpensTheMailLink) {
  Store({});
  Open();
  TForm6 about;
  Form6 = &about;
  QTest::mouseClick(&form_->ToolButton3, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&about, 2000));
  EXPECT_EQ(about.windowTitle().toStdString(), "О программе");
  EXPECT_EQ(about.Label1.text().toStdString(), "Tarvelo ");
  EXPECT_EQ(about.Label2.text().toStdString(), std::string("Версия  ") + kTarveloVersion);
  EXPECT_EQ(about.Linkra1.Caption(), "Напиши мне");
  EXPECT_EQ(about.Linkra1.Protocol(), ptMAIL);

  QTest::mouseClick(&about.Linkra1, Qt::LeftButton);
  ASSERT_EQ(urls_.size(), 1u);
  EXPECT_EQ(urls_[0], "mailto:" + about.Linkra1.Url());
  EXPECT_NE(about.Linkra1.Url().find('@'), std::string::npos);

  QTest::mouseClick(&about.xpButton1, Qt::LeftButton);
  EXPECT_FALSE(about.isVisible());
  form_->N4.trigger();  // the menu item shows the same form
  EXPECT_TRUE(about.isVisible());
  EXPECT_TRUE(Shown().empty());
}

}  // namespace

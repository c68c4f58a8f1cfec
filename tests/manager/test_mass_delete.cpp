// The mass deletion of archives: the date filters over names made by DateTimeArchiveName, exactly
// which files remain after each, the question and the result box, the log entry, and what is never
// deleted (folders, hidden files, the targets of links, anything when the log cannot be written).
#include <QRadioButton>

#include <algorithm>
#include <ctime>
#include <filesystem>

#include "manager/ArchiveName.h"
#include "manager/Clear.h"
#include "platform/gui/datetime.h"
#include "tests/manager/mainwindow_fixture.h"

namespace {

namespace fs = std::filesystem;
using mainwindow::MainWindowTest;
using mainwindow::OnDemand;
using Names = std::vector<std::string>;

constexpr const char* kConfirm = "Вы действительно хотите удалить эти резервые копии?";
constexpr const char* kEmptyList = "Список резервных копий пуст.";
constexpr const char* kNoMatch = "В данной папке нет ни одной резервной копии удовлетворяющей Вашим условиям.";

int ThisYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// The name the backup would give at that moment.
std::string ArchiveAt(int year, int month, int day, int hour, int minute) {
  const double moment = platform::EncodeDateTime(year, month, day, hour, minute, 33);
  platform::SetClockForTesting([moment] { return moment; });
  std::string name = DateTimeArchiveName();
  platform::SetClockForTesting(nullptr);
  return name;
}

class MassDelete : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    folder_ = root_ + "/archives";
    fs::create_directory(folder_);
    const int y = ThisYear();
    day5_ = ArchiveAt(y, 12, 5, 9, 5);      // 05_12_Y-09_05.zip
    day15_ = ArchiveAt(y, 12, 15, 14, 30);  // 15_12_Y-14_30.zip
    march_ = ArchiveAt(y, 3, 1, 23, 59);
    oldMarch_ = ArchiveAt(2004, 3, 5, 10, 0);
    old_ = ArchiveAt(2019, 1, 31, 0, 0);
    for (const auto& name : {day5_, day15_, march_, oldMarch_, old_, std::string("Backup.zip"), std::string("05_notes.txt")}) {
      WriteBytes(folder_ + "/" + name, "PK");
    }
  }
  void TearDown() override {
    Form11 = nullptr;
    clear_.reset();
    MainWindowTest::TearDown();
  }

  // The main window with one task on folder_, selected, and the form opened from it.
  TForm11& OpenForm(const std::string& logFlag = "0", const std::string& logFile = "none") {
    auto task = OnDemand("Docs", folder_);
    task[LogFlag - 1] = logFlag;
    task[LogFile - 1] = logFile;
    Store({task});
    Open();
    ClickRow(1);
    clear_ = std::make_unique<TForm11>();
    Form11 = clear_.get();
    QTest::mouseClick(&form_->ToolButton7, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitForWindowActive(clear_.get(), 2000));
    EXPECT_TRUE(Shown().empty());
    return *clear_;
  }

  void Form(QRadioButton& filter) {
    QTest::mouseClick(&filter, Qt::LeftButton);
    QTest::mouseClick(&clear_->xpButton3, Qt::LeftButton);
  }

  Names Listed() const { return clear_->FileListBox1.Names(); }

  Names Remaining() const {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  Names AllBut(Names gone) const {
    Names all = {day5_, day15_, march_, oldMarch_, old_, "Backup.zip", "05_notes.txt"};
    Names kept;
    for (const auto& n : all) {
      if (std::find(gone.begin(), gone.end(), n) == gone.end()) kept.push_back(n);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
  }

  void Delete() { QTest::mouseClick(&clear_->xpButton2, Qt::LeftButton); }

  std::string folder_, day5_, day15_, march_, oldMarch_, old_;
  std::unique_ptr<TForm11> clear_;
};

TEST_F(MassDelete, TheNamesFollowTheDateTimePattern) {
  EXPECT_EQ(day5_, "05_12_" + std::to_string(ThisYear()) + "-09_05.zip");
  EXPECT_EQ(oldMarch_, "05_03_2004-10_00.zip");
}

TEST_F(MassDelete, ActivationListsEveryZipOfTheTaskFolder) {
  fs::create_directory(folder_ + "/" + ArchiveAt(2020, 1, 1, 0, 0));  // a folder, not an archive
  WriteBytes(folder_ + "/.hidden.zip", "PK");
  TForm11& form = OpenForm();
  EXPECT_EQ(form.Edit3.text().toStdString(), "Docs");
  EXPECT_EQ(form.Edit2.text().toStdString(), folder_);
  // Sorted by name, as the list shows them and the log names them.
  EXPECT_EQ(Listed(), (Names{march_, oldMarch_, day5_, day15_, old_, "Backup.zip"}));
  EXPECT_EQ(form.Edit1.text().toStdString(), "6");
  EXPECT_EQ(form.windowTitle().toStdString(), "Удаление резервных копий");
}

TEST_F(MassDelete, ByDayDeletesOnlyThatDayOfEveryMonth) {
  TForm11& form = OpenForm();
  form.SpinEdit1.setValue(5);
  Form(form.RadioButton2);
  EXPECT_EQ(form.FilterMask(), "05_**_****-**_**.zip");
  EXPECT_EQ(Listed(), (Names{oldMarch_, day5_}));  // not 15_12_...
  EXPECT_EQ(form.Edit1.text().toStdString(), "2");
  answerer_.Answer(platform::IDYES);
  Delete();
  const auto& boxes = answerer_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, kConfirm);
  EXPECT_EQ(boxes[0].caption, "Подтверждение");
  EXPECT_EQ(boxes[0].flags, platform::MB_YESNO | platform::MB_ICONQUESTION);
  EXPECT_EQ(boxes[1].text, "Массовое удаление успешно завершено, удалено: 2 файлов");
  EXPECT_EQ(boxes[1].caption, "Результаты");
  EXPECT_EQ(Remaining(), AllBut({oldMarch_, day5_}));
  EXPECT_EQ(form.Edit1.text().toStdString(), "0");
}

TEST_F(MassDelete, ByMonthTakesEveryYearsMarch) {
  TForm11& form = OpenForm();
  form.ComboBox1.setCurrentText("Март");
  Form(form.RadioButton3);
  EXPECT_EQ(form.FilterMask(), "**_03_****-**_**.zip");
  EXPECT_EQ(Listed(), (Names{march_, oldMarch_}));
  answerer_.Answer(platform::IDYES);
  Delete();
  EXPECT_EQ(Remaining(), AllBut({march_, oldMarch_}));
}

TEST_F(MassDelete, ThisYearCanBeChosenAndDeleted) {
  TForm11& form = OpenForm();
  form.SpinEdit2.setValue(ThisYear());
  EXPECT_EQ(form.SpinEdit2.value(), ThisYear());  // a year box that ends at 2020 cannot reach it
  EXPECT_EQ(form.SpinEdit2.minimum(), 2000);
  EXPECT_EQ(form.SpinEdit2.maximum(), 2099);
  Form(form.RadioButton4);
  EXPECT_EQ(Listed(), (Names{march_, day5_, day15_}));
  answerer_.Answer(platform::IDYES);
  Delete();
  EXPECT_EQ(Remaining(), AllBut({march_, day5_, day15_}));
}

TEST_F(MassDelete, ByMonthAndYearTakesOneMonth) {
  TForm11& form = OpenForm();
  form.ComboBox1.setCurrentText("Март");
  form.SpinEdit2.setValue(ThisYear());
  Form(form.RadioButton5);
  EXPECT_EQ(form.FilterMask(), "**_03_" + std::to_string(ThisYear()) + "-**_**.zip");
  EXPECT_EQ(Listed(), Names{march_});
  answerer_.Answer(platform::IDYES);
  Delete();
  EXPECT_EQ(Remaining(), AllBut({march_}));
}

TEST_F(MassDelete, AllTakesFixedNamesTooButNothingElse) {
  fs::create_directory(folder_ + "/sub");
  WriteBytes(folder_ + "/sub/" + day5_, "PK");
  TForm11& form = OpenForm();
  form.SpinEdit2.setValue(2019);
  Form(form.RadioButton4);
  EXPECT_EQ(Listed(), Names{old_});
  Form(form.RadioButton1);
  EXPECT_EQ(form.FilterMask(), "*.zip");
  answerer_.Answer(platform::IDYES);
  Delete();
  EXPECT_EQ(Remaining(), (Names{"05_notes.txt", "sub"}));
  EXPECT_TRUE(Exists(folder_ + "/sub/" + day5_));
}

TEST_F(MassDelete, FiltersEnableOnlyTheirInputs) {
  TForm11& form = OpenForm();
  struct Row {
    QRadioButton* button;
    bool day, month, year;
  };
  const Row rows[] = {{&form.RadioButton2, true, false, false},
                      {&form.RadioButton3, false, true, false},
                      {&form.RadioButton4, false, false, true},
                      {&form.RadioButton5, false, true, true},
                      {&form.RadioButton1, false, false, false}};
  for (const Row& r : rows) {
    QTest::mouseClick(r.button, Qt::LeftButton);
    EXPECT_EQ(form.SpinEdit1.isEnabled(), r.day) << r.button->text().toStdString();
    EXPECT_EQ(form.ComboBox1.isEnabled(), r.month) << r.button->text().toStdString();
    EXPECT_EQ(form.SpinEdit2.isEnabled(), r.year) << r.button->text().toStdString();
  }
}

TEST_F(MassDelete, NoDeletesNothingAndAnEmptyListIsReported) {
  TForm11& form = OpenForm();
  answerer_.Answer(platform::IDNO);
  Delete();
  EXPECT_EQ(Remaining(), AllBut({}));
  EXPECT_EQ(Shown(), Names{kConfirm});

  form.SpinEdit2.setValue(2050);
  Form(form.RadioButton4);
  EXPECT_EQ(Shown(), Names{kNoMatch});
  EXPECT_EQ(form.Edit1.text().toStdString(), "0");
  Delete();
  EXPECT_EQ(Shown(), Names{kEmptyList});
  EXPECT_EQ(Remaining(), AllBut({}));
}

TEST_F(MassDelete, WarnAndInfoOffAskAndReportNothing) {
  Settings("0", "1", "0");
  TForm11& form = OpenForm();
  form.SpinEdit1.setValue(15);
  Form(form.RadioButton2);
  Delete();
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(Remaining(), AllBut({day15_}));
}

TEST_F(MassDelete, TheLogNamesEveryDeletedArchive) {
  TForm11& form = OpenForm("1", "Docs.log");
  form.ComboBox1.setCurrentText("Март");
  Form(form.RadioButton3);
  answerer_.Answer(platform::IDYES);
  Delete();
  const std::string log = ReadBytes(home_ + "/Docs.log");
  const std::string entry = "->\r\n";
  const size_t at = log.find(entry);
  ASSERT_NE(at, std::string::npos) << log;
  const std::string tail = log.substr(log.find("\r\n", at + entry.size()) + 2);
  EXPECT_EQ(tail, *platform::Utf8ToCp1251("Каталог резервных копий: " + folder_ + "\r\nИмена удалённых файлов:\r\n" +
                                          march_ + "\r\n" + oldMarch_ + "\r\n   \r\nУдаление завершено, удалено: 2 файлов\r\n   \r\n"));
}

TEST_F(MassDelete, ALogThatCannotBeWrittenStopsTheDeletion) {
  fs::create_directory(home_ + "/Docs.log");  // no file can be appended to here
  OpenForm("1", "Docs.log");
  answerer_.Answer(platform::IDYES);
  Delete();
  const auto shown = Shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], kConfirm);
  EXPECT_EQ(Remaining(), AllBut({}));
}

// The log's entry tells what really went, in the entry's own lines; what could not be deleted is
// said in the error box, in Russian.
TEST_F(MassDelete, AFileThatCannotBeDeletedIsReportedNotCounted) {
  TForm11& form = OpenForm("1", "Docs.log");
  form.SpinEdit1.setValue(5);
  Form(form.RadioButton2);
  ASSERT_EQ(Listed(), (Names{oldMarch_, day5_}));
  // While the question is open the first archive becomes a folder with files in it, and the second
  // one goes by other means.
  answerer_.Answer(platform::IDYES);
  answerer_.OnBox([this](const platform::ScriptedAnswerer::Box& box) {
    if (box.text != kConfirm) return;
    fs::remove(folder_ + "/" + oldMarch_);
    fs::create_directory(folder_ + "/" + oldMarch_);
    WriteBytes(folder_ + "/" + oldMarch_ + "/keep", "x");
    fs::remove(folder_ + "/" + day5_);
  });
  Delete();
  const auto& boxes = answerer_.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].caption, "Ошибка!");
  EXPECT_EQ(boxes[1].flags, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_EQ(boxes[1].text, "Удалено файлов: 1 из 2. Не удалось удалить:\n" + oldMarch_ + ": это папка, а не файл");
  EXPECT_TRUE(Exists(folder_ + "/" + oldMarch_ + "/keep"));
  const std::string log = platform::Cp1251ToUtf8(ReadBytes(home_ + "/Docs.log"));
  const size_t entry = log.find("->\r\n");
  ASSERT_NE(entry, std::string::npos) << log;
  const std::string tail = log.substr(log.find("\r\n", entry + 4) + 2);
  EXPECT_EQ(tail, "Каталог резервных копий: " + folder_ + "\r\nИмена удалённых файлов:\r\n" + day5_ +
                      "\r\n   \r\nУдаление завершено, удалено: 1 файлов\r\n   \r\n");

}

TEST_F(MassDelete, ALinkGoesButNotWhatItPointsTo) {
  const std::string outside = root_ + "/outside.zip";
  WriteBytes(outside, "PK");
  const std::string link = ArchiveAt(ThisYear(), 12, 7, 10, 0);
  fs::create_symlink(outside, folder_ + "/" + link);
  TForm11& form = OpenForm();
  form.SpinEdit1.setValue(7);
  Form(form.RadioButton2);
  EXPECT_EQ(Listed(), Names{link});
  answerer_.Answer(platform::IDYES);
  Delete();
  EXPECT_FALSE(fs::is_symlink(folder_ + "/" + link));
  EXPECT_EQ(ReadBytes(outside), "PK");
}

TEST_F(MassDelete, ReactivationFollowsTheSelectedTask) {
  const std::string other = root_ + "/other";
  fs::create_directory(other);
  WriteBytes(other + "/x.zip", "PK");
  Store({OnDemand("Docs", folder_), OnDemand("Other", other)});
  Open();
  ClickRow(2);
  clear_ = std::make_unique<TForm11>();
  Form11 = clear_.get();
  QTest::mouseClick(&form_->ToolButton7, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowActive(clear_.get(), 2000));
  EXPECT_EQ(Listed(), Names{"x.zip"});
  EXPECT_EQ(clear_->ListFolder(), other);
  // The task goes while the form is open: nothing is listed, and nothing can be deleted.
  Store({OnDemand("Docs", folder_)});
  form_->FormActivate();
  clear_->FormActivate();
  EXPECT_TRUE(Listed().empty());
  QTest::mouseClick(clear_->FileListBox1.viewport(), Qt::LeftButton);
  Delete();
  EXPECT_EQ(Shown(), (Names{"Список не содержит не одного файла резервной копии!", kEmptyList}));
  EXPECT_TRUE(Exists(other + "/x.zip"));
}

TEST(MonthNumbers, EveryNameHasItsTwoDigits) {
  EXPECT_EQ(MonthNumber("Январь"), "01");
  EXPECT_EQ(MonthNumber("Сентябрь"), "09");
  EXPECT_EQ(MonthNumber("Декабрь"), "12");
  EXPECT_EQ(MonthNumber("Martz"), "");
}

}  // namespace

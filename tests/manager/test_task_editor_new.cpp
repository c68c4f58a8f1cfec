// The new-task form driven as the user does: defaults at activation, typed names, folders chosen
// in the real chooser, the schedule inputs, and the store's bytes after "Создать"; every check
// that refuses the input before anything is written.
#include "tests/manager/task_editor_fixture.h"

namespace {

using editor::Click;
using editor::EditorTest;
using editor::StoreBytes;
using editor::Type;

constexpr const char* kCreated = "Новая задача успешно добавлена в список установленных задач";
constexpr const char* kFolderExists =
    "Папка для резервной копии создана ранее, возможно она используется другой задачей. Нерекомендуется создавать "
    "две задачи с одинаковым именем, что может привести к путанице резервных копий при попытке востановить "
    "информацию определённой задачи!";

TEST_F(EditorTest, OnDemandTaskIsAppendedByteForByteAndTheGridShowsIt) {
  Store({});
  TForm2& form = OpenNewTask();
  EXPECT_EQ(form.windowTitle(), "Новая задача");
  EXPECT_EQ(form.xpCheckBox1.Caption(), std::string("C") + "оздавать папку с именем задачи");  // a Latin C
  // First run: the default folder, no folder choice, a folder per task.
  EXPECT_EQ(form.Edit3.text().toStdString(), home_);
  EXPECT_FALSE(form.xpCheckBox1.isEnabled());
  EXPECT_TRUE(form.xpCheckBox1.Checked());
  EXPECT_FALSE(form.SpeedButton2.isEnabled());
  EXPECT_EQ(form.Edit4.text(), "Backup");
  EXPECT_TRUE(form.RadioButton1.isChecked() && form.RadioButton3.isChecked() && form.RadioButton6.isChecked());
  EXPECT_FALSE(form.ComboBox1.isEnabled() || form.ComboBox2.isEnabled() || form.DateTimePicker1.isEnabled() ||
               form.DateTimePicker2.isEnabled());
  EXPECT_EQ(form.DateTimePicker1.date(), QDate(2026, 12, 9));
  EXPECT_EQ(form.DateTimePicker2.time(), QTime(7, 4, 5));

  Type(&form.Edit1, "Документы");
  EXPECT_EQ(form.Edit3.text().toStdString(), home_ + "/Документы") << "the name names the backup folder";
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  EXPECT_EQ(FolderTarget, kFolderToSource);
  EXPECT_EQ(form.Edit2.text().toStdString(), source_);
  EXPECT_TRUE(Shown().empty());

  Click(&form.xpButton1);
  ASSERT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Резутьтат");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
  EXPECT_EQ(Shown(), std::vector<std::string>{kCreated});
  EXPECT_EQ(StoreNow(), StoreBytes({OnDemandRecord("Документы", source_, home_ + "/Документы")}));
  EXPECT_TRUE(std::filesystem::is_directory(home_ + "/Документы")) << "addf makes the backup folder";
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(Exists(home_ + "/Документы.log"));

  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get(), 2000)) << "the main window takes over";
  ASSERT_EQ(form_->StringGrid1.rowCount(), 2);
  EXPECT_EQ(Cell(1, 1), "Документы");
  EXPECT_EQ(Cell(1, 2), "По требованию");
}

TEST_F(EditorTest, AutomaticTasksStoreKindWeekdayDateAndTimeWhateverTheKind) {
  Store({});
  Settings("1", "1", "0");  // no result box
  platform::SetFolderChooserForTesting([this](const std::string&) { return std::optional<std::string>(source_); });
  struct Case {
    int kind;
    const char* kindText;
    int weekDay;
    const char* weekDayText;
    bool date, weekDayOn;
  };
  const Case cases[] = {{0, "Одноразовая", 2, "Среда", true, false},
                        {1, "Ежедневная", 0, "Понедельник", false, false},
                        {2, "Еженедельная", 6, "Воскресение", false, true},
                        {3, "Ежемесячная", 4, "Пятница", true, false}};
  std::vector<TTaskRecord> expected;
  Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kindText);
    Activate(*form_);
    QTest::mouseClick(&form_->ToolButton6, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitForWindowActive(new_.get(), 2000));
    TForm2& form = *new_;
    ASSERT_TRUE(form.Edit1.text().isEmpty()) << "every visit starts from the defaults";
    const std::string name = std::string("Задача ") + c.kindText;
    Type(&form.Edit1, QString::fromStdString(name));
    Click(&form.SpeedButton1);
    Click(&form.RadioButton2);
    EXPECT_TRUE(form.ComboBox1.isEnabled());
    form.ComboBox1.setCurrentIndex(c.kind);
    form.ComboBox2.setCurrentIndex(c.weekDay);
    EXPECT_EQ(form.DateTimePicker1.isEnabled(), c.date);
    EXPECT_TRUE(form.DateTimePicker2.isEnabled());
    EXPECT_EQ(form.ComboBox2.isEnabled(), c.weekDayOn);
    Click(&form.xpButton1);
    expected.push_back({name, source_, home_ + "/" + name, "Автоматическая", c.kindText, c.weekDayText, "09.12.2026",
                        "7:04:05", "new", "Backup.zip", "0", "none"});
    EXPECT_EQ(StoreNow(), StoreBytes(expected));
  }
  EXPECT_TRUE(Shown().empty());

  // Back to "По требованию": the schedule inputs go off and nothing of them is stored.
  Activate(*form_);
  QTest::mouseClick(&form_->ToolButton6, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitForWindowActive(new_.get(), 2000));
  Type(&new_->Edit1, "Z");
  Click(&new_->SpeedButton1);
  Click(&new_->RadioButton2);
  Click(&new_->RadioButton1);
  EXPECT_FALSE(new_->ComboBox1.isEnabled() || new_->DateTimePicker2.isEnabled());
  Click(&new_->xpButton1);
  expected.push_back(OnDemandRecord("Z", source_, home_ + "/Z"));
  EXPECT_EQ(StoreNow(), StoreBytes(expected));
}

TEST_F(EditorTest, AppendingArchivesAndALogGiveTheirNamesAndTheLogItsHeader) {
  Store({});
  Settings("1", "1", "0");
  TForm2& form = OpenNewTask();
  Type(&form.Edit1, "Фото");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_, Qt::RightButton); });
  Click(&form.RadioButton5);
  EXPECT_EQ(form.Edit4.text(), "Дата+Время");
  Click(&form.RadioButton7);
  EXPECT_TRUE(form.Edit5.isEnabled());
  EXPECT_EQ(form.Edit5.text(), "Фото.log");
  Click(&form.RadioButton3);
  EXPECT_EQ(form.Edit4.text(), "Backup");
  Click(&form.RadioButton5);
  Click(&form.xpButton1);
  EXPECT_EQ(StoreNow(), StoreBytes({{"Фото", source_, home_ + "/Фото", "По требованию", "", "", "", "", "add",
                                     "Дата+Время.zip", "1", "Фото.log"}}));
  EXPECT_EQ(ReadBytes(home_ + "/Фото.log"),
            *platform::Utf8ToCp1251("*****\r\nФайл отчётов программы Tarvelo ver. 1.0\r\n Создан: 09.12.2026 "
                                    "7:04:05\r\n*****\r\n"));
  EXPECT_TRUE(Shown().empty());
}

TEST_F(EditorTest, TheRadioHandlersAnswerTheMouseNotTheKeyboard) {
  Store({});
  TForm2& form = OpenNewTask();
  form.RadioButton2.setFocus();
  QTest::keyClick(&form.RadioButton2, Qt::Key_Space);
  EXPECT_TRUE(form.RadioButton2.isChecked());
  EXPECT_FALSE(form.ComboBox1.isEnabled()) << "a selection by the keyboard runs no handler";
  form.RadioButton7.setFocus();
  QTest::keyClick(&form.RadioButton7, Qt::Key_Space);
  EXPECT_TRUE(form.RadioButton7.isChecked());
  EXPECT_FALSE(form.Edit5.isEnabled());
}

TEST_F(EditorTest, InputThatCannotBeStoredIsRefusedBeforeAnythingIsWritten) {
  Store({});
  Settings("1", "1", "0");
  TForm2& form = OpenNewTask();
  auto refused = [&](const char* what) {
    SCOPED_TRACE(what);
    Click(&form.xpButton1);
    const auto boxes = answerer_.Boxes();
    std::string text = boxes.size() == 1 ? boxes[0].text : std::string();
    EXPECT_EQ(boxes.size(), 1u);
    if (boxes.size() == 1) {
      EXPECT_EQ(boxes[0].caption, "Ошибка!");
      EXPECT_EQ(boxes[0].flags, platform::MB_OK | platform::MB_ICONERROR);
    }
    answerer_.Clear();
    EXPECT_EQ(StoreNow(), "") << "nothing stored";
    EXPECT_TRUE(form.isVisible());
    return text;
  };

  EXPECT_EQ(refused("no name"), "Не определено имя задачи!");
  EXPECT_EQ(form.Edit3.text(), "") << "the missing name also empties the backup folder";
  Type(&form.Edit1, "Docs");
  EXPECT_EQ(refused("no source"), "Не определены пути для выполнения задачи!");

  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  form.Edit1.setText(QString::fromUtf8("Docs \xF0\x9F\x98\x80 \xE2\x82\xAC"));  // an emoji; the euro sign is in 1251
  std::string text = refused("emoji in the name");
  EXPECT_NE(text.find("\"Название задачи\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"\xF0\x9F\x98\x80\""), std::string::npos) << "the message names the character: " << text;
  EXPECT_EQ(text.find("\xE2\x82\xAC"), std::string::npos) << text;
  EXPECT_FALSE(Exists(form.Edit3.text().toStdString())) << "no backup folder for a refused task";

  form.Edit1.setText("A|B");
  EXPECT_NE(refused("separator in the name").find("\"|\""), std::string::npos);
  form.Edit1.setText("..");
  EXPECT_NE(refused("dot-dot name").find("\"..\""), std::string::npos);
  EXPECT_FALSE(Exists(home_ + "/../records.dat"));

  const std::string odd = root_ + "/\xF0\x9F\x93\x81";
  std::filesystem::create_directory(odd);
  form.Edit1.setText("Docs");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, odd); });
  EXPECT_NE(refused("emoji in the source folder").find("\"Путь к копируемым файлам\""), std::string::npos);
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });

  form.Edit4.clear();
  EXPECT_EQ(refused("no archive name"), "Не определено имя файла резервной копии!");
  Type(&form.Edit4, "../out");
  EXPECT_NE(refused("archive in another folder").find("\"/\""), std::string::npos);
  form.Edit4.setText("Backup");

  // The log's header would replace the file: never the store or any file that is no task log.
  Click(&form.RadioButton7);
  form.Edit5.setText("records.dat");
  EXPECT_NE(refused("log over the store").find(home_ + "/records.dat"), std::string::npos);
  form.Edit5.setText("../x.log");
  EXPECT_NE(refused("log outside the folder").find("\"/\""), std::string::npos);
  form.Edit5.clear();
  EXPECT_EQ(refused("no log name"), "Не определено имя файла протокола!");
  EXPECT_FALSE(Exists(home_ + "/Docs")) << "no check made the backup folder";

  form.Edit5.setText("Docs.log");
  Click(&form.xpButton1);
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(StoreNow(), StoreBytes({{"Docs", source_, home_ + "/Docs", "По требованию", "", "", "", "", "new",
                                     "Backup.zip", "1", "Docs.log"}}));
}

// The store's reader drops blanks at the ends of every value, so the editor never stores them:
// what it stores is what the task reads back, and names its folder and its log. A folder whose
// name ends in a blank cannot be kept and is refused.
TEST_F(EditorTest, BlanksAtTheEndsAreNeverStoredSoTheTaskReadsBackWhatWasMade) {
  Store({});
  TForm2& form = OpenNewTask();
  Type(&form.Edit1, "   ");
  Click(&form.xpButton1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Не определено имя задачи!"});

  form.Edit1.clear();
  Type(&form.Edit1, "  Фото  ");
  EXPECT_EQ(form.Edit3.text().toStdString(), home_ + "/Фото");
  const std::string blank = root_ + "/источник ";
  std::filesystem::create_directory(blank);
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, blank); });
  Click(&form.xpButton1);
  const auto refused = Shown();
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_NE(refused[0].find("\"Путь к копируемым файлам\""), std::string::npos) << refused[0];
  EXPECT_NE(refused[0].find("пробел"), std::string::npos) << refused[0];
  EXPECT_EQ(StoreNow(), "");

  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  Click(&form.RadioButton7);
  EXPECT_EQ(form.Edit5.text().toStdString(), "Фото.log");
  form.Edit4.setText(" Архив ");
  Click(&form.xpButton1);
  EXPECT_EQ(Shown(), std::vector<std::string>{kCreated});
  EXPECT_EQ(StoreNow(), StoreBytes({{"Фото", source_, home_ + "/Фото", "По требованию", "", "", "", "", "new",
                                     "Архив.zip", "1", "Фото.log"}}));
  int32_t count = 1;
  TTaskTable table;
  LoadTaskStore(table, count);
  ASSERT_EQ(count, 2);
  EXPECT_TRUE(std::filesystem::is_directory(table(BackupDir, 1)));
  EXPECT_TRUE(Exists(home_ + "/" + table(LogFile, 1)));
}

TEST_F(EditorTest, AnOwnRootFolderIsChosenAndTheTaskFolderMadeAtOnce) {
  Store({});
  EditorSettings("0", "1", "0", "");
  const std::string copies = root_ + "/копии";
  std::filesystem::create_directory(copies);
  TForm2& form = OpenNewTask();
  EXPECT_TRUE(form.xpCheckBox1.isEnabled() && form.SpeedButton2.isEnabled() && form.Edit3.isEnabled());
  EXPECT_EQ(form.Edit3.text(), "") << "no default folder";

  // Before a name is typed the task folder is the root folder itself, which exists.
  WithChooser(&form.SpeedButton2, [&](TForm3& chooser) { ChooseInTree(chooser, copies); });
  EXPECT_EQ(form.RootFolder(), copies);
  EXPECT_EQ(Shown(), std::vector<std::string>{kFolderExists});
  EXPECT_EQ(form.Edit1.text(), "");
  EXPECT_EQ(form.Edit3.text(), "");

  Type(&form.Edit1, "Фото");
  EXPECT_EQ(form.Edit3.text(), "") << "without deff the name does not follow into the folder";
  WithChooser(&form.SpeedButton2, [&](TForm3& chooser) { ChooseInTree(chooser, copies); });
  EXPECT_TRUE(Shown().empty());
  EXPECT_EQ(form.Edit3.text().toStdString(), copies + "/Фото");
  EXPECT_TRUE(std::filesystem::is_directory(copies + "/Фото"));

  // The same name again: the folder exists now.
  WithChooser(&form.SpeedButton2, [&](TForm3& chooser) { ChooseInTree(chooser, copies); });
  EXPECT_EQ(answerer_.Boxes().size(), 1u);
  EXPECT_EQ(answerer_.Boxes()[0].caption, "Предупреждение!");
  EXPECT_EQ(answerer_.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONWARNING);
  EXPECT_EQ(Shown(), std::vector<std::string>{kFolderExists});
  EXPECT_EQ(form.Edit1.text(), "");
  EXPECT_EQ(form.Edit3.text(), "");

  // A chooser closed without a choice changes nothing and makes no folder.
  Type(&form.Edit1, "Музыка");
  WithChooser(&form.SpeedButton2, [&](TForm3& chooser) { chooser.close(); });
  EXPECT_EQ(form.Edit3.text(), "");
  EXPECT_FALSE(Exists(copies + "/Музыка"));
  EXPECT_TRUE(Shown().empty());

  Click(&form.xpCheckBox1);
  EXPECT_FALSE(form.xpCheckBox1.Checked());
  EXPECT_EQ(form.Edit3.text().toStdString(), copies) << "unchecked: the root folder itself";
  Click(&form.xpCheckBox1);
  EXPECT_EQ(form.Edit3.text().toStdString(), copies + "/Музыка");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  Click(&form.xpButton1);
  EXPECT_EQ(StoreNow(), StoreBytes({OnDemandRecord("Музыка", source_, copies + "/Музыка")}));
  EXPECT_TRUE(std::filesystem::is_directory(copies + "/Музыка"));
}

TEST_F(EditorTest, WithoutAFolderPerTaskTheRootFolderIsTheBackupFolder) {
  Store({});
  EditorSettings("1", "0", "0", home_ + "/archives");
  TForm2& form = OpenNewTask();
  EXPECT_FALSE(form.xpCheckBox1.Checked());
  Type(&form.Edit1, "Docs");
  EXPECT_EQ(form.Edit3.text().toStdString(), home_ + "/archives");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  Click(&form.xpButton1);
  EXPECT_EQ(StoreNow(), StoreBytes({OnDemandRecord("Docs", source_, home_ + "/archives")}));
  EXPECT_FALSE(Exists(home_ + "/archives")) << "addf 0 makes no folder";
}

TEST_F(EditorTest, WithoutARootFolderNoTaskFolderIsMadeAtTheTopOfTheFileSystem) {
  Store({});
  EditorSettings("0", "1", "0", "");
  TForm2& form = OpenNewTask();
  Type(&form.Edit1, "tarvelo-top-test");
  Click(&form.xpCheckBox1);
  Click(&form.xpCheckBox1);
  EXPECT_EQ(form.Edit3.text(), "");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  Click(&form.xpButton1);
  EXPECT_EQ(Shown(), std::vector<std::string>{"Не определены пути для выполнения задачи!"});
  EXPECT_FALSE(Exists("/tarvelo-top-test"));
  EXPECT_EQ(StoreNow(), "");
}

TEST_F(EditorTest, TheFormStartsAgainOnlyWhenComingFromAnotherForm) {
  Store({});
  TForm2& form = OpenNewTask();
  Type(&form.Edit1, "Docs");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  Activate(form);
  EXPECT_EQ(form.Edit1.text(), "Docs") << "coming back from the chooser keeps the input";
  EXPECT_EQ(form.Edit2.text().toStdString(), source_);

  QWidget other;  // a window that is none of the manager's forms, as a message box
  other.show();
  Activate(other);
  Activate(form);
  EXPECT_EQ(form.Edit1.text(), "Docs");

  Activate(*form_);
  Activate(form);
  EXPECT_EQ(form.Edit1.text(), "") << "a visit to the main window starts again";
  EXPECT_EQ(form.Edit2.text(), "");

  Type(&form.Edit1, "Docs");
  Click(&form.xpButton2);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(StoreNow(), "");
  EXPECT_TRUE(Shown().empty());
}

TEST_F(EditorTest, AStoreThatVanishedIsReportedAndNoLogIsMade) {
  Store({});
  Settings("1", "0", "1");
  TForm2& form = OpenNewTask();
  Type(&form.Edit1, "Docs");
  WithChooser(&form.SpeedButton1, [&](TForm3& chooser) { ChooseInTree(chooser, source_); });
  Click(&form.RadioButton7);
  std::filesystem::remove(home_ + "/records.dat");
  Click(&form.xpButton1);
  const auto shown = Shown();
  ASSERT_EQ(shown.size(), 1u) << "the error, and no success box";
  EXPECT_NE(shown[0].find("records.dat"), std::string::npos) << shown[0];
  EXPECT_FALSE(Exists(home_ + "/Docs.log"));
  EXPECT_FALSE(Exists(home_ + "/records.dat")) << "the store is not made anew";
  EXPECT_TRUE(form.isVisible());
}

}  // namespace

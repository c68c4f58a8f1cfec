// The settings: first-run defaults, the copies of the main window, the executor's logf, and
// the settings form TForm10 driven by clicks, with the autostart entry it writes and removes.
#include <gtest/gtest.h>

#include <QTest>

#include <vector>

#include "manager/Kalvenor.h"
#include "manager/Select.h"
#include "manager/Settings.h"
#include "manager/Shsystem.h"
#include "platform/files.h"
#include "platform/gui/autostart.h"
#include "platform/gui/dialogs.h"
#include "platform/gui/registry.h"
#include "platform/hooks.h"
#include "tests/support/QtTestSupport.h"

namespace {

using platform::TRegistry;

class Settings : public testsupport::TempHomeTest {
 protected:
  void SetUp() override {
    TempHomeTest::SetUp();
    TRegistry::SetWriteObserverForTesting(
        [this](const std::string&, const std::string& name, const std::string& value) {
          writes_.push_back(name + "=" + value);
        });
  }
  void TearDown() override {
    TRegistry::SetWriteObserverForTesting(nullptr);
    platform::SetFolderChooserForTesting(nullptr);
    TempHomeTest::TearDown();
  }
  static void Store(std::initializer_list<std::pair<const char*, const char*>> values) {
    TRegistry reg;
    reg.OpenKey(kSettingsKey, true);
    for (const auto& [name, value] : values) reg.WriteString(name, value);
  }
  static std::string Stored(const char* name) {
    TRegistry reg;
    reg.OpenKey(kSettingsKey, false);
    return reg.ReadString(name);
  }
  void Show(TForm10& form) {
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  }

  std::vector<std::string> writes_;
};

TEST_F(Settings, FirstRunWritesTheDefaultsInOrderAndTheCopiesTakeThem) {
  TSettingsCopies copies;
  ReadOrCreateSettings(copies);
  const std::string root = platform::InstallDir();
  EXPECT_EQ(writes_, (std::vector<std::string>{"auto=0", "info=1", "warn=1", "delf=1", "logf=1", "deff=1",
                                               "rootf=" + root, "addf=1"}));
  EXPECT_EQ(copies.info + copies.warn + copies.addf + copies.delf + copies.logf + copies.deff, "111111");
  EXPECT_EQ(copies.rootf, root);

  writes_.clear();
  TSettingsCopies again;
  ReadOrCreateSettings(again);
  EXPECT_TRUE(writes_.empty()) << "an existing key is only read";
  EXPECT_EQ(again.rootf, root);
}

TEST_F(Settings, CopiesAreNormalisedAndDeffZeroEmptiesTheRootCopy) {
  Store({{"info", "yes"}, {"warn", "0"}, {"addf", "1"}, {"logf", ""}, {"deff", "0"}, {"rootf", "/backups"}});
  TSettingsCopies copies;
  ReadOrCreateSettings(copies);
  EXPECT_EQ(copies.info, "0");
  EXPECT_EQ(copies.warn, "0");
  EXPECT_EQ(copies.addf, "1");
  EXPECT_EQ(copies.delf, "0") << "a missing flag counts as 0";
  EXPECT_EQ(copies.logf, "0");
  EXPECT_EQ(copies.deff, "0");
  EXPECT_EQ(copies.rootf, "");
}

TEST_F(Settings, TheExecutorReadsLogfWithoutAnyForm) {
  EXPECT_EQ(ReadExecutorLogFlag(), "") << "no key: empty, so the executor still logs";
  EXPECT_TRUE(writes_.empty()) << "the executor never creates the settings";
  Store({{"logf", "0"}});
  EXPECT_EQ(ReadExecutorLogFlag(), "0");
  Store({{"logf", "1"}});
  EXPECT_EQ(ReadExecutorLogFlag(), "1");
  Store({{"logf", "2"}});
  EXPECT_EQ(ReadExecutorLogFlag(), "0");
}

TEST_F(Settings, ActivationShowsTheStoredValues) {
  Store({{"auto", "1"}, {"info", "0"}, {"warn", "x"}, {"addf", "1"}, {"logf", "1"}, {"deff", "1"}, {"rootf", "/srv/копии"}});
  TForm10 form;
  EXPECT_EQ(form.windowTitle(), "Настройка программы");
  Show(form);  // activation reads the store
  EXPECT_TRUE(form.xpCheckBox1.Checked());
  EXPECT_FALSE(form.xpCheckBox2.Checked());
  EXPECT_FALSE(form.xpCheckBox3.Checked()) << "neither 1 nor 0 shows cleared";
  EXPECT_TRUE(form.xpCheckBox4.Checked());
  EXPECT_FALSE(form.xpCheckBox5.Checked()) << "missing shows cleared";
  EXPECT_TRUE(form.xpCheckBox7.Checked());
  EXPECT_TRUE(form.xpCheckBox6.Checked());
  EXPECT_EQ(form.Edit1.text(), "/srv/копии");
  EXPECT_TRUE(form.Edit1.isEnabled());

  QTest::mouseClick(&form.xpCheckBox6, Qt::LeftButton);
  EXPECT_FALSE(form.Edit1.isEnabled());
  EXPECT_FALSE(form.SpeedButton1.isEnabled());

  Store({{"deff", "0"}, {"rootf", "/other"}});
  form.FormActivate();
  EXPECT_FALSE(form.xpCheckBox6.Checked());
  EXPECT_FALSE(form.Edit1.isEnabled());
  EXPECT_EQ(form.Edit1.text(), "/srv/копии") << "with deff 0 the field keeps its text";
}

TEST_F(Settings, ActivationWithTheKeyRemovedPutsTheFirstRunValuesBack) {
  TForm10 form;
  form.xpCheckBox3.SetChecked(false);
  form.FormActivate();
  EXPECT_EQ(writes_.size(), 8u);
  EXPECT_EQ(Stored("rootf"), platform::InstallDir());
  EXPECT_EQ(Stored("warn"), "1");
  EXPECT_FALSE(form.xpCheckBox3.Checked()) << "the controls stay as they were";
}

TEST_F(Settings, SavingWritesEveryValueSwitchesAutostartAndUpdatesTheCopies) {
  Store({{"auto", "0"}, {"info", "1"}, {"warn", "1"}, {"addf", "1"}, {"delf", "1"}, {"logf", "1"}, {"deff", "1"},
         {"rootf", "/srv"}});
  TForm10 form;
  Show(form);
  platform::ScriptedAnswerer answers;
  writes_.clear();
  form.xpCheckBox1.SetChecked(true);
  form.xpCheckBox5.SetChecked(false);
  form.Edit1.setText("/srv/new");
  QTest::mouseClick(&form.xpButton1, Qt::LeftButton);

  EXPECT_EQ(writes_, (std::vector<std::string>{"auto=1", "info=1", "warn=1", "addf=1", "delf=0", "logf=1", "deff=1",
                                               "rootf=/srv/new"}));
  const std::string entry = testsupport::TempHomeTest::ReadBytes(platform::AutostartEntryPath("Tarvelo"));
  // The test program's folder holds no installation: the entry names this one.
  EXPECT_NE(entry.find("Exec=" + platform::DesktopExecLine({"env", "TARVELO_HOME=" + platform::InstallDir(),
                                                             platform::ProgramDir() + "/Dorvexal"})),
            std::string::npos)
      << entry;
  ASSERT_EQ(answers.Boxes().size(), 1u);
  EXPECT_EQ(answers.Boxes()[0].text, "Изменения успешно сохранены.");
  EXPECT_EQ(answers.Boxes()[0].caption, "Изменение настроек");
  EXPECT_EQ(answers.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONINFORMATION);
  EXPECT_EQ(MainSettings().delf, "0");
  EXPECT_EQ(MainSettings().rootf, "/srv/new");
  EXPECT_TRUE(form.isVisible()) << "the form stays open after saving";

  // Cleared autostart, cleared default folder and no information box; twice, without errors.
  answers.Clear();
  form.xpCheckBox1.SetChecked(false);
  form.xpCheckBox2.SetChecked(false);
  form.xpCheckBox6.SetChecked(false);
  QTest::mouseClick(&form.xpButton1, Qt::LeftButton);
  QTest::mouseClick(&form.xpButton1, Qt::LeftButton);
  EXPECT_TRUE(answers.Boxes().empty()) << "no error and no result box";
  EXPECT_FALSE(Exists(platform::AutostartEntryPath("Tarvelo")));
  EXPECT_EQ(Stored("auto"), "0");
  EXPECT_EQ(Stored("rootf"), "");
  EXPECT_EQ(MainSettings().info, "0");
  EXPECT_EQ(MainSettings().rootf, "");
  EXPECT_EQ(MainSettings().deff, "0");
}

// The default folder goes into the backup folder of every new task, which the store keeps in code
// page 1251: a folder it cannot hold is refused here, where it was typed, and nothing is saved.
TEST_F(Settings, ARootFolderTheStoreCannotKeepIsRefusedWhereItWasTyped) {
  Store({{"auto", "0"}, {"info", "1"}, {"warn", "1"}, {"addf", "1"}, {"delf", "1"}, {"logf", "1"}, {"deff", "1"},
         {"rootf", "/srv"}});
  TSettingsCopies& copies = MainSettings();
  copies.rootf = "/srv";
  TForm10 form;
  Show(form);
  platform::ScriptedAnswerer answers;
  for (const char* folder : {"/srv/\xE6\x97\xA5\xE6\x9C\xAC", "/srv/a|b", "/srv/user@host"}) {
    SCOPED_TRACE(folder);
    writes_.clear();
    answers.Clear();
    form.xpCheckBox1.SetChecked(true);
    form.Edit1.setText(QString::fromUtf8(folder));
    QTest::mouseClick(&form.xpButton1, Qt::LeftButton);
    ASSERT_EQ(answers.Boxes().size(), 1u);
    EXPECT_EQ(answers.Boxes()[0].caption, "Ошибка!");
    EXPECT_EQ(answers.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONERROR);
    EXPECT_NE(answers.Boxes()[0].text.find("1251"), std::string::npos) << answers.Boxes()[0].text;
    EXPECT_TRUE(writes_.empty()) << "nothing saved";
    EXPECT_FALSE(Exists(platform::AutostartEntryPath("Tarvelo")));
    EXPECT_EQ(copies.rootf, "/srv");
    EXPECT_TRUE(form.isVisible());
  }
  EXPECT_NE(answers.Boxes()[0].text.find("\"@\""), std::string::npos) << "the message names the character";

  // Without a default folder the field is not saved, so it is no reason to refuse.
  answers.Clear();
  form.xpCheckBox6.SetChecked(false);
  QTest::mouseClick(&form.xpButton1, Qt::LeftButton);
  EXPECT_EQ(Stored("rootf"), "");
  EXPECT_EQ(answers.Boxes().size(), 1u);
  EXPECT_EQ(answers.Boxes()[0].text, "Изменения успешно сохранены.");
}

TEST_F(Settings, AFailedWriteEndsTheSaveWithTheDefaultErrorBox) {
  WriteBytes(config_, "not a folder");
  TForm10 form;
  platform::ScriptedAnswerer answers;
  Show(form);  // activation fails already: it cannot put the missing key back
  ASSERT_EQ(answers.Boxes().size(), 1u);
  answers.Clear();
  form.xpCheckBox1.SetChecked(false);
  QTest::mouseClick(&form.xpButton1, Qt::LeftButton);
  ASSERT_EQ(answers.Boxes().size(), 1u);
  EXPECT_EQ(answers.Boxes()[0].flags, platform::MB_OK | platform::MB_ICONERROR);
  EXPECT_NE(answers.Boxes()[0].text.find("auto"), std::string::npos) << answers.Boxes()[0].text;
}

TEST_F(Settings, FolderButtonFillsTheFieldAndExitCloses) {
  Store({{"deff", "1"}, {"rootf", "/start"}});
  std::string asked;
  platform::SetFolderChooserForTesting([&](const std::string& start) -> std::optional<std::string> {
    asked = start;
    return std::string("/chosen/папка");
  });
  TForm3 chooser;
  TForm10 form;
  Form10 = &form;
  Show(form);
  QTest::mouseClick(&form.SpeedButton1, Qt::LeftButton);
  Form10 = nullptr;
  EXPECT_EQ(FolderTarget, kFolderToSettings);
  EXPECT_EQ(asked, "/start") << "the chooser starts at the field's folder";
  EXPECT_EQ(form.Edit1.text(), "/chosen/папка");

  QTest::mouseClick(&form.xpButton2, Qt::LeftButton);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(Stored("rootf"), "/start") << "Выход does not save";
}

}  // namespace

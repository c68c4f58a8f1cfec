// The settings store over the INI file and the autostart entry: missing values, non-string
// values, writes that cannot reach the disk, and the Exec quoting of the entry.
#include <gtest/gtest.h>

#include <filesystem>

#include <vector>

#include "platform/gui/autostart.h"
#include "platform/gui/registry.h"
#include "tests/support/QtTestSupport.h"

namespace {

using platform::TRegistry;

class SettingsStore : public testsupport::TempHomeTest {};

TEST_F(SettingsStore, KeysComeIntoBeingWithTheirFirstValue) {
  TRegistry reg;
  EXPECT_FALSE(reg.KeyExists("\\SOFTWARE\\Tarvelo"));
  EXPECT_FALSE(reg.OpenKey("\\SOFTWARE\\Tarvelo", false));
  EXPECT_THROW(reg.WriteString("auto", "1"), ERegistryException) << "no key is open";

  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Tarvelo", true));
  EXPECT_EQ(reg.ReadString("auto"), "");  // a missing value reads empty
  reg.WriteString("auto", "1");
  reg.WriteString("rootf", "/home/u/Резервные копии, старые");
  reg.CloseKey();
  EXPECT_TRUE(Exists(config_ + "/Tarvelo/Tarvelo.ini"));

  TRegistry other;
  EXPECT_TRUE(other.KeyExists("\\SOFTWARE\\Tarvelo"));
  EXPECT_FALSE(other.KeyExists("\\SOFTWARE\\Other"));
  ASSERT_TRUE(other.OpenKey("\\SOFTWARE\\Tarvelo", false));
  EXPECT_EQ(other.ReadString("auto"), "1");
  EXPECT_EQ(other.ReadString("rootf"), "/home/u/Резервные копии, старые") << "a comma must not make a list";
  EXPECT_TRUE(other.DeleteValue("auto"));
  EXPECT_FALSE(other.DeleteValue("auto"));
  EXPECT_EQ(other.ReadString("auto"), "");
}

TEST_F(SettingsStore, AValueThatIsNotAStringRaisesTheReadError) {
  std::filesystem::create_directories(config_ + "/Tarvelo");
  WriteBytes(config_ + "/Tarvelo/Tarvelo.ini", "[SOFTWARE]\nTarvelo\\deff=1, 0\nTarvelo\\info=1\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Tarvelo", false));
  EXPECT_EQ(reg.ReadString("info"), "1");
  EXPECT_THROW(reg.ReadString("deff"), ERegistryException);
}

TEST_F(SettingsStore, AWriteThatCannotReachTheFileRaisesAtThatValue) {
  WriteBytes(config_, "a file where the configuration folder should be");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("\\SOFTWARE\\Tarvelo", true));
  EXPECT_THROW(reg.WriteString("auto", "0"), ERegistryException);
  EXPECT_THROW(platform::WriteAutostartEntry("Tarvelo", "/opt/x/Dorvexal"), ERegistryException);
}

TEST_F(SettingsStore, WritesAreSeenInTheirOrder) {
  std::vector<std::string> seen;
  TRegistry::SetWriteObserverForTesting(
      [&](const std::string& key, const std::string& name, const std::string& value) {
        seen.push_back(key + ":" + name + "=" + value);
      });
  TRegistry reg;
  reg.OpenKey("\\SOFTWARE\\Tarvelo", true);
  reg.WriteString("b", "1");
  reg.WriteString("a", "0");
  TRegistry::SetWriteObserverForTesting(nullptr);
  EXPECT_EQ(seen, (std::vector<std::string>{"SOFTWARE/Tarvelo:b=1", "SOFTWARE/Tarvelo:a=0"}));
}

TEST_F(SettingsStore, AutostartEntryIsWrittenWithTheQuotedProgramAndRemoved) {
  const std::string entry = config_ + "/autostart/Tarvelo.desktop";
  EXPECT_EQ(platform::AutostartEntryPath("Tarvelo"), entry);
  EXPECT_FALSE(platform::DeleteAutostartEntry("Tarvelo")) << "nothing to remove";

  // The executor in its installation folder, which it finds by itself at logon.
  const std::string installation = root_ + "/Tarvelo 1";
  std::filesystem::create_directory(installation);
  WriteBytes(installation + "/records.dat", "");
  setenv("TARVELO_HOME", installation.c_str(), 1);
  platform::WriteAutostartEntry("Tarvelo", installation + "/Dorvexal");
  const std::string text = ReadBytes(entry);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
  EXPECT_NE(text.find("\nExec=\"" + installation + "/Dorvexal\"\n"), std::string::npos) << text;

  EXPECT_TRUE(platform::DeleteAutostartEntry("Tarvelo"));
  EXPECT_FALSE(Exists(entry));
}

TEST(DesktopExec, ReservedCharactersAreEscapedInsideTheQuotes) {
  // '"' '$' '`' '\' take a backslash inside the quotes, then every backslash is doubled by the
  // string escapes; '%' is doubled so that it is no field code.
  EXPECT_EQ(platform::DesktopExecValue("/a b/Dorvexal"), "\"/a b/Dorvexal\"");
  EXPECT_EQ(platform::DesktopExecValue("/x\"y/$HOME/`z`/100%/a\\b"),
            "\"/x\\\\\"y/\\\\$HOME/\\\\`z\\\\`/100%%/a\\\\\\\\b\"");
}

}  // namespace

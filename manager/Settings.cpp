#include "manager/Settings.h"

#include "platform/files.h"

TSettingsCopies& MainSettings() {
  static TSettingsCopies copies;
  return copies;
}

std::string NormalisedFlag(const std::string& value) { return value == "1" ? "1" : "0"; }

std::string DefaultRootFolder() { return platform::InstallDir(); }

std::string ExecutorProgramPath() { return platform::ProgramDir() + "/Dorvexal"; }
std::string ExecutorLockPath() { return platform::InstallDir() + "/Dorvexal.lock"; }

void WriteFirstRunSettings(platform::TRegistry& registry, const std::string& rootFolder) {
  registry.WriteString("auto", "0");
  registry.WriteString("info", "1");
  registry.WriteString("warn", "1");
  registry.WriteString("delf", "1");
  registry.WriteString("logf", "1");
  registry.WriteString("deff", "1");
  registry.WriteString("rootf", rootFolder);
  registry.WriteString("addf", "1");
}

void ReadOrCreateSettings(TSettingsCopies& copies) {
  platform::TRegistry registry;
  if (registry.KeyExists(kSettingsKey)) {
    registry.OpenKey(kSettingsKey, false);
    copies.info = NormalisedFlag(registry.ReadString("info"));
    copies.warn = NormalisedFlag(registry.ReadString("warn"));
    copies.addf = NormalisedFlag(registry.ReadString("addf"));
    copies.delf = NormalisedFlag(registry.ReadString("delf"));
    copies.logf = NormalisedFlag(registry.ReadString("logf"));
    copies.deff = NormalisedFlag(registry.ReadString("deff"));
    copies.rootf = copies.deff == "1" ? registry.ReadString("rootf") : std::string();
  } else {
    registry.OpenKey(kSettingsKey, true);
    const std::string root = DefaultRootFolder();
    WriteFirstRunSettings(registry, root);
    copies = TSettingsCopies{"1", "1", "1", "1", "1", "1", root};
  }
  registry.CloseKey();
}

std::string ReadExecutorLogFlag() {
  platform::TRegistry registry;
  if (!registry.KeyExists(kSettingsKey)) return std::string();
  registry.OpenKey(kSettingsKey, false);
  return NormalisedFlag(registry.ReadString("logf"));
}

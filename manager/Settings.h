#pragma once
// The program's settings in the settings store: "1"/"0" flags and the default root folder under
// the key "\SOFTWARE\Tarvelo", and the executor's start at logon.
#include <string>

#include "platform/gui/registry.h"

inline constexpr const char* kSettingsKey = "\\SOFTWARE\\Tarvelo";
// The name of the autostart entry of the executor.
inline constexpr const char* kAutostartName = "Tarvelo";

// The manager's in-memory copies: each flag "1" or "0" (anything but "1" is "0"); rootf holds
// the stored folder while deff is "1" and is empty otherwise. There is no copy of auto.
struct TSettingsCopies {
  std::string info;
  std::string warn;
  std::string addf;
  std::string delf;
  std::string logf;
  std::string deff;
  std::string rootf;
};

// The copies that the main window keeps and the other forms read when they are activated.
TSettingsCopies& MainSettings();

// "1" for exactly "1", else "0".
std::string NormalisedFlag(const std::string& value);
// The first-run root folder: the installation folder.
std::string DefaultRootFolder();
// The executor program, started from the manager's own folder.
std::string ExecutorProgramPath();
// The lock of the running executor (platform::ProcessLock): it locks the installation folder
// itself, or this file in it where the folder cannot be locked.
std::string ExecutorLockPath();

// Writes the first-run values into the open key, in their fixed order.
void WriteFirstRunSettings(platform::TRegistry& registry, const std::string& rootFolder);
// Reads the settings into copies, or creates them with their defaults on the first run.
void ReadOrCreateSettings(TSettingsCopies& copies);
// The executor's logf: "1" or "0", empty when the settings key is missing. Needs no form.
std::string ReadExecutorLogFlag();

#pragma once
// The settings store: named string values under keys such as "\SOFTWARE\Tarvelo", kept in the
// INI file $XDG_CONFIG_HOME/Tarvelo/Tarvelo.ini (QSettings), one INI group per key. A key exists
// once it holds a value. Every write reaches the file before WriteString returns, so a failure
// is reported at the value that failed.
#include <functional>
#include <string>

#include "platform/errors.h"

namespace platform {

// $XDG_CONFIG_HOME, else $HOME/.config; read anew on every call, without a trailing '/'.
std::string ConfigHomeDir();
// ConfigHomeDir() + "/Tarvelo/Tarvelo.ini".
std::string SettingsFilePath();

class TRegistry {
 public:
  bool KeyExists(const std::string& key) const;
  // Opens key for the value operations; false when it is missing and canCreate is false.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey();
  const std::string& CurrentKey() const { return FCurrentKey; }

  // A missing value reads as "". A value that is not a string raises ERegistryException.
  std::string ReadString(const std::string& name) const;
  // Raises ERegistryException when no key is open or the value cannot be stored.
  void WriteString(const std::string& name, const std::string& value);
  // False when the value did not exist or could not be removed.
  bool DeleteValue(const std::string& name);

  // Sees every successful write (key, name, value), in order; empty: none.
  using WriteObserver = std::function<void(const std::string&, const std::string&, const std::string&)>;
  static void SetWriteObserverForTesting(WriteObserver observer);

 private:
  std::string FCurrentKey;  // the INI group, empty when no key is open
  bool FOpen = false;
};

}  // namespace platform

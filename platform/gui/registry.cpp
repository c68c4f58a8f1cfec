#include "platform/gui/registry.h"

#include <QSettings>
#include <QString>
#include <QVariant>

#include <cstdlib>
#include <memory>

namespace platform {
namespace {

TRegistry::WriteObserver& Observer() {
  static TRegistry::WriteObserver observer;
  return observer;
}

// "\SOFTWARE\Tarvelo" -> "SOFTWARE/Tarvelo": QSettings separates groups with '/'.
QString GroupOf(const std::string& key) {
  QString g = QString::fromStdString(key);
  g.replace('\\', '/');
  while (g.startsWith('/')) g.remove(0, 1);
  while (g.endsWith('/')) g.chop(1);
  return g;
}

// A fresh QSettings per operation: the file path follows the environment, and another process
// (the other program) may have changed the file in between.
std::unique_ptr<QSettings> Open(const QString& group) {
  auto s = std::make_unique<QSettings>(QString::fromStdString(SettingsFilePath()), QSettings::IniFormat);
  if (!group.isEmpty()) s->beginGroup(group);
  return s;
}

}  // namespace

std::string ConfigHomeDir() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : "/tmp") + "/.config";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base;
}

std::string SettingsFilePath() { return ConfigHomeDir() + "/Tarvelo/Tarvelo.ini"; }

bool TRegistry::KeyExists(const std::string& key) const {
  QString group = GroupOf(key);
  if (group.isEmpty()) return true;
  return !Open(group)->allKeys().isEmpty();
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  if (!canCreate && !KeyExists(key)) return false;
  FCurrentKey = GroupOf(key).toStdString();
  FOpen = true;
  return true;
}

void TRegistry::CloseKey() {
  FCurrentKey.clear();
  FOpen = false;
}

std::string TRegistry::ReadString(const std::string& name) const {
  if (!FOpen) return std::string();
  auto s = Open(QString::fromStdString(FCurrentKey));
  QVariant v = s->value(QString::fromStdString(name));
  if (!v.isValid()) return std::string();
  // An INI line such as "a, b" reads back as a list: that is no string value.
  if (v.typeId() != QMetaType::QString) throw ERegistryException("Invalid data type for '" + name + "'");
  return v.toString().toStdString();
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  const std::string failure = "Failed to set data for '" + name + "'";
  if (!FOpen) throw ERegistryException(failure);
  auto s = Open(QString::fromStdString(FCurrentKey));
  s->setValue(QString::fromStdString(name), QString::fromStdString(value));
  s->sync();
  if (s->status() != QSettings::NoError) throw ERegistryException(failure + " in " + SettingsFilePath());
  if (Observer()) Observer()(FCurrentKey, name, value);
}

bool TRegistry::DeleteValue(const std::string& name) {
  if (!FOpen) return false;
  auto s = Open(QString::fromStdString(FCurrentKey));
  const QString n = QString::fromStdString(name);
  if (!s->contains(n)) return false;
  s->remove(n);
  s->sync();
  return s->status() == QSettings::NoError;
}

void TRegistry::SetWriteObserverForTesting(WriteObserver observer) { Observer() = std::move(observer); }

}  // namespace platform

#include "platform/gui/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/gui/registry.h"

namespace platform {

std::string AutostartEntryPath(const std::string& name) { return ConfigHomeDir() + "/autostart/" + name + ".desktop"; }

std::string DesktopExecValue(const std::string& programPath) {
  // Inside the quotes of an Exec argument '"', '`', '$' and '\' take a backslash; then the
  // string escapes of the file apply, which double every backslash; '%' is a field code
  // unless doubled.
  std::string quoted = "\"";
  for (char c : programPath) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string value;
  for (char c : quoted) {
    if (c == '\\') {
      value += "\\\\";
    } else if (c == '%') {
      value += "%%";
    } else if (c == '\n') {
      value += "\\n";
    } else {
      value += c;
    }
  }
  return value;
}

void WriteAutostartEntry(const std::string& name, const std::string& programPath) {
  const QString path = QString::fromStdString(AutostartEntryPath(name));
  const std::string failure = "Failed to set data for '" + name + "' in " + path.toStdString();
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) throw ERegistryException(failure);
  const std::string text = "[Desktop Entry]\nType=Application\nName=" + name +
                           "\nExec=" + DesktopExecValue(programPath) + "\nTerminal=false\n";
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) !=
                                              static_cast<qint64>(text.size()) ||
      !file.commit()) {
    throw ERegistryException(failure);
  }
}

bool DeleteAutostartEntry(const std::string& name) {
  return QFile::remove(QString::fromStdString(AutostartEntryPath(name)));
}

}  // namespace platform

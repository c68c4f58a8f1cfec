#include "platform/gui/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/files.h"
#include "platform/gui/registry.h"

namespace platform {

std::string AutostartEntryPath(const std::string& name) { return ConfigHomeDir() + "/autostart/" + name + ".desktop"; }

std::string DesktopExecValue(const std::string& programPath) { return DesktopExecLine({programPath}); }

std::string DesktopExecLine(const std::vector<std::string>& arguments) {
  // Inside the quotes of an Exec argument '"', '`', '$' and '\' take a backslash; then the
  // string escapes of the file apply, which double every backslash; '%' is a field code
  // unless doubled.
  std::string quoted;
  for (const std::string& argument : arguments) {
    if (!quoted.empty()) quoted += ' ';
    quoted += '"';
    for (char c : argument) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
      quoted += c;
    }
    quoted += '"';
  }
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

std::string AutostartExecValue(const std::string& programPath) {
  // Started at logon the program has no $TARVELO_HOME: when the folder it would find on its own
  // is not this installation, the entry names the installation.
  const std::string folder = InstallDir();
  const size_t slash = programPath.rfind('/');
  const std::string programDir =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : programPath.substr(0, slash));
  if (InstallDirWithout(programDir) == folder) return DesktopExecValue(programPath);
  return DesktopExecLine({"env", "TARVELO_HOME=" + folder, programPath});
}

void WriteAutostartEntry(const std::string& name, const std::string& programPath) {
  const QString path = QString::fromStdString(AutostartEntryPath(name));
  const std::string failure = "Failed to set data for '" + name + "' in " + path.toStdString();
  if (!QDir().mkpath(QFileInfo(path).absolutePath())) throw ERegistryException(failure);
  const std::string text = "[Desktop Entry]\nType=Application\nName=" + name +
                           "\nExec=" + AutostartExecValue(programPath) + "\nTerminal=false\n";
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

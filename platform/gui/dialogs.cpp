#include "platform/gui/dialogs.h"

#include <QFileDialog>

namespace platform {
namespace {

FolderChooser& Chooser() {
  static FolderChooser chooser;
  return chooser;
}

}  // namespace

std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& start) {
  if (Chooser()) return Chooser()(start);
  QString dir = QFileDialog::getExistingDirectory(parent, QString(), QString::fromStdString(start));
  if (dir.isEmpty()) return std::nullopt;
  return dir.toStdString();
}

void SetFolderChooserForTesting(FolderChooser chooser) { Chooser() = std::move(chooser); }

const FolderChooser& FolderChooserForTesting() { return Chooser(); }

}  // namespace platform

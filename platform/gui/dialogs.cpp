#include "platform/gui/dialogs.h"

namespace platform {
namespace {

FolderChooser& Chooser() {
  static FolderChooser chooser;
  return chooser;
}

}  // namespace

void SetFolderChooserForTesting(FolderChooser chooser) { Chooser() = std::move(chooser); }

const FolderChooser& FolderChooserForTesting() { return Chooser(); }

}  // namespace platform

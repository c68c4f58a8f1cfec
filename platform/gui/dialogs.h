#pragma once
// The layer's plain folder dialog, behind a seam that tests replace.
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace platform {

// Asks for a folder, starting at start; nullopt when the user cancels.
std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& start);

using FolderChooser = std::function<std::optional<std::string>(const std::string& start)>;
// Replaces the dialog for tests; empty: the real dialog.
void SetFolderChooserForTesting(FolderChooser chooser);
// The replacement, empty when there is none; the manager's own folder chooser answers through it
// in tests as this dialog does.
const FolderChooser& FolderChooserForTesting();

}  // namespace platform

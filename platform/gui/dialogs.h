#pragma once
// The seam through which tests answer the manager's folder chooser.
#include <functional>
#include <optional>
#include <string>

namespace platform {

using FolderChooser = std::function<std::optional<std::string>(const std::string& start)>;
// Replaces the chooser's answer for tests; empty: the user chooses in the chooser.
void SetFolderChooserForTesting(FolderChooser chooser);
// The replacement, empty when there is none.
const FolderChooser& FolderChooserForTesting();

}  // namespace platform

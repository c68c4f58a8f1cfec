#pragma once
// Start at logon: the XDG autostart entry $XDG_CONFIG_HOME/autostart/<name>.desktop, whose Exec
// holds the quoted path of the program.
#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform {

std::string AutostartEntryPath(const std::string& name);
// Writes the entry (replacing it whole); raises ERegistryException when it cannot be written.
void WriteAutostartEntry(const std::string& name, const std::string& programPath);
// False when there was no entry or it could not be removed.
bool DeleteAutostartEntry(const std::string& name);
// The Exec value for one program path, quoted and escaped as desktop entries require.
std::string DesktopExecValue(const std::string& programPath);
// The Exec value of a command line, each argument quoted and escaped.
std::string DesktopExecLine(const std::vector<std::string>& arguments);
// The Exec value that starts programPath on this installation folder: the quoted path alone when
// the program finds the folder by itself, else through env with TARVELO_HOME.
std::string AutostartExecValue(const std::string& programPath);

}  // namespace platform

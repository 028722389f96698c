#pragma once

#include <string>
#include <vector>

/**
 * The autostart entry as a freedesktop desktop file, LarkBL.desktop: this user's in
 * $XDG_CONFIG_HOME/autostart (written and removed), the machine's in the first folder of
 * $XDG_CONFIG_DIRS that has one (only read). The session starts an entry's Exec at logon unless the
 * entry is hidden.
 */
namespace DesktopAutostart {

/** One argument quoted by the desktop-entry rules when it holds a reserved character; '%' is always doubled. */
std::string QuoteExecArgument(const std::string& argument);
/** A string value as the file stores it: backslash, newline, tab and carriage return escaped. */
std::string EscapeValue(const std::string& value);
/** The inverse of EscapeValue; "\s" is a space, other escapes are kept for the Exec quoting rules. */
std::string UnescapeValue(const std::string& value);
/** The command line that starts `exePath` at logon: the quoted path and " -autorun". */
std::string ExecLine(const std::string& exePath);

std::string UserEntryPath();
/** Candidates for the machine's entry, most important first. */
std::vector<std::string> MachineEntryPaths();

bool Enable(const std::string& exePath);
bool Disable();
bool Enabled(const std::string& exePath);

} // namespace DesktopAutostart

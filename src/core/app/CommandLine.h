#pragma once

#include <QStringList>

/** A request the running copy answers over the session bus; the copy that asks ends right after. */
enum class RemoteCommand { None, Dismiss, Snooze, Next, List };

/** The program's switches, each written with a leading "-" or "/" in any letter case. */
struct CommandLine {
    bool uninstall = false;  // remove the autostart entry first
    bool autorun = false;    // start hidden in the tray
    bool close = false;      // ask running copies to exit, then exit
    bool debug = false;      // write Log.txt
    bool wakeStatus = false; // print whether alarms can wake this computer, then exit (also --wake-status)
    // Also written with two dashes (--help); they print and end without a window system.
    bool help = false;
    bool version = false;
    RemoteCommand remote = RemoteCommand::None; // --dismiss, --snooze, --next, --list

    /** arguments without the program name. */
    static CommandLine Parse(const QStringList& arguments);
};

#pragma once

#include <QStringList>

/** The program's switches, each written with a leading "-" or "/" in any letter case. */
struct CommandLine {
    bool uninstall = false; // remove the autostart entry first
    bool autorun = false;   // start hidden in the tray
    bool close = false;     // ask running copies to exit, then exit
    bool debug = false;     // write Log.txt

    /** arguments without the program name. */
    static CommandLine Parse(const QStringList& arguments);
};

#pragma once

#include <QString>

/** The folders the program works with, computed once at start-up. */
struct AppFolders {
    QString exeFolder;    // folder of the running executable
    QString dataFolder;   // holds Data.ini and Log.txt
    QString soundsFolder; // stock sounds, ends with a separator
    QString langsFolder;  // language files, ends with a separator

    /**
     * Data folder: $LARKBELL_DATA_DIR when set; else the executable's folder when it is writable
     * (a portable copy keeps its settings beside itself); else $XDG_CONFIG_HOME/larkbell. Sounds and
     * languages: beside the executable, else the installed data folder (../share/larkbell).
     * The data folder is created when missing.
     */
    static AppFolders Resolve(const QString& exeFolder);
};

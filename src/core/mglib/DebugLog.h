#pragma once

#include <QString>

/** True when the program was started with the DEBUG switch. */
bool DebugMode();
void SetDebugMode(bool on);
/** Folder that receives Log.txt (the data folder). */
void SetLogFolder(const QString& folder);
/** Appends a time-stamped line to Log.txt; does nothing without DEBUG. Never fails to its caller. */
void WriteLog(const QString& text);

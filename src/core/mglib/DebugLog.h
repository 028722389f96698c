#pragma once

#include <QString>
#include <QtGlobal>

/** True when the program was started with the DEBUG switch. */
bool DebugMode();
void SetDebugMode(bool on);
/** Folder that receives Log.txt (the data folder). */
void SetLogFolder(const QString& folder);
/**
 * Appends a time-stamped line to the log; does nothing without DEBUG. Never fails to its caller. Until
 * StartLogFile() the line is only kept in memory.
 */
void WriteLog(const QString& text);
/**
 * Lets the log reach the disk: replaces Log.txt with the lines written so far, and appends every later line.
 * Only the copy that stays running calls it (once it holds the single-instance channel): a copy that hands
 * over and exits must leave the running copy's Log.txt as it is.
 */
void StartLogFile();

/** Lines the log holds in memory while they cannot be written; beyond it the oldest are dropped. */
constexpr qsizetype kLogLinesHeld = 10000;

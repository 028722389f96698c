#pragma once

#include <string>

// The steps of a durable save that only the operating system offers. The settings store takes them as
// plain functions (it does not depend on this layer); the program hands these over at start-up.
// Each returns an empty string on success, else the system's reason. Paths are UTF-8.

/** Flushes what was written to an open file to the disk; fd is a C run-time descriptor. */
std::string SyncFileToDisk(int fd);

/** Renames from to to in one step, replacing a file at to; a crash leaves one or the other. */
std::string ReplaceFileAtomically(const std::string& from, const std::string& to);

/**
 * Flushes a folder's entries, so that a replacement just made in it survives a power cut. Where the
 * replacement reaches the disk by itself (Windows), nothing is left to do.
 */
std::string SyncFolderToDisk(const std::string& folder);

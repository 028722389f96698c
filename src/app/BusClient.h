#pragma once

#include "core/app/CommandLine.h"

#include <QString>

#include <optional>

/**
 * What the command line asks that needs no window: --help, --version, or a request to the running copy
 * over the session bus (--dismiss, --snooze, --next, --list). The exit code, or nothing when the program
 * should start as usual. A request never starts a copy: without one it ends with 1 and says so on stderr.
 */
std::optional<int> RunWithoutWindows(const CommandLine& commandLine, int& argc, char** argv, const QString& version);

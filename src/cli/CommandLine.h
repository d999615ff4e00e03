#pragma once

#include <QStringList>

#include <optional>

// The one dispatcher for command-line modes. `arguments` are the process arguments, program name first.
// Returns the exit status when they name a mode that runs here and ends (or, for --headless and
// status --watch, runs until interrupted); nothing when the interface should start.
std::optional<int> runCommandLine(const QStringList& arguments);

// The --help text.
QString commandLineHelp();

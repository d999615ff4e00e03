#pragma once

#include <QString>

// Where Claude Code keeps its files: $CLAUDE_CONFIG_DIR when set, else ~/.claude. Read on every call.
namespace ClaudePaths {

QString configDirectory();
// Claude Code's settings, with the "statusLine" member the bridge installer edits.
QString settingsPath();
// The OAuth credential Claude Code keeps on Linux (mode 0600).
QString credentialsPath();

} // namespace ClaudePaths

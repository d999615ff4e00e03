#pragma once

#include <QString>

#include <optional>

// Where Claude Code keeps its files: $CLAUDE_CONFIG_DIR when set to an absolute path, else ~/.claude. Read on
// every call.
namespace ClaudePaths {

QString configDirectory();
// Claude Code's settings, with the "statusLine" member the bridge installer edits.
QString settingsPath();
// The OAuth credential Claude Code keeps on Linux (mode 0600).
QString credentialsPath();
// Why this process must not start, or nothing: the data folder's problem (LocalFileStore), or Claude's folder
// (or, while there is none, the folder it would be made in) belonging to another user than the effective one
// (root with another user's HOME would leave that user's credential and settings root's own, signing them
// out).
std::optional<QString> ownershipProblem();

} // namespace ClaudePaths

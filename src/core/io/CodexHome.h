#pragma once

#include <QString>

// Where Codex keeps its configuration and sessions: $CODEX_HOME when it names an absolute folder, as Codex
// itself reads it, else ~/.codex under the current HOME.
namespace CodexHome {

QString path();

} // namespace CodexHome

#pragma once

#include "providers/claude/ClaudeBridgeStatus.h"

#include <QString>

// Installs Tallyvane's status-line bridge as Claude Code's "statusLine" command in every switched-on Claude
// account folder, wrapping the command each folder had, and puts that folder's command back on uninstall.
// Claude Code's settings are only ever changed in their "statusLine" member; a settings file that cannot be
// read is never replaced; a backup of it is taken before each change, and a failed action leaves every file
// as it found it.
namespace ClaudeStatusLineBridgeInstaller {

// A status-line command containing this is the bridge.
inline constexpr QLatin1StringView marker{"tallyvane-claude-statusline-bridge"};
// The script as shipped inside the program.
inline constexpr QLatin1StringView resourcePath{":/tallyvane/tallyvane-claude-statusline-bridge.py"};

struct Outcome
{
    // The default folder's.
    ClaudeBridgeStatus bridgeStatus;
    // What was done; with several folders, one line per folder, each naming it.
    QString message;
    // In any folder.
    bool failed = false;
};

// The default folder's, read afresh on every call.
ClaudeBridgeStatus currentStatus();
Outcome install();
Outcome uninstall();

// Where install deploys the script: the data folder.
QString deployedScriptPath();
// The "statusLine" command running the script at `scriptPath`, quoted so sh reads the path back unchanged.
QString commandFor(const QString& scriptPath);

} // namespace ClaudeStatusLineBridgeInstaller

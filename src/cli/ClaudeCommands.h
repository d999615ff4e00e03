#pragma once

#include <QDateTime>
#include <QTextStream>

class ClaudeOAuthUsage;

// The Claude diagnostics of the command line.
namespace ClaudeCommands {

// --oauthtest: one fetch now, printed; appends nothing to the snapshot log. 0 when the fetch was ok.
int oauthTest(ClaudeOAuthUsage& usage, const QDateTime& now, QTextStream& out);
// --install-claude-bridge, --uninstall-claude-bridge: the outcome's message and "state: …"; 1 on an error.
int installBridge(QTextStream& out);
int uninstallBridge(QTextStream& out);
// --bundletest: whether the bridge script is inside the program (1 when it is not).
int bundleTest(QTextStream& out);

} // namespace ClaudeCommands

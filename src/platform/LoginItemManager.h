#pragma once

#include <QString>

// Start at login through the XDG autostart folder: $XDG_CONFIG_HOME/autostart/tallyvane.desktop.
namespace LoginItemManager {

// Writes or removes the autostart entry; a failure is logged as "Login item update failed: " + the reason and
// reported as false. Removing an entry that is not there succeeds.
bool setEnabled(bool enabled);
[[nodiscard]] bool isEnabled();
[[nodiscard]] QString entryPath();

// The autostart entry that starts the given executable.
[[nodiscard]] QString desktopEntry(const QString& executable);
// One argument of a desktop entry's Exec key, quoted and escaped as the Desktop Entry format requires.
[[nodiscard]] QString quoteExecArgument(const QString& argument);

} // namespace LoginItemManager

#pragma once

#include <QStringList>

// The tray application: one instance per user, the tray icon with its panel, the hot key; or, with
// "--preview", the panel content in an ordinary window.
namespace TrayApplication {

// Runs until the user quits; returns the exit status. Creates the QApplication itself.
int run(int& argc, char** argv);

// Why the interface cannot start here (no display), or empty when it can.
[[nodiscard]] QString missingDisplayReason();

} // namespace TrayApplication

#pragma once

// `tallyvane --headless`: the application state with its timers and providers, no interface, until SIGINT,
// SIGTERM or SIGHUP; a pending settings save is written before the process ends. Returns the exit status.
namespace HeadlessCommand {

int run();

} // namespace HeadlessCommand

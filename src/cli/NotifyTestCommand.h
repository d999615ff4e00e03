#pragma once

// `tallyvane --notify-test`: posts one sample notification through the desktop's notification service and
// prints the service's name and version, or why none answered. Returns 0 when the notification was taken,
// 1 otherwise.
namespace NotifyTestCommand {

int run();

} // namespace NotifyTestCommand

#pragma once

#include <QString>

#include <functional>

class QObject;

// Shows a folder in the user's file manager through xdg-open, and says whether that worked: xdg-open's
// exit status tells, where a detached start would only say that it began.
namespace FolderOpener {

// An opener still running after this long has handed the folder over (some stay with the window).
inline constexpr int answerWaitMs = 3000;

// Calls `done(opened)` on `context`'s thread once xdg-open has answered; never before returning.
void open(const QString& folder, QObject* context, std::function<void(bool opened)> done);

} // namespace FolderOpener

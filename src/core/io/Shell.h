#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Locating executables and running short commands to completion.
namespace Shell {

struct Result
{
    // The exit code, or -1 when the child was ended by a signal.
    int status = 0;
    // Decoded as UTF-8 with invalid sequences replaced by U+FFFD.
    QString stdout;
    QString stderr;
};

inline constexpr QLatin1StringView whichProgram{"/usr/bin/which"};

// The fixed folders tried before asking "which": the usual system folders, then the per-user places npm and
// nvm put global packages (the newest installed Node version of nvm only).
QStringList defaultSearchFolders();

// The first `folders` entry holding an executable file `name`, else what `fallback` prints for it (trimmed);
// empty when neither finds it. An empty `fallback` skips that step.
QString which(const QString& name, const QStringList& folders, const QString& fallback = whichProgram);
inline QString which(const QString& name)
{
    return which(name, defaultSearchFolders());
}

// Runs `executable` with inherited stdin, environment and working folder and returns once it has ended.
// With a timeout the child is asked to terminate when it passes (and killed if it ignores that).
// Empty when the child could not be launched.
std::optional<Result> run(const QString& executable, const QStringList& arguments,
                          std::optional<double> timeoutSeconds = std::nullopt);

} // namespace Shell

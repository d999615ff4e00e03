#include "cli/CommandLine.h"
#include "ui/TrayApplication.h"

#include <QCoreApplication>

#include <optional>

namespace {

// Command-line modes run on a plain core application, so that they need no display.
std::optional<int> runCommandLineMode(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tallyvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYVANE_VERSION));
    QStringList arguments = QCoreApplication::arguments();
    // "--toggle" is a request to the running tray instance, not a mode of its own.
    arguments.removeAll(QStringLiteral("--toggle"));
    return runCommandLine(arguments);
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> status = runCommandLineMode(argc, argv))
        return *status;
    return TrayApplication::run(argc, argv);
}

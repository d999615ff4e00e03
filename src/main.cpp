#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tallyvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYVANE_VERSION));
    if (const std::optional<int> status = runCommandLine(QCoreApplication::arguments()))
        return *status;
    // No tray interface in this build yet: say what there is instead.
    QTextStream(stdout) << commandLineHelp();
    return 0;
}

#include "app/ProcessLife.h"
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <unistd.h>

namespace {

// The tray program: beside this one in a build folder, else where it is installed.
QString trayProgram()
{
    const QDir here(QCoreApplication::applicationDirPath());
    const QString beside = here.filePath(QStringLiteral("tallyvane-tray"));
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QDir::cleanPath(here.filePath(QStringLiteral(TALLYVANE_TRAY_FROM_BIN)));
}

} // namespace

// The command line runs here, on a plain core application that needs no display; the tray is a program of
// its own, so that a command does not pay for loading the GUI libraries (about half its start-up time).
int main(int argc, char** argv)
{
    QByteArray tray;
    {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Tallyvane"));
        QCoreApplication::setApplicationVersion(QStringLiteral(TALLYVANE_VERSION));
        QStringList arguments = QCoreApplication::arguments();
        // "--toggle" is a request to the running tray instance, not a mode of its own.
        arguments.removeAll(QStringLiteral("--toggle"));
        if (const std::optional<QString> problem = ProcessLife::startProblem()) {
            std::fprintf(stderr, "tallyvane: %s\n", qPrintable(*problem));
            return 1;
        }
        const std::optional<int> status = runCommandLine(arguments);
        ProcessLife::finishBeforeExit();
        if (status)
            return *status;
        tray = QFile::encodeName(trayProgram());
    }
    // The same process goes on as the tray, with the same arguments.
    ::execv(tray.constData(), argv);
    std::fprintf(stderr, "tallyvane: cannot start the tray program %s: %s\n", tray.constData(),
                 std::strerror(errno));
    return 1;
}

#include "cli/StoreCommands.h"
#include "core/AppLogger.h"
#include "core/LocalFileStore.h"
#include "core/SnapshotStore.h"
#include "ui/TrayApplication.h"

#include <QCoreApplication>
#include <QTextStream>

#include <optional>

namespace {

const char* const helpText =
    "Usage: tallyvane [OPTION]\n"
    "\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "  --dumpstore          print every stored snapshot as one JSON line and exit\n"
    "  --export-csv [PATH]  write the snapshot log as CSV (default: the data folder's\n"
    "                       tallyvane-export.csv), print where, and exit\n";

int unknownOption(QTextStream& err, const QString& option)
{
    err << "tallyvane: unknown option '" << option << "' (try --help)\n";
    return 2;
}

} // namespace

namespace {

// Runs a command-line mode, or returns nothing when the arguments are for the interface.
std::optional<int> runCommandLine(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tallyvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYVANE_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args = QCoreApplication::arguments().mid(1);
    // Flags the interface reads; "--capture-height" takes a value.
    static const QStringList interfaceFlags{"--demo", "--preview", "--start-settings", "--capture",
                                            "--toggle"};
    bool forInterface = true;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--capture-height"))
            ++i;
        else if (!interfaceFlags.contains(args[i]))
            forInterface = false;
    }
    if (forInterface)
        return std::nullopt;

    if (args == QStringList{QStringLiteral("--help")}) {
        out << helpText;
        return 0;
    }
    if (args == QStringList{QStringLiteral("--version")}) {
        out << "tallyvane " << TALLYVANE_VERSION << '\n';
        return 0;
    }
    if (args == QStringList{QStringLiteral("--dumpstore")}) {
        SnapshotStore store(LocalFileStore::snapshotsPath());
        return StoreCommands::dumpStore(store, out);
    }
    if (args.front() == QStringLiteral("--export-csv") && args.size() <= 2) {
        std::optional<QString> destination;
        if (args.size() == 2) {
            if (args[1].startsWith(QLatin1Char('-')))
                return unknownOption(err, args[1]);
            destination = args[1];
        }
        SnapshotStore store(LocalFileStore::snapshotsPath());
        const int status = StoreCommands::exportCsv(store, destination, out, err);
        AppLogger::shared().flush();
        return status;
    }
    for (const QString& arg : args) {
        if (arg != QStringLiteral("--help") && arg != QStringLiteral("--version") &&
            arg != QStringLiteral("--dumpstore") && arg != QStringLiteral("--export-csv"))
            return unknownOption(err, arg);
    }
    err << "tallyvane: use one option at a time (try --help)\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> status = runCommandLine(argc, argv))
        return *status;
    return TrayApplication::run(argc, argv);
}

#include "cli/StoreCommands.h"
#include "core/AppLogger.h"
#include "core/LocalFileStore.h"
#include "core/SnapshotStore.h"

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

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tallyvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLYVANE_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments().mid(1);

    if (args.isEmpty() || args == QStringList{QStringLiteral("--help")}) {
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

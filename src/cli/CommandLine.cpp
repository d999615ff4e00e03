#include "cli/CommandLine.h"

#include "cli/HeadlessCommand.h"
#include "cli/LogicTest.h"
#include "cli/StatusCommand.h"
#include "cli/StoreCommands.h"
#include "core/AppLogger.h"
#include "core/LocalFileStore.h"
#include "core/SnapshotStore.h"

#include <QFileInfo>
#include <QTextStream>

#include <variant>

namespace {

// Options the interface reads at start-up; with any of these (and nothing else) the interface starts.
const QStringList kInterfaceFlags{QStringLiteral("--demo"), QStringLiteral("--start-settings"),
                                  QStringLiteral("--preview"), QStringLiteral("--capture")};

int usageError(const QString& message)
{
    QTextStream err(stderr);
    err << "tallyvane: " << message << " (see tallyvane --help)\n";
    return 2;
}

int dumpStore()
{
    QTextStream out(stdout);
    // A log that does not exist yet is empty; reading it creates nothing.
    SnapshotStore store(LocalFileStore::snapshotsPath(), SnapshotStore::ReadOnly{});
    return StoreCommands::dumpStore(store, out);
}

int exportCsv(const QStringList& rest)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    std::optional<QString> destination;
    if (rest.size() > 1)
        return usageError(QStringLiteral("--export-csv takes at most one path"));
    if (rest.size() == 1) {
        if (rest[0].startsWith(QLatin1Char('-')))
            return usageError(QStringLiteral("unknown option '%1'").arg(rest[0]));
        destination = rest[0];
    }
    SnapshotStore store(LocalFileStore::snapshotsPath());
    const int status = StoreCommands::exportCsv(store, destination, out, err);
    AppLogger::shared().flush();
    return status;
}

} // namespace

QString commandLineHelp()
{
    return QStringLiteral(
        "Usage: tallyvane [OPTION]...\n"
        "       tallyvane status [--json | --waybar] [--watch] [--demo] [--at DATE] [--mode MODE] [--basis "
        "BASIS]\n"
        "\n"
        "Without a command Tallyvane starts in the system tray (a second start opens the panel of\n"
        "the one already running).\n"
        "  --demo               show synthetic demo data (never saved as a setting)\n"
        "  --toggle             open or close the panel of the running Tallyvane (bind this to a\n"
        "                       desktop shortcut where Ctrl+Alt+G cannot be grabbed)\n"
        "  --preview            open the panel as a normal window, beside any running instance\n"
        "  --start-settings     open the panel on its settings page\n"
        "  --capture            leave the \"Demo data\" label out of the panel (for screenshots)\n"
        "  --capture-height N   panel height in pixels, 200 to 4000 (default 720)\n"
        "  --headless           run the forecasts and providers without an interface until\n"
        "                       interrupted (Ctrl+C, SIGTERM or SIGHUP); prints the status\n"
        "                       when it changes\n"
        "\n"
        "status: one forecast cycle over the stored snapshots, printed; starts no provider and\n"
        "writes nothing.\n"
        "  --json               one JSON document (keys in the README, section \"Command line\")\n"
        "  --waybar             one JSON line for waybar, polybar or i3blocks: text, tooltip,\n"
        "                       class, alt, percentage\n"
        "  --watch              with --json or --waybar: keep running, print a new line whenever\n"
        "                       the output changes and at least every 30 seconds\n"
        "  --demo               use demo data instead of the snapshot log\n"
        "  --at DATE            evaluate as of an ISO 8601 date-time (e.g. 2026-05-12T14:00:00Z);\n"
        "                       snapshots stamped later are ignored\n"
        "  --mode MODE          menu-bar display mode for this run: iconOnly, auto, compact,\n"
        "                       forecast, providerFocus, minimal\n"
        "  --basis BASIS        forecast basis for this run: last30m, last1h, last3h, last6h,\n"
        "                       last24h, sinceWindowStart, smart\n"
        "\n"
        "Diagnostics (print and exit):\n"
        "  --logictest          run the forecasting engines on built-in cases; exit status 1 when\n"
        "                       a check fails\n"
        "  --dumpstore          print every stored snapshot as one JSON line\n"
        "  --export-csv [PATH]  write the snapshot log as CSV (default: the data folder's\n"
        "                       tallyvane-export.csv) and print where\n"
        "  --help               show this help\n"
        "  --version            show the version\n"
        "\n"
        "Exit status: 0 on success, 1 when a check or an export fails, 2 for unknown options or\n"
        "bad values.\n");
}

std::optional<int> runCommandLine(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return std::nullopt;

    if (args.front() == QLatin1String("status")) {
        const auto parsed = StatusCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error);
        return StatusCommand::run(std::get<StatusCommand::Options>(parsed));
    }
    if (args.front() == QLatin1String("--export-csv"))
        return exportCsv(args.mid(1));

    // Every other argument is a flag; anything unknown is refused before any mode runs.
    static const QStringList modes{QStringLiteral("--help"),      QStringLiteral("-h"),
                                   QStringLiteral("--version"),   QStringLiteral("--logictest"),
                                   QStringLiteral("--dumpstore"), QStringLiteral("--headless")};
    QStringList given;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--capture-height")) {
            ++i; // its value is read, leniently, by the interface
            continue;
        }
        if (!modes.contains(arg) && !kInterfaceFlags.contains(arg)) {
            if (arg == QLatin1String("status") || arg == QLatin1String("--export-csv"))
                return usageError(QStringLiteral("'%1' must come first").arg(arg));
            return usageError(QStringLiteral("unknown option '%1'").arg(arg));
        }
        given.append(arg);
    }

    qsizetype modeCount = 0;
    for (const QString& arg : std::as_const(given))
        modeCount += modes.contains(arg) ? 1 : 0;
    if (modeCount > 1)
        return usageError(QStringLiteral("use one option at a time"));

    QTextStream out(stdout);
    if (given.contains(QLatin1String("--help")) || given.contains(QLatin1String("-h"))) {
        out << commandLineHelp();
        return 0;
    }
    if (given.contains(QLatin1String("--version"))) {
        out << "tallyvane " << TALLYVANE_VERSION << '\n';
        return 0;
    }
    if (given.contains(QLatin1String("--logictest")))
        return LogicTest::run();
    if (given.contains(QLatin1String("--dumpstore")))
        return dumpStore();
    if (given.contains(QLatin1String("--headless")))
        return HeadlessCommand::run();
    return std::nullopt;
}

#include "cli/CommandLine.h"

#include "cli/AccountsCommand.h"
#include "cli/ClaudeCommands.h"
#include "cli/CommandLineOptions.h"
#include "cli/FeedCommand.h"
#include "cli/HeadlessCommand.h"
#include "cli/LogicTest.h"
#include "cli/MachinesCommand.h"
#include "cli/NotifyTestCommand.h"
#include "cli/SelfTest.h"
#include "cli/StatusCommand.h"
#include "cli/StoreCommands.h"
#include "cli/TopCommand.h"
#include "cli/UsageCommand.h"
#include "cli/UsageTest.h"
#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "providers/claude/ClaudeOAuthUsage.h"

#include <QFileInfo>
#include <QTextStream>

#include <variant>

namespace {

// Options the interface reads at start-up; with any of these (and nothing else) the interface starts.
const QStringList kInterfaceFlags{QStringLiteral("--demo"), QStringLiteral("--start-settings"),
                                  QStringLiteral("--preview"), QStringLiteral("--capture")};

int usageError(const QString& message, const QString& command = {})
{
    QTextStream err(stderr);
    err << "tallyvane: " << message << " (see tallyvane " << (command.isEmpty() ? QString() : command + u' ')
        << "--help)\n";
    return 2;
}

bool asksForHelp(const QStringList& arguments)
{
    return arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"));
}

int printHelp(const QString& text)
{
    QTextStream(stdout) << text;
    return 0;
}

// "help" alone is --help; "help status" is "status --help".
int helpCommand(const QStringList& rest)
{
    if (rest.isEmpty())
        return printHelp(CommandLineOptions::help());
    const std::optional<CommandLineOptions::Group> group = CommandLineOptions::commandGroup(rest[0]);
    if (rest.size() > 1 || !group)
        return usageError(QStringLiteral("help takes one command: status, usage or top"));
    return printHelp(CommandLineOptions::help(*group));
}

int dumpStore()
{
    QTextStream out(stdout);
    LocalFileStore::tightenExisting();
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
    if (asksForHelp(rest))
        return printHelp(CommandLineOptions::help());
    if (rest.size() == 1) {
        if (rest[0].startsWith(QLatin1Char('-')))
            return usageError(
                CommandLineOptions::unknownOption(rest[0], {CommandLineOptions::Group::diagnostics}));
        destination = rest[0];
    }
    SnapshotStore store(LocalFileStore::snapshotsPath());
    const int status = StoreCommands::exportCsv(store, destination, out, err);
    AppLogger::shared().flush();
    return status;
}

// The log's last entries reach the disk before the process ends.
int finished(int status)
{
    AppLogger::shared().flush();
    return status;
}

} // namespace

QString commandLineHelp()
{
    return CommandLineOptions::help();
}

std::optional<int> runCommandLine(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return std::nullopt;

    // A command's own help, wherever -h or --help stands after it.
    if (const auto group = CommandLineOptions::commandGroup(args.front()); group && asksForHelp(args.mid(1)))
        return printHelp(CommandLineOptions::help(*group));
    if (args.front() == QLatin1String("help"))
        return helpCommand(args.mid(1));
    // The reading commands close an older version's open tree too, as every writing one does on its way.
    static const QStringList readers{QStringLiteral("status"), QStringLiteral("top"),
                                     QStringLiteral("usage")};
    if (readers.contains(args.front()))
        LocalFileStore::tightenExisting();
    if (args.front() == QLatin1String("status")) {
        const auto parsed = StatusCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error, args.front());
        return StatusCommand::run(std::get<StatusCommand::Options>(parsed));
    }
    if (args.front() == QLatin1String("top")) {
        const auto parsed = TopCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error, args.front());
        return finished(TopCommand::run(std::get<TopCommand::Options>(parsed)));
    }
    if (args.front() == QLatin1String("--export-csv"))
        return exportCsv(args.mid(1));
    if (args.front() == QLatin1String("accounts")) {
        const auto parsed = AccountsCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error, args.front());
        return AccountsCommand::run(std::get<AccountsCommand::Options>(parsed));
    }
    if (args.front() == QLatin1String("machines")) {
        const auto parsed = MachinesCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error, args.front());
        return finished(MachinesCommand::run(std::get<MachinesCommand::Options>(parsed)));
    }
    // Plumbing another machine's `machines pull` runs over SSH; not in --help.
    if (args.front() == QLatin1String("feed")) {
        const auto parsed = FeedCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error);
        return finished(FeedCommand::run(std::get<FeedCommand::Options>(parsed)));
    }
    if (args.front() == QLatin1String("usage")) {
        const auto parsed = UsageCommand::parse(args.mid(1));
        if (const QString* error = std::get_if<QString>(&parsed))
            return usageError(*error, args.front());
        return UsageCommand::run(std::get<UsageCommand::Options>(parsed));
    }

    // Every other argument is a flag; anything unknown is refused before any mode runs.
    static const QStringList modes{QStringLiteral("--help"),
                                   QStringLiteral("-h"),
                                   QStringLiteral("--version"),
                                   QStringLiteral("--bundletest"),
                                   QStringLiteral("--install-claude-bridge"),
                                   QStringLiteral("--uninstall-claude-bridge"),
                                   QStringLiteral("--logictest"),
                                   QStringLiteral("--oauthtest"),
                                   QStringLiteral("--dumpstore"),
                                   QStringLiteral("--headless"),
                                   QStringLiteral("--usagetest"),
                                   QStringLiteral("--selftest"),
                                   QStringLiteral("--notify-test")};
    QStringList given;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--capture-height")) {
            ++i; // its value is read, leniently, by the interface
            continue;
        }
        if (!modes.contains(arg) && !kInterfaceFlags.contains(arg)) {
            if (arg == QLatin1String("status") || arg == QLatin1String("usage") ||
                arg == QLatin1String("top") || arg == QLatin1String("help") ||
                arg == QLatin1String("accounts") || arg == QLatin1String("machines") ||
                arg == QLatin1String("--export-csv"))
                return usageError(QStringLiteral("'%1' must come first").arg(arg));
            return usageError(CommandLineOptions::unknownOption(
                arg, {CommandLineOptions::Group::interface, CommandLineOptions::Group::diagnostics}));
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
    if (given.contains(QLatin1String("--bundletest")))
        return ClaudeCommands::bundleTest(out);
    if (given.contains(QLatin1String("--install-claude-bridge")))
        return finished(ClaudeCommands::installBridge(out));
    if (given.contains(QLatin1String("--uninstall-claude-bridge")))
        return finished(ClaudeCommands::uninstallBridge(out));
    if (given.contains(QLatin1String("--logictest")))
        return LogicTest::run();
    if (given.contains(QLatin1String("--oauthtest")))
        return finished(
            ClaudeCommands::oauthTest(ClaudeOAuthUsage::shared(), QDateTime::currentDateTimeUtc(), out));
    if (given.contains(QLatin1String("--usagetest")))
        return UsageTest::run();
    if (given.contains(QLatin1String("--dumpstore")))
        return dumpStore();
    if (given.contains(QLatin1String("--selftest")))
        return SelfTest::run(QDateTime::currentDateTimeUtc(), out);
    if (given.contains(QLatin1String("--notify-test")))
        return NotifyTestCommand::run();
    if (given.contains(QLatin1String("--headless")))
        return HeadlessCommand::run();
    return std::nullopt;
}

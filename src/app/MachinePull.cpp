#include "app/MachinePull.h"

#include "core/io/AccountList.h"
#include "core/io/FileLock.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "core/text/TerminalText.h"
#include "providers/AccountFolders.h"

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>

#include <csignal>

#include <unistd.h>

namespace {

using namespace Qt::StringLiterals;
using Problem = MachineMirror::State::Problem;

constexpr qint64 maxErrorBytes = 64 * 1024;
constexpr int pollMs = 50;

QString sshProgram(const MachinePull::Options& options)
{
    if (!options.ssh.isEmpty())
        return options.ssh;
    const QString configured = qEnvironmentVariable("TALLYVANE_SSH");
    return configured.isEmpty() ? u"ssh"_s : configured;
}

// ssh and whatever it started (a ProxyCommand, a ControlMaster) in a group of their own, so that a time-out
// ends all of them.
struct Child
{
    QProcess process;
    bool started = false;

    ~Child() { stop(); }
    void stop()
    {
        if (started && process.state() != QProcess::NotRunning) {
            ::kill(-pid_t(process.processId()), SIGKILL);
            process.kill();
            process.waitForFinished(2000);
        }
    }
};

void start(Child& child, const MachinePull::Options& options, const QString& destination,
           const QString& command)
{
    QStringList arguments = options.sshArguments;
    arguments << u"-o"_s << u"BatchMode=yes"_s << u"-o"_s << u"ConnectTimeout=10"_s << u"-T"_s << u"--"_s
              << destination << command;
    child.process.setProgram(sshProgram(options));
    child.process.setArguments(arguments);
    child.process.setStandardInputFile(QProcess::nullDevice());
    child.process.setChildProcessModifier([] { ::setpgid(0, 0); });
    child.process.start();
    child.started = child.process.waitForStarted(10000);
}

// The reason ssh gave, in its last line: "Connection refused" from "ssh: connect to host … port 22:
// Connection refused".
QString sshReason(const QByteArray& error)
{
    const QList<QByteArray> lines = error.trimmed().split('\n');
    QString last =
        TerminalText::clean(QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last())).trimmed();
    if (const qsizetype colon = last.lastIndexOf(u": "_s); colon >= 0)
        last = last.mid(colon + 2);
    if (!last.isEmpty())
        last[0] = last[0].toLower();
    return last.left(120);
}

// `tallyvane --version` there, for a remote whose tallyvane knows no feed.
QString remoteVersion(const MachineList::Machine& machine, const MachinePull::Options& options)
{
    Child child;
    start(child, options, machine.destination, u"tallyvane --version"_s);
    if (!child.started || !child.process.waitForFinished(int(options.timeout.count())))
        return {};
    const QString out =
        TerminalText::clean(QString::fromUtf8(child.process.readAllStandardOutput().left(200)));
    const QString version = out.section(u' ', 1, 1).trimmed();
    return version.isEmpty() ? u"unknown"_s : version.left(32);
}

// The local default account's key per provider, when its folder tells who it is.
// The other machine's default account's key per provider, where that key names its account.
QMap<Provider, QString> remoteDefaultKeys(const MachineFeed::Header& header)
{
    QMap<Provider, QString> keys;
    for (const MachineFeed::Account& a : header.accounts)
        if (a.isDefault && a.identified)
            keys.insert(a.provider, a.key);
    return keys;
}

QMap<Provider, QString> localDefaultKeys()
{
    QMap<Provider, QString> keys;
    const QList<AccountFolder> added = AccountList::load();
    for (Provider provider : allProviders)
        for (const AccountFolders::Account& a : AccountFolders::accounts(provider, added))
            if (a.folder.isDefault && AccountFolders::identity(a.folder))
                keys.insert(provider, a.key);
    return keys;
}

// A remote reading of the account the local default one is signed in to, or of a default account that cannot
// tell who it is, counts for the local default account; any other keeps the remote's key.
QString localAccount(Provider provider, const QString& remoteKey,
                     const QMap<Provider, QString>& localDefaults)
{
    if (remoteKey.isEmpty() || remoteKey == localDefaults.value(provider))
        return {};
    return remoteKey;
}

qint64 mergeSnapshots(const QString& machineId, const MachineFeed::Header& header,
                      const QList<UsageSnapshot>& pulled, const MachinePull::Options& options)
{
    const QMap<Provider, QString> remoteDefaults = remoteDefaultKeys(header);
    const QMap<Provider, QString> localDefaults = localDefaultKeys();
    const QDateTime cutoff = options.clock->now().addDays(-options.retentionDays);

    LocalFileStore::makeFolder(MachineMirror::folder(machineId));
    SnapshotStore mirror(MachineMirror::snapshotsPath(machineId), SnapshotStoreOptions{options.clock});
    QSet<QUuid> held;
    const SnapshotLog log = mirror.log();
    for (const UsageSnapshot& s : log)
        held.insert(s.id);
    QList<UsageSnapshot> fresh;
    for (UsageSnapshot s : pulled) {
        if (held.contains(s.id) || s.timestamp < cutoff)
            continue;
        held.insert(s.id);
        const QString key = s.account ? *s.account : remoteDefaults.value(s.provider);
        const QString local = localAccount(s.provider, key, localDefaults);
        s.account = local.isEmpty() ? OptionalText() : OptionalText(local);
        fresh.append(std::move(s));
    }
    if (!fresh.isEmpty())
        mirror.append(fresh);
    // Rewritten only once a day's worth has aged out, not on every pull.
    if (!log.isEmpty() && log[0].timestamp < cutoff.addDays(-1))
        mirror.prune(options.retentionDays, *options.clock);
    return fresh.size();
}

QList<MachineFeed::UsageRow> localRows(const MachineFeed::Header& header, QList<MachineFeed::UsageRow> rows)
{
    const QMap<Provider, QString> remoteDefaults = remoteDefaultKeys(header);
    const QMap<Provider, QString> localDefaults = localDefaultKeys();
    for (MachineFeed::UsageRow& row : rows)
        row.account = localAccount(row.provider,
                                   row.account.isEmpty() ? remoteDefaults.value(row.provider) : row.account,
                                   localDefaults);
    return rows;
}

// Another destination already pulling the machine with this id (an alias of the same host).
bool pulledElsewhere(const MachineList::Machine& machine, const QString& machineId)
{
    for (const MachineList::Machine& other : MachineList::load())
        if (other.destination != machine.destination && other.enabled &&
            MachineMirror::loadState(other).machine == machineId)
            return true;
    return false;
}

} // namespace

namespace MachinePull {

Outcome pull(const MachineList::Machine& machine, const Options& options)
{
    Outcome outcome;
    MachineMirror::State& state = outcome.state;
    state = MachineMirror::loadState(machine);
    const QDateTime now = options.clock->now();
    state.lastAttempt = now;
    const auto failed = [&](Problem problem, const QString& error) {
        state.problem = problem;
        state.error = error;
        if (!state.failingSince)
            state.failingSince = now;
        MachineMirror::saveState(machine, state);
        return outcome;
    };
    if (const auto problem = MachineList::destinationProblem(machine.destination))
        return failed(Problem::unreachable, *problem);

    LocalFileStore::makeFolder(MachineMirror::root());
    // One pull of a destination at a time, whoever runs it (the tray, `machines pull` from cron).
    const FileLock lock(MachineMirror::statePath(machine) + u".lock"_s, options.timeout);
    // Another pull of it is under way: what it finds is this one's answer too.
    if (!lock.isLocked())
        return {MachineMirror::loadState(machine)};

    QString command = u"tallyvane feed"_s;
    if (!state.machine.isEmpty() && !state.cursor.isEmpty())
        command += u" --since "_s + state.cursor;
    Child child;
    start(child, options, machine.destination, command);
    if (!child.started)
        return failed(Problem::unreachable, u"%1 could not be started (%2)"_s.arg(
                                                sshProgram(options), child.process.errorString()));

    MachineFeed::Reader reader;
    QByteArray error;
    qint64 errorBytes = 0;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    while (true) {
        if (std::chrono::steady_clock::now() >= deadline) {
            timedOut = true;
            break;
        }
        const bool running = child.process.state() != QProcess::NotRunning;
        if (running)
            child.process.waitForReadyRead(pollMs);
        const QByteArray err = child.process.readAllStandardError();
        errorBytes += err.size();
        if (error.size() < maxErrorBytes)
            error += err.left(maxErrorBytes - error.size());
        const QByteArray out = child.process.readAllStandardOutput();
        if (!out.isEmpty() && !reader.add(out))
            break;
        if (errorBytes > MachineFeed::maxPullBytes)
            break;
        if (!running && out.isEmpty())
            break;
    }
    outcome.bytes = reader.bytes();
    const bool finished = child.process.state() == QProcess::NotRunning;
    child.stop();
    const int status =
        finished && child.process.exitStatus() == QProcess::NormalExit ? child.process.exitCode() : -1;

    if (reader.header()) {
        const MachineFeed::Header& header = *reader.header();
        if (header.machine == MachineMirror::ownId())
            return failed(Problem::itself, u"this is the machine Tallyvane runs on"_s);
        if (pulledElsewhere(machine, header.machine))
            return failed(Problem::duplicate, u"another destination already reaches this machine"_s);
        // What came in complete lines is kept even from a pull that broke off (of the machine known there);
        // the cursor moves only with the trailer, so the next pull sends it again and it is dropped by id.
        const bool sameMachine = state.machine.isEmpty() || state.machine == header.machine;
        if (reader.trailer() || sameMachine)
            outcome.newSnapshots = mergeSnapshots(header.machine, header, reader.snapshots(), options);
        if (reader.trailer()) {
            state.machine = header.machine;
            state.host = header.host;
            state.version = header.version;
            state.zone = header.zone;
            state.accounts = header.accounts;
            if (reader.trailer()->usageSent) {
                MachineMirror::saveUsage(header.machine, {header.zone, localRows(header, reader.usage())});
                outcome.usageChanged = true;
            }
            state.cursor = reader.trailer()->cursor.encode();
            state.lastSuccess = now;
            state.failingSince.reset();
            state.problem = Problem::none;
            state.error.clear();
            MachineMirror::saveState(machine, state);
            return outcome;
        }
    }

    using Failure = MachineFeed::Reader::Failure;
    if (reader.failure() == Failure::unsupported)
        return failed(Problem::tooOld, reader.otherVersion());
    if (reader.failure() == Failure::tooLarge || errorBytes > MachineFeed::maxPullBytes)
        return failed(Problem::badFeed, u"more than 64 MiB in one pull"_s);
    if (reader.failure() == Failure::lineTooLong)
        return failed(Problem::badFeed, u"a line of more than 10,000 bytes"_s);
    if (reader.failure() != Failure::none)
        return failed(Problem::badFeed, u"output that is no feed"_s);
    if (timedOut)
        return failed(reader.header() ? Problem::badFeed : Problem::unreachable,
                      reader.header() ? u"cut off: no end after %1 s"_s.arg(options.timeout.count() / 1000)
                                      : u"timed out after %1 s"_s.arg(options.timeout.count() / 1000));
    if (reader.header())
        return failed(Problem::badFeed, u"cut off before its end"_s);
    if (status == 255)
        return failed(Problem::unreachable, sshReason(error));
    if (status == 127 || error.contains("command not found") || error.contains("not found"))
        return failed(Problem::notInstalled, {});
    if (status == 2)
        return failed(Problem::tooOld, remoteVersion(machine, options));
    return failed(Problem::badFeed,
                  sshReason(error).isEmpty() ? u"no feed (exit status %1)"_s.arg(status) : sshReason(error));
}

} // namespace MachinePull

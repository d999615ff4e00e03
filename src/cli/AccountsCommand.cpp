#include "cli/AccountsCommand.h"

#include "app/AccountHealth.h"
#include "app/AccountSettings.h"
#include "core/io/AccountList.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SnapshotStore.h"
#include "providers/AccountFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <algorithm>

namespace {

using Options = AccountsCommand::Options;

using AccountSettings::shown;

int fail(const QString& message, int status)
{
    QTextStream(stderr) << "tallyvane: " << message << '\n';
    return status;
}

int list(bool json)
{
    QJsonArray rows;
    QTextStream out(stdout);
    if (!json)
        out << "Assistant    Label        Folder                       Account        Watched         "
               "Health\n";
    // Read only: listing must not create the data folder. No provider runs here, so the log tells the health.
    const QString logPath = LocalFileStore::snapshotsPath();
    const SnapshotLog log =
        QFileInfo::exists(logPath) ? SnapshotStore(logPath, SnapshotStore::ReadOnly{}).log() : SnapshotLog();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const AccountSettings::Entry& entry : AccountSettings::list()) {
        const AccountFolder& f = entry.folder;
        AccountHealth::Facts facts;
        facts.enabled = f.enabled;
        facts.signedIn = !entry.key.isEmpty();
        facts.newestReading =
            AccountHealth::newestReading(log, f.provider, AccountSettings::readingKey(entry), f.isDefault);
        const QString health = AccountHealth::text(facts, now);
        if (json) {
            rows.append(QJsonObject{
                {QStringLiteral("provider"), rawValue(f.provider)},
                {QStringLiteral("key"), entry.key.isEmpty() ? QJsonValue() : QJsonValue(entry.key)},
                {QStringLiteral("label"), entry.label},
                {QStringLiteral("folder"), f.folder},
                {QStringLiteral("default"), f.isDefault},
                {QStringLiteral("added"), f.added},
                {QStringLiteral("enabled"), f.enabled},
                {QStringLiteral("health"), health}});
            continue;
        }
        out << displayName(f.provider).leftJustified(12) << ' ' << entry.label.leftJustified(12) << ' '
            << shown(f.folder).leftJustified(28) << ' '
            << (entry.key.isEmpty() ? QStringLiteral("not signed in") : entry.key).leftJustified(14) << ' '
            << (QString::fromLatin1(f.enabled ? "on" : "off") + (f.isDefault ? QStringLiteral("  default")
                                                                 : f.added   ? QStringLiteral("  added")
                                                                             : QString()))
                   .leftJustified(15)
            << ' ' << health << '\n';
    }
    if (json)
        out << QJsonDocument(QJsonObject{{QStringLiteral("accounts"), rows}}).toJson(QJsonDocument::Compact)
            << '\n';
    return 0;
}

bool saved(const QList<AccountFolder>& mine)
{
    QString error;
    if (AccountList::save(mine, &error))
        return true;
    fail(QStringLiteral("could not write %1: %2").arg(AccountList::path(), error), 1);
    return false;
}

int add(const Options& options)
{
    const AccountSettings::Outcome outcome =
        AccountSettings::add(options.folder, options.provider, options.label);
    if (outcome.status == 2 && !options.provider && QFileInfo(options.folder).isDir())
        return fail(outcome.message + QStringLiteral(": add --provider claude or --provider codex"), 2);
    if (outcome.status != 0)
        return fail(outcome.message, outcome.status);
    QTextStream(stdout) << outcome.message << '\n';
    return 0;
}

// Works on a folder that is gone too: its entry is what goes.
int remove(const Options& options)
{
    QList<AccountFolder> mine = AccountList::load();
    bool known = false;
    for (Provider provider : allProviders) {
        if (options.provider && provider != *options.provider)
            continue;
        const auto same = [&](const AccountFolder& f) {
            return f.provider == provider && f.folder == options.folder;
        };
        const auto found = AccountFolders::discover(provider, {});
        const auto discovered = std::find_if(found.cbegin(), found.cend(), same);
        if (discovered != found.cend() && discovered->isDefault)
            return fail(QStringLiteral("%1 is %2's own folder; turn %2 off in Settings instead")
                            .arg(shown(options.folder), displayName(provider)),
                        2);
        auto entry = std::find_if(mine.begin(), mine.end(), same);
        if (discovered != found.cend()) {
            // A folder found by itself stays in the list switched off, else the next start would find it
            // again.
            if (entry == mine.end()) {
                mine.append(AccountFolder{provider, options.folder, {}, false, true, false});
                entry = mine.end() - 1;
            }
            entry->enabled = false;
            known = true;
        } else if (entry != mine.end()) {
            mine.erase(entry);
            known = true;
        }
    }
    if (!known)
        return fail(
            QStringLiteral("%1 is not an account folder Tallyvane watches").arg(shown(options.folder)), 2);
    if (!saved(mine))
        return 1;
    QTextStream(stdout) << "Tallyvane no longer watches " << shown(options.folder) << ".\n";
    return 0;
}

} // namespace

namespace AccountsCommand {

std::variant<Options, QString> parse(const QStringList& arguments)
{
    Options options;
    QStringList positional;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (arg == QLatin1String("--json")) {
            options.json = true;
        } else if (arg == QLatin1String("--label") && hasValue) {
            options.label = arguments[++i].trimmed();
        } else if (arg == QLatin1String("--provider") && hasValue) {
            options.provider = fromRawValue<Provider>(arguments[++i]);
            if (!options.provider)
                return QStringLiteral("--provider takes claude or codex");
        } else if (arg.startsWith(QLatin1Char('-'))) {
            return QStringLiteral("unknown option '%1'").arg(arg);
        } else {
            positional.append(arg);
        }
    }
    const QString action = positional.isEmpty() ? QStringLiteral("list") : positional.takeFirst();
    if (action == QLatin1String("list")) {
        if (!positional.isEmpty() || !options.label.isEmpty() || options.provider)
            return QStringLiteral("accounts list takes only --json");
        return options;
    }
    if (action != QLatin1String("add") && action != QLatin1String("remove"))
        return QStringLiteral("accounts takes list, add PATH or remove PATH");
    if (positional.size() != 1)
        return QStringLiteral("accounts %1 takes one folder").arg(action);
    if (options.json || (action == QLatin1String("remove") && !options.label.isEmpty()))
        return QStringLiteral("accounts %1 does not take that option").arg(action);
    options.action = action == QLatin1String("add") ? Options::Action::add : Options::Action::remove;
    options.folder = QDir::cleanPath(QFileInfo(positional.front()).absoluteFilePath());
    return options;
}

int run(const Options& options)
{
    switch (options.action) {
    case Options::Action::add:
        return add(options);
    case Options::Action::remove:
        return remove(options);
    case Options::Action::list:
        break;
    }
    return list(options.json);
}

} // namespace AccountsCommand

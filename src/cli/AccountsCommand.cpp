#include "cli/AccountsCommand.h"

#include "core/io/AccountList.h"
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

// "~/.claude-work" for a folder under HOME, the full path elsewhere.
QString shown(const QString& folder)
{
    const QString home = QDir::homePath();
    return folder.startsWith(home + QLatin1Char('/')) ? QStringLiteral("~") + folder.mid(home.size())
                                                      : folder;
}

// Which assistant a folder belongs to, from the files each keeps there, else from its name.
std::optional<Provider> providerOf(const QString& folder)
{
    const auto has = [&](const char* name) { return QFileInfo::exists(folder + QLatin1Char('/') + name); };
    if (has(".credentials.json") || has(".claude.json"))
        return Provider::claude;
    if (has("auth.json") || has("config.toml"))
        return Provider::codex;
    const QString name = QFileInfo(folder).fileName();
    if (name.contains(QLatin1String("claude")))
        return Provider::claude;
    if (name.contains(QLatin1String("codex")))
        return Provider::codex;
    return std::nullopt;
}

int fail(const QString& message, int status)
{
    QTextStream(stderr) << "tallyvane: " << message << '\n';
    return status;
}

int list(bool json)
{
    const QList<AccountFolder> mine = AccountList::load();
    QJsonArray rows;
    QTextStream out(stdout);
    if (!json)
        out << "Assistant    Label        Folder                       Account        Watched\n";
    for (Provider provider : allProviders) {
        for (const AccountFolder& f : AccountFolders::discover(provider, mine)) {
            const auto who = AccountFolders::identity(f);
            const QString key = who ? AccountFolders::key(provider, who->accountId) : QString();
            const QString label = AccountFolders::label(f, who);
            if (json) {
                rows.append(
                    QJsonObject{{QStringLiteral("provider"), rawValue(provider)},
                                {QStringLiteral("key"), key.isEmpty() ? QJsonValue() : QJsonValue(key)},
                                {QStringLiteral("label"), label},
                                {QStringLiteral("folder"), f.folder},
                                {QStringLiteral("default"), f.isDefault},
                                {QStringLiteral("added"), f.added},
                                {QStringLiteral("enabled"), f.enabled}});
                continue;
            }
            out << displayName(provider).leftJustified(12) << ' ' << label.leftJustified(12) << ' '
                << shown(f.folder).leftJustified(28) << ' '
                << (key.isEmpty() ? QStringLiteral("not signed in") : key).leftJustified(14) << ' '
                << (f.enabled ? "on" : "off")
                << (f.isDefault ? "  default"
                    : f.added   ? "  added"
                                : "")
                << '\n';
        }
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
    if (!QFileInfo(options.folder).isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(options.folder), 2);
    const auto provider = options.provider ? options.provider : providerOf(options.folder);
    if (!provider)
        return fail(
            QStringLiteral("cannot tell whose folder %1 is: add --provider claude or --provider codex")
                .arg(shown(options.folder)),
            2);
    QList<AccountFolder> mine = AccountList::load();
    const auto same = [&](const AccountFolder& f) {
        return f.provider == *provider && f.folder == options.folder;
    };
    auto entry = std::find_if(mine.begin(), mine.end(), same);
    if (entry == mine.end()) {
        mine.append(AccountFolder{*provider, options.folder, {}, false, true, true});
        entry = mine.end() - 1;
    }
    entry->enabled = true;
    if (!options.label.isEmpty())
        entry->label = options.label;
    if (!saved(mine))
        return 1;
    const auto all = AccountFolders::discover(*provider, mine);
    const auto it = std::find_if(all.cbegin(), all.cend(), same);
    QTextStream(stdout) << "Tallyvane watches " << shown(options.folder) << " as " << displayName(*provider)
                        << " · " << AccountFolders::label(*it, AccountFolders::identity(*it)) << ".\n";
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

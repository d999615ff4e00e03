#include "app/AccountSettings.h"

#include "core/io/AccountList.h"
#include "core/text/TerminalText.h"
#include "providers/AccountFolders.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

using AccountSettings::Outcome;

Outcome saved(const QList<AccountFolder>& mine, const QString& done)
{
    QString error;
    if (AccountList::save(mine, &error))
        return {0, done};
    return {1, QStringLiteral("could not write %1: %2").arg(AccountList::path(), error)};
}

// The user's entry for a folder, made when it has none yet: a found folder keeps its place in the file.
AccountFolder& entryOf(QList<AccountFolder>& mine, Provider provider, const QString& folder)
{
    const auto it = std::find_if(mine.begin(), mine.end(), [&](const AccountFolder& f) {
        return f.provider == provider && f.folder == folder;
    });
    if (it != mine.end())
        return *it;
    mine.append(AccountFolder{provider, folder, {}, false, true, true});
    return mine.last();
}

std::optional<AccountFolder> found(Provider provider, const QString& folder, const QList<AccountFolder>& mine)
{
    for (const AccountFolder& f : AccountFolders::discover(provider, mine))
        if (f.folder == folder)
            return f;
    return std::nullopt;
}

} // namespace

namespace AccountSettings {

QString readingKey(const Entry& entry)
{
    return entry.key.isEmpty()
               ? AccountFolders::key(entry.folder.provider, QStringLiteral("folder:") + entry.folder.folder)
               : entry.key;
}

QList<Entry> list()
{
    const QList<AccountFolder> mine = AccountList::load();
    QList<Entry> entries;
    for (Provider provider : allProviders) {
        for (const AccountFolder& f : AccountFolders::discover(provider, mine)) {
            const auto who = AccountFolders::identity(f);
            entries.append(Entry{f, who ? AccountFolders::key(provider, who->accountId) : QString(),
                                 AccountFolders::label(f, who)});
        }
    }
    return entries;
}

Outcome add(const QString& folder, std::optional<Provider> provider, const QString& label)
{
    if (!QFileInfo(folder).isDir())
        return {2, QStringLiteral("%1 is not a folder").arg(folder)};
    if (!provider)
        provider = providerOf(folder);
    if (!provider)
        return {2, QStringLiteral("cannot tell whose folder %1 is").arg(shown(folder))};
    QList<AccountFolder> mine = AccountList::load();
    AccountFolder& entry = entryOf(mine, *provider, folder);
    entry.enabled = true;
    if (!label.isEmpty())
        entry.label = label;
    const AccountFolder watched = found(*provider, folder, mine).value_or(entry);
    return saved(mine, QStringLiteral("Tallyvane watches %1 as %2 \u00b7 %3.")
                           .arg(shown(folder), displayName(*provider),
                                AccountFolders::label(watched, AccountFolders::identity(watched))));
}

Outcome setLabel(Provider provider, const QString& folder, const QString& label)
{
    QList<AccountFolder> mine = AccountList::load();
    const auto known = found(provider, folder, mine);
    if (!known)
        return {2, QStringLiteral("%1 is not an account folder Tallyvane watches").arg(shown(folder))};
    AccountFolder& entry = entryOf(mine, provider, folder);
    entry.enabled = known->enabled;
    entry.label = TerminalText::name(label.trimmed());
    return saved(mine, {});
}

Outcome setEnabled(Provider provider, const QString& folder, bool enabled)
{
    QList<AccountFolder> mine = AccountList::load();
    const auto known = found(provider, folder, mine);
    if (!known)
        return {2, QStringLiteral("%1 is not an account folder Tallyvane watches").arg(shown(folder))};
    if (known->isDefault)
        return {2, QStringLiteral("%1 is %2's own folder; turn %2 off in Providers instead")
                       .arg(shown(folder), displayName(provider))};
    entryOf(mine, provider, folder).enabled = enabled;
    return saved(mine, {});
}

void addTranscriptRoots(UsageHistory::Options& options)
{
    const auto rootsOf = [](const AccountFolder& f) {
        return f.provider == Provider::claude ? QStringList{f.folder + QStringLiteral("/projects")}
                                              : QStringList{f.folder + QStringLiteral("/sessions"),
                                                            f.folder + QStringLiteral("/archived_sessions")};
    };
    const QList<Entry> entries = list();
    for (Provider provider : allProviders) {
        const auto standard = std::find_if(entries.cbegin(), entries.cend(), [&](const Entry& e) {
            return e.folder.provider == provider && e.folder.isDefault;
        });
        QStringList& defaults = provider == Provider::claude ? options.claudeRoots : options.codexRoots;
        for (const Entry& e : entries) {
            if (e.folder.provider != provider || e.folder.isDefault || !e.folder.enabled)
                continue;
            const QString key = readingKey(e);
            const bool sameAsDefault =
                standard != entries.cend() && !e.key.isEmpty() && e.key == standard->key;
            if (sameAsDefault) {
                for (const QString& root : rootsOf(e.folder))
                    if (!defaults.contains(root))
                        defaults.append(root);
                continue;
            }
            auto account =
                std::find_if(options.accountRoots.begin(), options.accountRoots.end(),
                             [&](const UsageHistory::AccountRoots& a) { return a.account == key; });
            if (account == options.accountRoots.end()) {
                options.accountRoots.push_back({provider, key, {}});
                account = options.accountRoots.end() - 1;
            }
            account->roots += rootsOf(e.folder);
        }
    }
}

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

QString shown(const QString& folder)
{
    const QString home = QDir::homePath();
    return folder.startsWith(home + QLatin1Char('/')) ? QStringLiteral("~") + folder.mid(home.size())
                                                      : folder;
}

} // namespace AccountSettings

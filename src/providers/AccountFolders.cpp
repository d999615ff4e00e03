#include "providers/AccountFolders.h"

#include "core/io/CodexHome.h"
#include "core/io/FileIo.h"
#include "core/text/TerminalText.h"
#include "providers/claude/ClaudePaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

// Claude Code's .claude.json keeps every project's history too; one of a few MB is common.
constexpr qint64 maxIdentityFile = 32 * 1024 * 1024;

QString prefixOf(Provider provider)
{
    return provider == Provider::claude ? QStringLiteral(".claude-") : QStringLiteral(".codex-");
}

QString credentialOf(Provider provider)
{
    return provider == Provider::claude ? QStringLiteral(".credentials.json") : QStringLiteral("auth.json");
}

QJsonObject readObject(const QString& path)
{
    const auto bytes = FileIo::readRegularFile(path, maxIdentityFile);
    return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
}

QString emailName(const QString& email)
{
    return TerminalText::name(email.section(QLatin1Char('@'), 0, 0));
}

// Claude Code keeps the account beside the folder it was started with: <folder>/.claude.json under
// CLAUDE_CONFIG_DIR, ~/.claude.json for ~/.claude without it.
std::optional<AccountFolders::Identity> claudeIdentity(const QString& folder)
{
    QJsonObject config = readObject(folder + QStringLiteral("/.claude.json"));
    if (config.isEmpty() && folder == QDir::homePath() + QStringLiteral("/.claude"))
        config = readObject(QDir::homePath() + QStringLiteral("/.claude.json"));
    const QJsonObject account = config.value(QLatin1StringView("oauthAccount")).toObject();
    const QString id = account.value(QLatin1StringView("accountUuid")).toString();
    if (id.isEmpty())
        return std::nullopt;
    return AccountFolders::Identity{id,
                                    emailName(account.value(QLatin1StringView("emailAddress")).toString())};
}

// The claims of a JWT, unverified: only its e-mail and subject are read, to tell accounts apart.
QJsonObject claimsOf(const QString& token)
{
    const QByteArray payload = token.section(QLatin1Char('.'), 1, 1).toLatin1();
    const auto decoded = QByteArray::fromBase64Encoding(payload, QByteArray::Base64UrlEncoding |
                                                                     QByteArray::OmitTrailingEquals);
    return decoded ? QJsonDocument::fromJson(*decoded).object() : QJsonObject();
}

std::optional<AccountFolders::Identity> codexIdentity(const QString& folder)
{
    const QJsonObject tokens =
        readObject(folder + QStringLiteral("/auth.json")).value(QLatin1StringView("tokens")).toObject();
    const QJsonObject claims = claimsOf(tokens.value(QLatin1StringView("id_token")).toString());
    QString id = tokens.value(QLatin1StringView("account_id")).toString();
    if (id.isEmpty())
        id = claims.value(QLatin1StringView("sub")).toString();
    if (id.isEmpty())
        return std::nullopt;
    return AccountFolders::Identity{id, emailName(claims.value(QLatin1StringView("email")).toString())};
}

} // namespace

namespace AccountFolders {

QList<AccountFolder> discover(Provider provider, const QList<AccountFolder>& added)
{
    QList<AccountFolder> found;
    AccountFolder standard;
    standard.provider = provider;
    standard.folder = provider == Provider::claude ? ClaudePaths::configDirectory() : CodexHome::path();
    standard.isDefault = true;
    found.append(standard);

    const QDir home = QDir::home();
    const auto names = home.entryList({prefixOf(provider) + QLatin1Char('*')},
                                      QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) {
        const QString folder = QDir::cleanPath(home.filePath(name));
        if (folder != standard.folder &&
            QFileInfo(folder + QLatin1Char('/') + credentialOf(provider)).isFile()) {
            AccountFolder other;
            other.provider = provider;
            other.folder = folder;
            found.append(other);
        }
    }

    for (const AccountFolder& mine : added) {
        if (mine.provider != provider || !QDir::isAbsolutePath(mine.folder))
            continue;
        const QString folder = QDir::cleanPath(mine.folder);
        const auto same = [&](const AccountFolder& f) { return f.folder == folder; };
        auto it = std::find_if(found.begin(), found.end(), same);
        if (it == found.end()) {
            found.append(AccountFolder{provider, folder, {}, false, false, true});
            it = found.end() - 1;
        }
        it->label = TerminalText::name(mine.label);
        it->added = true;
        it->enabled = mine.enabled;
    }
    return found;
}

std::optional<Identity> identity(const AccountFolder& folder)
{
    return folder.provider == Provider::claude ? claudeIdentity(folder.folder) : codexIdentity(folder.folder);
}

QString key(Provider provider, const QString& accountId)
{
    const QByteArray digest = QCryptographicHash::hash(
        (rawValue(provider) + QLatin1Char(':') + accountId).toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(8));
}

QList<Account> accounts(Provider provider, const QList<AccountFolder>& added)
{
    QList<Account> all;
    for (const AccountFolder& folder : discover(provider, added)) {
        const std::optional<Identity> who = identity(folder);
        const QString id = who ? who->accountId : QStringLiteral("folder:") + folder.folder;
        Account account{folder, key(provider, id), label(folder, who)};
        const bool known =
            std::any_of(all.cbegin(), all.cend(), [&](const Account& a) { return a.key == account.key; });
        // The default folder holds its place even when off: an added folder of the same account is not read.
        if (!known && (folder.enabled || folder.isDefault))
            all.append(std::move(account));
    }
    return all;
}

QString label(const AccountFolder& folder, const std::optional<Identity>& identity)
{
    if (!folder.label.isEmpty())
        return folder.label;
    const QString name = QFileInfo(folder.folder).fileName();
    if (name.startsWith(prefixOf(folder.provider)) && name.size() > prefixOf(folder.provider).size())
        return TerminalText::name(name.mid(prefixOf(folder.provider).size()));
    if (identity && !identity->emailName.isEmpty())
        return identity->emailName;
    return folder.isDefault ? QStringLiteral("default") : TerminalText::name(name);
}

} // namespace AccountFolders

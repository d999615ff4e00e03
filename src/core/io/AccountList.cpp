#include "core/io/AccountList.h"

#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/text/TerminalText.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace AccountList {

QString path()
{
    return LocalFileStore::path(QStringLiteral("accounts.json"));
}

QByteArray encode(const QList<AccountFolder>& folders)
{
    QJsonArray entries;
    for (const AccountFolder& f : folders) {
        QJsonObject entry{{QStringLiteral("provider"), rawValue(f.provider)},
                          {QStringLiteral("folder"), f.folder},
                          {QStringLiteral("enabled"), f.enabled}};
        if (!f.label.isEmpty())
            entry.insert(QStringLiteral("label"), f.label);
        entries.append(entry);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("accounts"), entries}}).toJson(QJsonDocument::Indented);
}

QList<AccountFolder> decode(const QByteArray& bytes)
{
    QList<AccountFolder> folders;
    const QJsonArray entries =
        QJsonDocument::fromJson(bytes).object().value(QLatin1StringView("accounts")).toArray();
    for (const QJsonValue& value : entries) {
        const QJsonObject entry = value.toObject();
        const auto provider = fromRawValue<Provider>(entry.value(QLatin1StringView("provider")).toString());
        const QString folder = entry.value(QLatin1StringView("folder")).toString();
        if (!provider || !QDir::isAbsolutePath(folder))
            continue;
        AccountFolder f;
        f.provider = *provider;
        f.folder = QDir::cleanPath(folder);
        f.label = TerminalText::name(entry.value(QLatin1StringView("label")).toString());
        f.added = true;
        f.enabled = entry.value(QLatin1StringView("enabled")).toBool(true);
        folders.append(f);
    }
    return folders;
}

QList<AccountFolder> load()
{
    const auto bytes = FileIo::readOwnFile(path(), maxFile);
    return bytes ? decode(*bytes) : QList<AccountFolder>();
}

bool save(const QList<AccountFolder>& folders, QString* error)
{
    LocalFileStore::ensureDirectories();
    return AtomicFile::write(path(), encode(folders), error);
}

} // namespace AccountList

#include "core/io/SettingsStore.h"

#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>

SettingsStore::SettingsStore() : SettingsStore(LocalFileStore::settingsPath()) {}

SettingsStore::SettingsStore(QString url) : m_url(std::move(url))
{
    LocalFileStore::ensureDirectories();
}

QByteArray SettingsStore::encode(const AppSettings& settings)
{
    // QJsonObject keeps its keys sorted, so every level comes out in key order.
    return QJsonDocument(settings.toJson()).toJson(QJsonDocument::Indented);
}

std::optional<AppSettings> SettingsStore::decode(QByteArrayView bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return AppSettings::fromJson(document.object());
}

bool SettingsStore::save(const AppSettings& settings) const
{
    return AtomicFile::write(m_url, encode(settings));
}

SettingsStore::Contents SettingsStore::read(const QString& url)
{
    // Non-blocking, so a FIFO standing in for the file cannot hang the start; what is not a regular file (a
    // link included) is not read at all.
    const FileIo::Descriptor fd(FileIo::openOwn(url, O_RDONLY));
    if (!fd.isOpen() && (errno == EINVAL || errno == ELOOP))
        return {Contents::Kind::notRegular, {}};
    struct stat info = {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0)
        return {Contents::Kind::unreadable, {}};
    if (!S_ISREG(info.st_mode))
        return {Contents::Kind::notRegular, {}};
    if (info.st_size > maxFileBytes)
        return {Contents::Kind::undecodable, {}};
    // One byte past the limit, so a file that grew meanwhile is caught too.
    const std::optional<QByteArray> bytes = FileIo::readAt(fd.get(), 0, maxFileBytes + 1);
    if (!bytes)
        return {Contents::Kind::unreadable, {}};
    if (bytes->size() > maxFileBytes)
        return {Contents::Kind::undecodable, {}};
    if (std::optional<AppSettings> settings = decode(*bytes))
        return {Contents::Kind::decoded, *settings};
    return {Contents::Kind::undecodable, {}};
}

AppSettings SettingsStore::peek(const QString& url)
{
    return read(url).settings;
}

AppSettings SettingsStore::load() const
{
    const Contents contents = read(m_url);
    switch (contents.kind) {
    case Contents::Kind::decoded:
    case Contents::Kind::unreadable:
        break;
    case Contents::Kind::notRegular:
        AppLogger::shared().warn(QStringLiteral("Settings file is not a regular file; using defaults"));
        break;
    case Contents::Kind::undecodable:
        AppLogger::shared().warn(QStringLiteral("Settings decode failed; using defaults"));
        // Keep the unreadable text (often a hand edit with a typo) rather than let the next save destroy it;
        // rename() replaces an older copy in one step.
        std::rename(QFile::encodeName(m_url).constData(), QFile::encodeName(corruptUrl()).constData());
        break;
    }
    return contents.settings;
}

bool SettingsStore::demoRequested(const QStringList& arguments)
{
    return arguments.contains(QStringLiteral("--demo"));
}

AppSettings SettingsStore::appliedDemoOnLoad(AppSettings settings, bool demoRequested)
{
    if (demoRequested) {
        settings.demoMode = true;
        settings.hasOnboarded = true;
    }
    return settings;
}

AppSettings SettingsStore::appliedDemoOnSave(AppSettings settings, bool demoRequested)
{
    if (demoRequested)
        settings.demoMode = false;
    return settings;
}

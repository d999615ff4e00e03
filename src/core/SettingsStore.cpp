#include "core/SettingsStore.h"

#include "core/AppLogger.h"
#include "core/LocalFileStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QSaveFile>

#include <cstdio>

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
    QSaveFile file(m_url);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = encode(settings);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

AppSettings SettingsStore::load() const
{
    QFile file(m_url);
    if (!file.open(QIODevice::ReadOnly))
        return AppSettings{};
    const QByteArray bytes = file.readAll();
    file.close();
    if (std::optional<AppSettings> settings = decode(bytes))
        return *settings;
    AppLogger::shared().warn(QStringLiteral("Settings decode failed; using defaults"));
    // Keep the unreadable text (often a hand edit with a typo) rather than let the next save destroy it;
    // rename() replaces an older copy in one step.
    std::rename(QFile::encodeName(m_url).constData(), QFile::encodeName(corruptUrl()).constData());
    return AppSettings{};
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

#include "core/LocalFileStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace LocalFileStore {

QString baseDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Tallyvane");
}

void ensureDirectories()
{
    const QString base = baseDirectory();
    QDir().mkpath(base);
    QDir().mkpath(base + QStringLiteral("/logs"));
    const QString snapshots = snapshotsPath();
    if (!QFile::exists(snapshots)) {
        QFile file(snapshots);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            file.close();
    }
}

QString path(const QString& fileName)
{
    return baseDirectory() + QLatin1Char('/') + fileName;
}

QString snapshotsPath()
{
    return path(QStringLiteral("snapshots.ndjson"));
}

QString settingsPath()
{
    return path(QStringLiteral("settings.json"));
}

QString logPath()
{
    return path(QStringLiteral("logs/app.log"));
}

} // namespace LocalFileStore

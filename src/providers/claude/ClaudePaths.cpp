#include "providers/claude/ClaudePaths.h"

#include <QDir>

namespace ClaudePaths {

QString configDirectory()
{
    const QString configured = qEnvironmentVariable("CLAUDE_CONFIG_DIR");
    if (!configured.isEmpty())
        return QDir::cleanPath(configured);
    return QDir::homePath() + QStringLiteral("/.claude");
}

QString settingsPath()
{
    return configDirectory() + QStringLiteral("/settings.json");
}

QString credentialsPath()
{
    return configDirectory() + QStringLiteral("/.credentials.json");
}

} // namespace ClaudePaths

#include "core/io/HomeFolder.h"

#include <QDir>

namespace HomeFolder {

QString fromEnvironment(const char* variable, const QString& fallback)
{
    const QString set = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(set))
        return QDir::cleanPath(set);
    return QDir::homePath() + QLatin1Char('/') + fallback;
}

} // namespace HomeFolder

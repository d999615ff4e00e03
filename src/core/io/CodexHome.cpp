#include "core/io/CodexHome.h"

#include <QDir>

namespace CodexHome {

QString path()
{
    const QString set = qEnvironmentVariable("CODEX_HOME");
    // A relative one would depend on the folder Tallyvane happens to be started from.
    if (QDir::isAbsolutePath(set))
        return QDir::cleanPath(set);
    return QDir::homePath() + QStringLiteral("/.codex");
}

} // namespace CodexHome

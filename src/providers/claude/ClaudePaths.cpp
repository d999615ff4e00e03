#include "providers/claude/ClaudePaths.h"

#include "core/io/HomeFolder.h"
#include "core/io/LocalFileStore.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace ClaudePaths {

QString configDirectory()
{
    return HomeFolder::fromEnvironment("CLAUDE_CONFIG_DIR", QStringLiteral(".claude"));
}

QString settingsPath()
{
    return configDirectory() + QStringLiteral("/settings.json");
}

QString credentialsPath()
{
    return configDirectory() + QStringLiteral("/.credentials.json");
}

std::optional<QString> ownershipProblem()
{
    if (std::optional<QString> problem = LocalFileStore::ownershipProblem())
        return problem;
    const QString folder = configDirectory();
    struct stat info = {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0) {
        // The bridge installer would make it, as this user, in a folder of another.
        if (const std::optional<LocalFileStore::ForeignFolder> parent = LocalFileStore::foreignParent(folder))
            return QStringLiteral("Claude's folder would be made in %1, which belongs to another user (uid "
                                  "%2); Tallyvane will not touch it.")
                .arg(parent->path)
                .arg(parent->owner);
        return std::nullopt;
    }
    if (info.st_uid != ::geteuid())
        return QStringLiteral("Claude's folder %1 belongs to another user (uid %2); Tallyvane will not "
                              "touch it.")
            .arg(folder)
            .arg(info.st_uid);
    return std::nullopt;
}

} // namespace ClaudePaths

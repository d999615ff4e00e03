#include "core/LocalFileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalFileStore {

namespace {

// Creates `folder` 0700 (its parents the usual way) and closes an existing one to others.
void makePrivateFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), privateFolderMode) != 0 && errno == ENOENT) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        ::mkdir(name.constData(), privateFolderMode);
    }
    struct stat info = {};
    if (::lstat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
        (info.st_mode & 077) != 0)
        ::chmod(name.constData(), privateFolderMode);
}

// Takes group and other permissions off the regular files directly in `folder` (links are not followed).
void tightenFiles(const QString& folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
        ::close(fd);
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        struct stat info = {};
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == ::getuid() && (info.st_mode & 077) != 0 &&
            ::fchmodat(fd, entry->d_name, info.st_mode & 07700, 0) != 0)
            // Not through the app log, which lives in this folder and may be what is being tightened.
            qWarning("tallyvane: could not make %s/%s private: %s", qPrintable(folder), entry->d_name,
                     std::strerror(errno));
    }
    ::closedir(listing);
}

} // namespace

QString baseDirectory()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Tallyvane");
}

void ensureDirectories()
{
    if (ownershipProblem())
        return;
    const QString base = baseDirectory();
    // An existing folder is tightened once per process and folder; later calls only create what is missing.
    static QMutex mutex;
    static QStringList tightened;
    bool first = false;
    {
        const QMutexLocker lock(&mutex);
        first = !tightened.contains(base);
        if (first)
            tightened.append(base);
    }
    makePrivateFolder(base);
    makePrivateFolder(base + QStringLiteral("/logs"));
    if (first) {
        tightenFiles(base);
        tightenFiles(base + QStringLiteral("/logs"));
    }
    const int fd = ::open(QFile::encodeName(snapshotsPath()).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, privateFileMode);
    if (fd >= 0)
        ::close(fd);
}

std::optional<ForeignFolder> foreignParent(const QString& missing)
{
    struct stat info = {};
    QString parent = QFileInfo(missing).absolutePath();
    while (::stat(QFile::encodeName(parent).constData(), &info) != 0 && parent != QLatin1String("/"))
        parent = QFileInfo(parent).absolutePath();
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return ForeignFolder{parent, info.st_uid};
    return std::nullopt;
}

std::optional<QString> ownershipProblem()
{
    const QString base = baseDirectory();
    struct stat info = {};
    if (::lstat(QFile::encodeName(base).constData(), &info) != 0) {
        if (const std::optional<ForeignFolder> parent = foreignParent(base))
            return QStringLiteral("The data folder would be made in %1, which belongs to another user (uid "
                                  "%2); Tallyvane will not use it.")
                .arg(parent->path)
                .arg(parent->owner);
        return std::nullopt;
    }
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("The data folder %1 is not a folder; Tallyvane will not use it.").arg(base);
    if (info.st_uid != ::geteuid())
        return QStringLiteral(
                   "The data folder %1 belongs to another user (uid %2); Tallyvane will not use it.")
            .arg(base)
            .arg(info.st_uid);
    return std::nullopt;
}

void makeFolder(const QString& folder)
{
    const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    const QString base = QDir::cleanPath(baseDirectory());
    if (target != base && !target.startsWith(base + QLatin1Char('/'))) {
        if (!QFileInfo(target).isDir())
            makePrivateFolder(target);
        return;
    }
    makePrivateFolder(base);
    QString below = base;
    for (const QString& part : target.mid(base.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        below += QLatin1Char('/') + part;
        makePrivateFolder(below);
    }
}

QString runtimeDirectory()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    struct stat info = {};
    if (runtime.startsWith('/') && ::stat(runtime.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
        info.st_uid == ::getuid() && (info.st_mode & 077) == 0)
        return QDir::cleanPath(QFile::decodeName(runtime));
    const QString folder = baseDirectory() + QStringLiteral("/run");
    if (!ownershipProblem()) {
        makePrivateFolder(baseDirectory());
        makePrivateFolder(folder);
    }
    return folder;
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

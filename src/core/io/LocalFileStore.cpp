#include "core/io/LocalFileStore.h"

#include "core/io/HomeFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <climits>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalFileStore {

namespace {

// Takes group and other permissions off `folder` when it is a folder of this user's.
void closeFolder(const QByteArray& name)
{
    struct stat info = {};
    if (::lstat(name.constData(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
        (info.st_mode & 077) != 0)
        ::chmod(name.constData(), privateFolderMode);
}

// Creates `folder` 0700 (its parents the usual way) and closes an existing one to others.
void makePrivateFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), privateFolderMode) != 0 && errno == ENOENT) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        ::mkdir(name.constData(), privateFolderMode);
    }
    closeFolder(name);
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

// Tightens the files of the data folder `base` and of its "logs" once per process and folder.
void tightenFilesOnce(const QString& base)
{
    static QMutex mutex;
    static QStringList tightened;
    {
        const QMutexLocker lock(&mutex);
        if (tightened.contains(base))
            return;
        tightened.append(base);
    }
    tightenFiles(base);
    tightenFiles(base + QStringLiteral("/logs"));
}

// A folder on the way to the data folder that another account can change, so as to swap what lies below.
struct UnsafeFolder
{
    QString path;
    std::optional<uid_t> foreignOwner; // else: writable by others
};

bool trustedOwner(uid_t owner)
{
    return owner == ::geteuid() || owner == 0;
}

// Walks `path` entry by entry as the kernel resolves it, links included, to the first folder that another
// account owns or may write to. A sticky folder (/tmp) passes where the entry below it is this user's own
// (or root's).
// The entry at `path` itself is the caller's to check.
std::optional<UnsafeFolder> unsafeFolderOn(const QString& path)
{
    QStringList pending = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = QStringLiteral("/");
    struct stat folder = {};
    if (::lstat("/", &folder) != 0)
        return std::nullopt;
    const auto openToOthers = [&](const struct stat* below) {
        const bool shared = (folder.st_mode & 022) != 0;
        const bool sticky = (folder.st_mode & S_ISVTX) != 0;
        // Below a sticky folder only an entry's owner can swap it: whose it is, the next check asks.
        return shared && !(sticky && below != nullptr);
    };
    int links = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            current = QFileInfo(current).path();
            if (::lstat(QFile::encodeName(current).constData(), &folder) != 0)
                return std::nullopt;
            continue;
        }
        const QString next = (current == QLatin1String("/") ? QString() : current) + QLatin1Char('/') + part;
        struct stat entry = {};
        if (::lstat(QFile::encodeName(next).constData(), &entry) != 0)
            return openToOthers(nullptr) ? std::optional(UnsafeFolder{current, {}}) : std::nullopt;
        if (openToOthers(&entry))
            return UnsafeFolder{current, {}};
        if (pending.isEmpty() && !S_ISLNK(entry.st_mode))
            return std::nullopt;
        if (!trustedOwner(entry.st_uid))
            return UnsafeFolder{next, entry.st_uid};
        if (S_ISLNK(entry.st_mode)) {
            QByteArray raw(PATH_MAX, Qt::Uninitialized);
            const ssize_t length = ::readlink(QFile::encodeName(next).constData(), raw.data(), raw.size());
            if (length <= 0 || ++links > 40)
                return std::nullopt; // resolving fails later on its own
            raw.truncate(length);
            pending = QFile::decodeName(raw).split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
            if (raw.startsWith('/')) {
                current = QStringLiteral("/");
                ::lstat("/", &folder);
            }
            continue;
        }
        current = next;
        folder = entry;
    }
    return std::nullopt;
}

} // namespace

QString baseDirectory()
{
    // A relative value is not a valid XDG folder.
    return HomeFolder::fromEnvironment("XDG_DATA_HOME", QStringLiteral(".local/share")) +
           QStringLiteral("/Tallyvane");
}

void ensureDirectories()
{
    if (ownershipProblem())
        return;
    const QString base = baseDirectory();
    makePrivateFolder(base);
    makePrivateFolder(base + QStringLiteral("/logs"));
    tightenFilesOnce(base);
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

void tightenExisting()
{
    const QString base = baseDirectory();
    if (ownershipProblem() || !QFileInfo(base).isDir())
        return;
    closeFolder(QFile::encodeName(base));
    closeFolder(QFile::encodeName(base + QStringLiteral("/logs")));
    tightenFilesOnce(base);
}

std::optional<QString> ownershipProblem()
{
    const QString base = QDir::cleanPath(QFileInfo(baseDirectory()).absoluteFilePath());
    struct stat info = {};
    const bool exists = ::lstat(QFile::encodeName(base).constData(), &info) == 0;
    // Whoever may change a folder above could swap the data folder (and the bridge script in it) for theirs.
    if (const std::optional<UnsafeFolder> unsafe = unsafeFolderOn(base)) {
        const QString where = exists
                                  ? QStringLiteral("The data folder %1 is in %2").arg(base, unsafe->path)
                                  : QStringLiteral("The data folder would be made in %1").arg(unsafe->path);
        if (unsafe->foreignOwner)
            return where +
                   QStringLiteral(", which belongs to another user (uid %1); Tallyvane will not use it.")
                       .arg(*unsafe->foreignOwner);
        return where + QStringLiteral(", which other users may write to; Tallyvane will not use it.");
    }
    if (!exists)
        return std::nullopt;
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

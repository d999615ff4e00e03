#include "core/AtomicFile.h"

#include "core/FileIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Follows the links at `path` as resolveLinks does, but stops at one that belongs to another user.
std::optional<QString> resolveOwnLinks(const QString& path, QString* why)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < 40; ++hop) {
        struct stat link = {};
        if (::lstat(QFile::encodeName(current).constData(), &link) != 0 || !S_ISLNK(link.st_mode))
            break;
        if (link.st_uid != ::geteuid()) {
            *why = QStringLiteral("%1 is a symbolic link that belongs to another user; it is not followed")
                       .arg(current);
            return std::nullopt;
        }
        current = QFileInfo(current).symLinkTarget();
    }
    return current;
}

} // namespace

namespace AtomicFile {

QString resolveLinks(const QString& path)
{
    QString current = QFileInfo(path).absoluteFilePath();
    // A loop of links ends here rather than spinning; the rename then fails on the last link's target.
    for (int hop = 0; hop < 40; ++hop) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            break;
        current = info.symLinkTarget();
    }
    return current;
}

bool write(const QString& path, QByteArrayView bytes, QString* error, const Options& options)
{
    const auto fill = [bytes](int fd) { return FileIo::writeFully(fd, bytes); };
    return write(path, fill, error, options);
}

bool write(const QString& path, const std::function<bool(int fd)>& fill, QString* error,
           const Options& options)
{
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };

    QString target;
    if (options.followForeignLinks) {
        target = resolveLinks(path);
    } else {
        QString why;
        const std::optional<QString> own = resolveOwnLinks(path, &why);
        if (!own)
            return fail(why);
        target = *own;
    }
    const QByteArray targetName = QFile::encodeName(target);
    mode_t mode = 0;
    struct stat existing = {};
    if (::lstat(targetName.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return fail(QStringLiteral("%1 is not a regular file").arg(target));
        mode = existing.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = 0600;
    } else {
        return fail(systemError(errno));
    }
    if (options.mode)
        mode = *options.mode;

    const QFileInfo targetInfo(target);
    const QByteArray folder = QFile::encodeName(targetInfo.absolutePath());
    QByteArray temporary = folder + "/." + QFile::encodeName(targetInfo.fileName()) + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(systemError(errno));

    int failure = 0;
    errno = 0;
    if (::fchmod(fd, mode) != 0 || !fill(fd) || (options.durable && ::fsync(fd) != 0))
        failure = errno ? errno : EIO;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(temporary.constData(), targetName.constData()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(temporary.constData());
        return fail(systemError(failure));
    }

    if (!options.durable)
        return true;
    // The rename is durable only once the folder's entry is on disk too.
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

} // namespace AtomicFile

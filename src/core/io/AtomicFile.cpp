#include "core/io/AtomicFile.h"

#include "core/io/FileIo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Follows the links on the way to `path`, each folder's and the last entry's, as the kernel would, but stops
// at one that belongs to another user (root aside): the write would land wherever that user pointed it.
std::optional<QString> resolveOwnLinks(const QString& path, QString* why)
{
    QStringList pending = QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    int hops = 0;
    while (!pending.isEmpty()) {
        const QString part = pending.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            current.truncate(std::max<qsizetype>(current.lastIndexOf(QLatin1Char('/')), 0));
            continue;
        }
        const QString next = current + QLatin1Char('/') + part;
        struct stat link = {};
        if (::lstat(QFile::encodeName(next).constData(), &link) != 0 || !S_ISLNK(link.st_mode) ||
            ++hops > 40) {
            // What is missing or no link is taken as it stands; so is a loop of links, which the rename
            // then fails on.
            current = next;
            continue;
        }
        if (link.st_uid != ::geteuid() && link.st_uid != 0) {
            *why = QStringLiteral("%1 is a symbolic link that belongs to another user; it is not followed")
                       .arg(next);
            return std::nullopt;
        }
        QByteArray raw(PATH_MAX, Qt::Uninitialized);
        const ssize_t length = ::readlink(QFile::encodeName(next).constData(), raw.data(), raw.size());
        if (length <= 0) {
            current = next;
            continue;
        }
        raw.truncate(length);
        pending = QFile::decodeName(raw).split(QLatin1Char('/'), Qt::SkipEmptyParts) + pending;
        if (raw.startsWith('/'))
            current.clear();
    }
    return current.isEmpty() ? QStringLiteral("/") : current;
}

std::optional<QString> targetOf(const QString& path, bool followForeignLinks, QString* why)
{
    if (followForeignLinks)
        return AtomicFile::resolveLinks(path);
    return resolveOwnLinks(path, why);
}

QByteArray temporaryPattern(const QString& target)
{
    const QFileInfo info(target);
    return QFile::encodeName(info.absolutePath()) + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
}

} // namespace

namespace AtomicFile {

Reservation::~Reservation()
{
    release();
}

void Reservation::release()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    ::unlink(m_temporary.constData());
    m_fd = -1;
    m_temporary.clear();
    m_target.clear();
}

bool Reservation::take(const QString& path, qint64 bytes, QString* error, const Options& options)
{
    release();
    QString why;
    const std::optional<QString> target = targetOf(path, options.followForeignLinks, &why);
    if (!target) {
        if (error)
            *error = why;
        return false;
    }
    QByteArray temporary = temporaryPattern(*target);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = systemError(errno);
        return false;
    }
    // Real bytes, not a hole: only written blocks are the file's own.
    const QByteArray zeros(64 * 1024, '\0');
    errno = 0;
    bool written = ::fchmod(fd, 0600) == 0;
    for (qint64 left = bytes; written && left > 0; left -= zeros.size())
        written = FileIo::writeFully(fd, QByteArrayView(zeros).first(std::min<qint64>(left, zeros.size())));
    if (!written || ::fsync(fd) != 0) {
        const int failure = errno ? errno : EIO;
        ::close(fd);
        ::unlink(temporary.constData());
        if (error)
            *error = systemError(failure);
        return false;
    }
    m_fd = fd;
    m_temporary = temporary;
    m_target = *target;
    return true;
}

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

    QString why;
    const std::optional<QString> resolved = targetOf(path, options.followForeignLinks, &why);
    if (!resolved)
        return fail(why);
    const QString& target = *resolved;
    const QByteArray targetName = QFile::encodeName(target);
    mode_t mode = 0;
    struct stat existing = {};
    if (::lstat(targetName.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return fail(QStringLiteral("%1 is not a regular file").arg(target));
        // Another account's file (planted 0666, say) would keep its mode for what we write into it.
        mode = existing.st_uid == ::geteuid() ? existing.st_mode & 07777 : 0600;
    } else if (errno == ENOENT) {
        mode = 0600;
    } else {
        return fail(systemError(errno));
    }
    if (options.mode)
        mode = *options.mode;

    const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
    QByteArray temporary;
    int fd = -1;
    Reservation* room = options.reservation;
    const bool reserved = room && room->held() && room->m_target == target;
    if (reserved) {
        // The reserved blocks are overwritten in place and the rest cut off.
        fd = std::exchange(room->m_fd, -1);
        temporary = std::exchange(room->m_temporary, {});
        room->m_target.clear();
    } else {
        temporary = temporaryPattern(target);
        fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0)
            return fail(systemError(errno));
    }

    int failure = 0;
    errno = 0;
    if (::fchmod(fd, mode) != 0 || (reserved && ::lseek(fd, 0, SEEK_SET) != 0) || !fill(fd))
        failure = errno ? errno : EIO;
    if (failure == 0 && reserved) {
        const off_t end = ::lseek(fd, 0, SEEK_CUR);
        if (end < 0 || ::ftruncate(fd, end) != 0)
            failure = errno;
    }
    if (failure == 0 && options.durable && ::fsync(fd) != 0)
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

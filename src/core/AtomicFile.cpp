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

// The umask without changing it (umask() itself is not thread-safe to query).
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return static_cast<mode_t>(value & 0777);
            }
        }
    }
    return 022;
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
    return write(
        path, [bytes](int fd) { return FileIo::writeFully(fd, bytes); }, error, options);
}

bool write(const QString& path, const std::function<bool(int fd)>& fill, QString* error,
           const Options& options)
{
    const auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };

    const QString target = resolveLinks(path);
    const QByteArray targetName = QFile::encodeName(target);
    mode_t mode = 0;
    struct stat existing
    {};
    if (::lstat(targetName.constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return fail(QStringLiteral("%1 is not a regular file").arg(target));
        mode = existing.st_mode & 07777;
    } else if (errno == ENOENT) {
        mode = 0666 & ~currentUmask();
    } else {
        return fail(systemError(errno));
    }
    if (options.mode)
        mode = *options.mode;

    const QFileInfo targetInfo(target);
    const QByteArray folder = QFile::encodeName(targetInfo.absolutePath());
    QByteArray temporary = folder + "/." + QFile::encodeName(targetInfo.fileName()) + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
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

#include "core/io/FileIo.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileIo {

bool writeFully(int fd, QByteArrayView data)
{
    return writeFully(data, [fd](const char* bytes, std::size_t count) { return ::write(fd, bytes, count); });
}

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<QByteArray> readAt(int fd, qint64 offset, qint64 length)
{
    QByteArray buffer(length, Qt::Uninitialized);
    qint64 filled = 0;
    while (filled < length) {
        const ssize_t got = ::pread(fd, buffer.data() + filled, static_cast<std::size_t>(length - filled),
                                    static_cast<off_t>(offset + filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        filled += got;
    }
    buffer.truncate(filled);
    return buffer;
}

namespace {

std::optional<QByteArray> readOpened(int fd, qint64 maxBytes, bool* missing)
{
    if (missing)
        *missing = fd < 0 && errno == ENOENT;
    if (fd < 0)
        return std::nullopt;
    struct stat info = {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= maxBytes) {
        // One byte more than it had tells a file that grew since fstat.
        bytes = readAt(fd, 0, info.st_size + 1);
        if (bytes && bytes->size() > maxBytes)
            bytes.reset();
    }
    ::close(fd);
    return bytes;
}

} // namespace

std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, bool* missing)
{
    return readOpened(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC),
                      maxBytes, missing);
}

int openOwn(const QString& path, int flags, mode_t createMode)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, createMode);
    if (fd < 0)
        return -1;
    struct stat info = {};
    int refusal = 0;
    if (::fstat(fd, &info) != 0)
        refusal = errno;
    else if (!S_ISREG(info.st_mode))
        refusal = EINVAL;
    else if (info.st_uid != ::geteuid())
        refusal = EPERM;
    if (refusal == 0)
        return fd;
    ::close(fd);
    errno = refusal;
    return -1;
}

std::optional<QByteArray> readOwnFile(const QString& path, qint64 maxBytes, bool* missing)
{
    return readOpened(openOwn(path, O_RDONLY), maxBytes, missing);
}

} // namespace FileIo

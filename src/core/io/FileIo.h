#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cerrno>
#include <cstddef>
#include <optional>

#include <sys/types.h>

// Small POSIX file helpers that survive interrupted and partial transfers.
namespace FileIo {

// Hands `data` to `writeSome` (shaped like ::write: pointer and length in, bytes written or -1 with errno
// out) until all of it is written. Continues after short writes and EINTR; stops at a call that returns
// 0 or fails otherwise. True when every byte was written.
template <typename WriteSome> bool writeFully(QByteArrayView data, WriteSome&& writeSome)
{
    const char* next = data.data();
    std::size_t left = static_cast<std::size_t>(data.size());
    while (left > 0) {
        const ssize_t written = writeSome(next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

bool writeFully(int fd, QByteArrayView data);

// A descriptor closed on every path out.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Up to `length` bytes from `offset`; shorter only at end of file. Nothing on a read error.
std::optional<QByteArray> readAt(int fd, qint64 offset, qint64 length);

// The whole content of a regular file (symbolic links followed) of at most `maxBytes`. Nothing when it is
// missing, not a regular file (a FIFO is never waited on), larger, or unreadable; `missing` (when given)
// tells a file that is not there from one that could not be read.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 maxBytes, bool* missing = nullptr);

// Opens a file of the application's own with `flags` (O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC added): never
// through a symbolic link, and only a regular file of the effective user's; else -1 with errno ELOOP, EINVAL
// or EPERM. `flags` must not hold O_TRUNC, which would act before the check.
int openOwn(const QString& path, int flags, mode_t createMode = 0600);
// readRegularFile for a file opened by openOwn.
std::optional<QByteArray> readOwnFile(const QString& path, qint64 maxBytes, bool* missing = nullptr);

} // namespace FileIo

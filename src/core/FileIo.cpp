#include "core/FileIo.h"

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

} // namespace FileIo

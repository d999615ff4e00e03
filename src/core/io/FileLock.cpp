#include "core/io/FileLock.h"

#include <QFile>

#include <cerrno>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

FileLock::FileLock(const QString& lockFileName, std::chrono::milliseconds wait)
{
    const QByteArray path = QFile::encodeName(lockFileName);
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW, 0600);
    if (fd < 0)
        fd = ::open(path.constData(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW); // flock works read-only too
    if (fd < 0) {
        m_openError = errno;
        return;
    }
    // flock() has no time-out of its own: poll the non-blocking form, with short naps growing to 50 ms.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::chrono::milliseconds nap{1};
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            m_state = State::locked;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        const auto now = std::chrono::steady_clock::now();
        if (errno == EWOULDBLOCK && now >= deadline) {
            m_state = State::timedOut;
            break;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(nap, deadline - now));
        nap = std::min(nap * 2, std::chrono::milliseconds(50));
    }
    ::close(fd);
}

FileLock::~FileLock()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
}

#include "core/FileIo.h"
#include "core/FileLock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(FileIo, WriteFullyContinuesAfterShortWritesAndInterruptions)
{
    // Each step: how many bytes the call takes (at most what is left), or -1 with the errno given.
    struct Step
    {
        ssize_t result;
        int error = 0;
    };
    struct Row
    {
        const char* name;
        std::vector<Step> steps;
        bool ok;
        QByteArray written;
    };
    const Row rows[] = {
        {"one call", {{10}}, true, "0123456789"},
        {"short writes", {{3}, {1}, {6}}, true, "0123456789"},
        {"interrupted then done", {{-1, EINTR}, {4}, {-1, EINTR}, {6}}, true, "0123456789"},
        {"zero stops", {{4}, {0}}, false, "0123"},
        {"error stops", {{2}, {-1, ENOSPC}}, false, "01"},
    };
    for (const Row& row : rows) {
        QByteArray written;
        std::size_t call = 0;
        const bool ok =
            FileIo::writeFully(QByteArrayView("0123456789"), [&](const char* bytes, std::size_t count) {
                if (call >= row.steps.size())
                    return ssize_t(0);
                const Step step = row.steps[call++];
                if (step.result < 0) {
                    errno = step.error;
                    return ssize_t(-1);
                }
                const std::size_t taken = std::min(count, static_cast<std::size_t>(step.result));
                written.append(bytes, static_cast<qsizetype>(taken));
                return static_cast<ssize_t>(taken);
            });
        EXPECT_EQ(ok, row.ok) << row.name;
        EXPECT_EQ(written, row.written) << row.name;
    }
}

TEST(FileLock, ExcludesAnotherHolderUntilReleased)
{
    QTemporaryDir dir(TestSupport::homePath() + QStringLiteral("/lock-XXXXXX"));
    const QString lockPath = dir.filePath(QStringLiteral("log.lock"));
    const auto tryLock = [&] {
        const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CLOEXEC);
        const bool got = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        return got;
    };
    {
        const FileLock lock(lockPath);
        ASSERT_TRUE(lock.isLocked());
        EXPECT_FALSE(tryLock());
    }
    EXPECT_TRUE(tryLock());
    const FileLock nowhere(dir.filePath(QStringLiteral("missing/log.lock")));
    EXPECT_FALSE(nowhere.isLocked());
}

// A file of the data folder swapped for a link, a FIFO or another account's file is not ours to read or
// append to.
TEST(FileIo, OpenOwnTakesOnlyARegularFileOfThisUsersOwn)
{
    QTemporaryDir dir(TestSupport::homePath() + QStringLiteral("/own-XXXXXX"));
    const QString path = dir.filePath(QStringLiteral("file"));
    const QByteArray name = QFile::encodeName(path);
    const QString target = dir.filePath(QStringLiteral("target"));
    const struct
    {
        const char* name;
        std::function<void()> prepare;
        int flags;
        int error; // 0: opened
    } rows[] = {
        {"own file", [&] { TestSupport::writeFile(path, "mine"); }, O_RDONLY, 0},
        {"missing, created", [] {}, O_WRONLY | O_CREAT, 0},
        {"link to an own file",
         [&] {
             TestSupport::writeFile(target, "mine");
             QFile::link(target, path);
         },
         O_RDONLY, ELOOP},
        {"FIFO, not waited on", [&] { ::mkfifo(name.constData(), 0600); }, O_WRONLY | O_APPEND, ENXIO},
        {"FIFO read", [&] { ::mkfifo(name.constData(), 0600); }, O_RDONLY, EINVAL},
        {"folder", [&] { QDir().mkdir(path); }, O_RDONLY, EINVAL},
        {"another user's file",
         [&] {
             TestSupport::writeFile(path, "theirs");
             ::chown(name.constData(), 65534, 65534);
         },
         O_RDONLY, EPERM},
    };
    for (const auto& row : rows) {
        if (row.error == EPERM && ::geteuid() != 0)
            continue; // only root can hand a file over
        QFile::remove(path);
        QDir().rmdir(path);
        row.prepare();
        errno = 0;
        const FileIo::Descriptor fd(FileIo::openOwn(path, row.flags));
        EXPECT_EQ(fd.isOpen() ? 0 : errno, row.error) << row.name;
    }
    EXPECT_EQ(FileIo::readOwnFile(target, 100), QByteArray("mine"));
}

#include "core/io/FileIo.h"
#include "core/io/AppLogger.h"
#include "core/io/CollectorLock.h"
#include "core/io/FileLock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <vector>

#include <fcntl.h>
#include <sys/file.h>
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

    // One collector per lock file; a lock file that cannot exist leaves nobody to wait for.
    CollectorLock first(lockPath);
    CollectorLock second(lockPath);
    EXPECT_TRUE(first.tryAcquire());
    EXPECT_FALSE(second.tryAcquire());
    CollectorLock unopenable(dir.filePath(QStringLiteral("missing/collector.lock")));
    EXPECT_TRUE(unopenable.tryAcquire());
    EXPECT_TRUE(AppLogger::shared().lastError().value_or(QString()).contains(QStringLiteral("No such file")))
        << AppLogger::shared().lastError().value_or(QString()).toStdString();
}

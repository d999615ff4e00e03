#include "core/io/CollectorLock.h"

#include "core/io/AppLogger.h"
#include "core/io/FileLock.h"
#include "core/io/LocalFileStore.h"

#include <cstring>

CollectorLock::CollectorLock(QString fileName) : m_fileName(std::move(fileName)) {}

CollectorLock::~CollectorLock() = default;

bool CollectorLock::tryAcquire()
{
    if (isHeld())
        return true;
    LocalFileStore::ensureDirectories();
    auto lock = std::make_unique<FileLock>(m_fileName, std::chrono::milliseconds(0));
    if (lock->state() == FileLock::State::unavailable) {
        // Nobody else can hold a lock file that cannot be opened: collect rather than wait for one forever.
        AppLogger::shared().error(
            QStringLiteral("Cannot open %1 (%2): collecting without the lock")
                .arg(m_fileName, QString::fromLocal8Bit(std::strerror(lock->openError()))));
        m_withoutLock = true;
    } else if (lock->isLocked()) {
        m_lock = std::move(lock);
    }
    return isHeld();
}

bool CollectorLock::isHeld() const
{
    return m_withoutLock || (m_lock && m_lock->isLocked());
}

QString CollectorLock::defaultFileName()
{
    return LocalFileStore::path(QStringLiteral("collector.lock"));
}

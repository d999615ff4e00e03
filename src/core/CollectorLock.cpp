#include "core/CollectorLock.h"

#include "core/FileLock.h"
#include "core/LocalFileStore.h"

CollectorLock::CollectorLock(QString fileName) : m_fileName(std::move(fileName)) {}

CollectorLock::~CollectorLock() = default;

bool CollectorLock::tryAcquire()
{
    if (isHeld())
        return true;
    LocalFileStore::ensureDirectories();
    auto lock = std::make_unique<FileLock>(m_fileName, std::chrono::milliseconds(0));
    if (lock->isLocked())
        m_lock = std::move(lock);
    return isHeld();
}

bool CollectorLock::isHeld() const
{
    return m_lock && m_lock->isLocked();
}

QString CollectorLock::defaultFileName()
{
    return LocalFileStore::path(QStringLiteral("collector.lock"));
}

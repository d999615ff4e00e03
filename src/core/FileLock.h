#pragma once

#include <QString>

// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime. Blocks until granted.
// Another process cooperates by taking flock(LOCK_EX) on the same file.
class FileLock
{
public:
    explicit FileLock(const QString& lockFileName);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // False when the lock file could not be opened or created (for example in a read-only folder).
    [[nodiscard]] bool isLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

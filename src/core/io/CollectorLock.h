#pragma once

#include <QString>

#include <memory>

class FileLock;

// Who of this user's Tallyvanes runs the providers: the one holding a lock on a file in the data folder. Two
// collectors would run two Codex app-servers and two OAuth pollers (which the service answers with 429); the
// others only read the log. The kernel lets go of the lock when its holder exits, however it exits.
class CollectorLock
{
public:
    explicit CollectorLock(QString fileName = defaultFileName());
    ~CollectorLock();
    CollectorLock(const CollectorLock&) = delete;
    CollectorLock& operator=(const CollectorLock&) = delete;

    // Takes the lock if nobody holds it, without waiting; true while this object holds it, or collects
    // without one because the lock file cannot be opened (which is logged).
    bool tryAcquire();
    [[nodiscard]] bool isHeld() const;

    [[nodiscard]] static QString defaultFileName();

private:
    QString m_fileName;
    std::unique_ptr<FileLock> m_lock;
    bool m_withoutLock = false;
};

#pragma once

#include <QString>

#include <chrono>

// An exclusive advisory lock (flock) on a lock file, held for the object's lifetime. Another process
// cooperates by taking flock(LOCK_EX) on the same file.
class FileLock
{
public:
    static constexpr std::chrono::milliseconds defaultWait{2000};

    enum class State
    {
        locked,
        // The lock file could not be opened or created (for example in a read-only folder).
        unavailable,
        // Another holder kept it for the whole wait.
        timedOut
    };

    // Waits at most `wait` for the lock, so a holder that hangs cannot stall the caller for good.
    explicit FileLock(const QString& lockFileName, std::chrono::milliseconds wait = defaultWait);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] bool isLocked() const { return m_state == State::locked; }
    // Why the lock file could not be opened (an errno value); 0 otherwise.
    [[nodiscard]] int openError() const { return m_openError; }

private:
    int m_fd = -1;
    State m_state = State::unavailable;
    int m_openError = 0;
};

#pragma once

#include <QDateTime>

#include <mutex>

// The source of "now" for everything that decides by time (polls, back-offs, cooldowns, retention), so tests
// can set the time instead of waiting for it. Always UTC.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const;

    // The wall clock; lives for the whole process.
    static const Clock& system();
};

// A clock that moves only when told to; safe to read from any thread.
class ManualClock : public Clock
{
public:
    explicit ManualClock(QDateTime start) : m_now(start.toUTC()) {}

    QDateTime now() const override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    void set(const QDateTime& now)
    {
        std::lock_guard lock(m_mutex);
        m_now = now.toUTC();
    }
    void advance(qint64 seconds)
    {
        std::lock_guard lock(m_mutex);
        m_now = m_now.addSecs(seconds);
    }

private:
    mutable std::mutex m_mutex;
    QDateTime m_now;
};

#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class Clock;
class SnapshotStore;

// Applies the retention setting to the snapshot log at start and then once a day. The prune itself runs
// on the store's queue, never on the thread that owns the scheduler.
class RetentionScheduler : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultInterval{24 * 60 * 60 * 1000};

    // `retentionDays` is asked on the owner's thread before each prune; the clock must outlive the
    // scheduler.
    RetentionScheduler(std::shared_ptr<SnapshotStore> store, const Clock& clock,
                       std::function<qint64()> retentionDays,
                       std::chrono::milliseconds interval = defaultInterval, QObject* parent = nullptr);

    // Prunes now, then every interval.
    void start();

Q_SIGNALS:
    // Back on the owner's thread after each prune; false when the log was left as it was.
    void pruned(bool rewritten);

private:
    void pruneNow();

    std::shared_ptr<SnapshotStore> m_store;
    const Clock& m_clock;
    std::function<qint64()> m_retentionDays;
    QTimer m_timer;
};

#include "app/RetentionScheduler.h"

#include "core/io/SnapshotStore.h"
#include "core/runtime/Clock.h"

#include <QCoreApplication>
#include <QPointer>

RetentionScheduler::RetentionScheduler(std::shared_ptr<SnapshotStore> store, const Clock& clock,
                                       std::function<qint64()> retentionDays,
                                       std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_clock(clock), m_retentionDays(std::move(retentionDays))
{
    m_timer.setInterval(interval);
    connect(&m_timer, &QTimer::timeout, this, &RetentionScheduler::pruneNow);
}

void RetentionScheduler::start()
{
    m_timer.start();
    pruneNow();
}

void RetentionScheduler::pruneNow()
{
    if (!m_store)
        return;
    QPointer<RetentionScheduler> guard(this);
    m_store->pruneLater(m_retentionDays(), m_clock, [guard](bool rewritten) {
        // Posted to the application object, which outlives the scheduler; the guard is read on its thread.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, rewritten] {
                if (guard)
                    Q_EMIT guard->pruned(rewritten);
            },
            Qt::QueuedConnection);
    });
}

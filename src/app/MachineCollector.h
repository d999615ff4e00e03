#pragma once

#include "app/MachinePull.h"
#include "core/runtime/SerialQueue.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>

// Pulls every enabled other machine on its own queue, every few minutes and when asked, one machine after the
// other; never on the GUI thread, and a pull that hangs ends at its time-out. Announces each round that
// brought anything (or changed a machine's health) so the state computes again.
class MachineCollector : public QObject
{
    Q_OBJECT

public:
    explicit MachineCollector(MachinePull::Options options, int intervalMs = 300'000,
                              QObject* parent = nullptr);
    ~MachineCollector() override;

    void start();
    // A round now, unless one is under way (then that one serves).
    void pullNow();
    void setRetentionDays(qint64 days) { m_options.retentionDays = days; }

Q_SIGNALS:
    void pulled();

private:
    MachinePull::Options m_options;
    QTimer m_timer;
    std::shared_ptr<std::atomic<bool>> m_busy = std::make_shared<std::atomic<bool>>(false);
    // Last, so it is destroyed first: a round under way finishes while the rest is intact.
    SerialQueue m_queue{QStringLiteral("tallyvane.machines")};
};

#include "app/MachineCollector.h"

#include "core/io/MachineList.h"

#include <QCoreApplication>
#include <QPointer>

MachineCollector::MachineCollector(MachinePull::Options options, int intervalMs, QObject* parent)
    : QObject(parent), m_options(std::move(options))
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &MachineCollector::pullNow);
}

MachineCollector::~MachineCollector()
{
    m_timer.stop();
}

void MachineCollector::start()
{
    m_timer.start();
    pullNow();
}

void MachineCollector::pullNow()
{
    if (m_busy->exchange(true))
        return;
    QPointer<MachineCollector> guard(this);
    m_queue.async([options = m_options, busy = m_busy, guard] {
        bool changed = false;
        for (const MachineList::Machine& machine : MachineList::load()) {
            if (!machine.enabled)
                continue;
            const MachineMirror::State before = MachineMirror::loadState(machine);
            const MachinePull::Outcome outcome = MachinePull::pull(machine, options);
            changed = changed || outcome.newSnapshots > 0 || outcome.usageChanged ||
                      outcome.state.problem != before.problem || !before.lastSuccess;
        }
        busy->store(false);
        if (changed)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard] {
                    if (guard)
                        Q_EMIT guard->pulled();
                },
                Qt::QueuedConnection);
    });
}

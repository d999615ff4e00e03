#pragma once

#include "app/MachineHealth.h"
#include "core/io/SnapshotStore.h"
#include "core/model/SnapshotLog.h"
#include "core/text/MachineFeed.h"
#include "history/UsageTotals.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>

// What the other machines' mirrors add to a cycle: their readings before the local log's, their usage, and
// how pulling from each goes. Reads machines.json and each mirror as they are on disk; a mirror unchanged
// since the last cycle costs a file-attribute lookup. Used by one compute queue at a time.
class MachineMirrors
{
public:
    // Re-reads the list, the states and every changed mirror; `now` dates each machine's week.
    void update(const QDateTime& now);

    // The mirrored readings, then the local log: the local log grows at the end, so the cycle's series
    // cache keeps extending while no pull changes a mirror.
    SnapshotLog withMirrors(const SnapshotLog& local) const;
    // Every machine's usage summed (days as each machine counted them).
    UsageTotals usage() const;
    // The same by machine name, in the list's order.
    QList<std::pair<QString, UsageTotals>> usageByMachine() const;
    const QList<MachineReport>& reports() const { return m_reports; }

private:
    struct Mirror
    {
        QString name;
        std::shared_ptr<SnapshotStore> store;
        SnapshotLog log;
        QList<MachineFeed::UsageRow> rows;
        UsageTotals usage;
        qint64 usageStamp = -1;
    };
    QHash<QString, Mirror> m_mirrors; // by machine id
    QStringList m_order;              // the ids in the list's order
    QList<MachineReport> m_reports;
    SnapshotLog m_mirrored;
};

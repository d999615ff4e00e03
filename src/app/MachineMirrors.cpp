#include "app/MachineMirrors.h"

#include "core/text/MachineFeed.h"
#include "history/UsageQueries.h"

#include <QFileInfo>
#include <QSet>

#include <cmath>

namespace {

using UsageQueries::dayNumber;

} // namespace

void MachineMirrors::update(const QDateTime& now)
{
    m_reports.clear();
    QSet<QString> seen;
    QStringList order;
    SnapshotLog mirrored;
    const QDate today = now.toLocalTime().date();
    for (const MachineList::Machine& machine : MachineList::load()) {
        MachineReport report{machine, MachineMirror::loadState(machine)};
        const QString& id = report.state.machine;
        using Problem = MachineMirror::State::Problem;
        const bool counts = machine.enabled && MachineFeed::isMachineId(id) && !seen.contains(id) &&
                            report.state.problem != Problem::itself &&
                            report.state.problem != Problem::duplicate;
        if (counts) {
            seen.insert(id);
            Mirror& mirror = m_mirrors[id];
            mirror.name = machine.name();
            order.append(id);
            if (!mirror.store)
                mirror.store = std::make_shared<SnapshotStore>(MachineMirror::snapshotsPath(id),
                                                               SnapshotStore::ReadOnly{});
            mirror.log = mirror.store->log();
            mirrored.append(mirror.log);
            const QFileInfo usageFile(MachineMirror::folder(id) + QStringLiteral("/usage.ndjson"));
            const qint64 stamp =
                usageFile.exists() ? usageFile.lastModified().toMSecsSinceEpoch() ^ usageFile.size() : 0;
            if (stamp != mirror.usageStamp) {
                mirror.usageStamp = stamp;
                mirror.rows = MachineMirror::loadUsage(id).rows;
                mirror.usage = {};
                for (const MachineFeed::UsageRow& row : std::as_const(mirror.rows)) {
                    UsageTotals::Series& series = row.account.isEmpty()
                                                      ? mirror.usage.of(row.provider)
                                                      : mirror.usage.accounts[{row.provider, row.account}];
                    series.dayTokens[dayNumber(row.day)] += row.tokens;
                    series.dayCostNanos[dayNumber(row.day)] += qint64(std::llround(row.costUSD * 1e9));
                }
            }
            for (const MachineFeed::UsageRow& row : std::as_const(mirror.rows)) {
                if (row.day > today.addDays(-7) && row.day <= today) {
                    report.tokensThisWeek += row.tokens;
                    report.costThisWeekUSD += row.costUSD;
                }
            }
        }
        m_reports.append(report);
    }
    for (auto it = m_mirrors.begin(); it != m_mirrors.end();)
        it = seen.contains(it.key()) ? std::next(it) : m_mirrors.erase(it);
    m_mirrored = mirrored;
    m_order = order;
}

SnapshotLog MachineMirrors::withMirrors(const SnapshotLog& local) const
{
    if (m_mirrored.isEmpty())
        return local;
    SnapshotLog combined = m_mirrored;
    combined.append(local);
    return combined;
}

UsageTotals MachineMirrors::usage() const
{
    UsageTotals sum;
    for (const Mirror& mirror : m_mirrors)
        sum.add(mirror.usage);
    return sum;
}

QList<std::pair<QString, UsageTotals>> MachineMirrors::usageByMachine() const
{
    QList<std::pair<QString, UsageTotals>> parts;
    for (const QString& id : m_order)
        parts.append({m_mirrors.value(id).name, m_mirrors.value(id).usage});
    return parts;
}

#pragma once

#include "core/io/MachineList.h"
#include "core/io/MachineMirror.h"

#include <QDateTime>
#include <QString>

// One other machine as a cycle found it: its entry, how its pulls went, and what its mirror holds.
struct MachineReport
{
    MachineList::Machine machine;
    MachineMirror::State state;
    qint64 tokensThisWeek = 0;
    double costThisWeekUSD = 0;
    friend bool operator==(const MachineReport&, const MachineReport&) = default;
};

// How pulling from one other machine goes, in one line every face shows alike.
namespace MachineHealth {

// "devbox: updated 2 min ago", "devbox: unreachable since 14:02 (connection timed out)", "devbox: Tallyvane
// is not installed there", "devbox: Tallyvane there is too old (0.1.0)".
QString line(const MachineList::Machine& machine, const MachineMirror::State& state, const QDateTime& now);
// "2 min ago", "3 h ago", "just now".
QString age(const QDateTime& at, const QDateTime& now);

} // namespace MachineHealth

#include "app/MachineHealth.h"

#include "core/text/TimeFormatting.h"

namespace {

using namespace Qt::StringLiterals;
using Problem = MachineMirror::State::Problem;

} // namespace

namespace MachineHealth {

QString age(const QDateTime& at, const QDateTime& now)
{
    const qint64 seconds = std::max<qint64>(0, at.secsTo(now));
    if (seconds < 60)
        return u"just now"_s;
    if (seconds < 3600)
        return u"%1 min ago"_s.arg(seconds / 60);
    if (seconds < 48 * 3600)
        return u"%1 h ago"_s.arg(seconds / 3600);
    return u"%1 days ago"_s.arg(seconds / 86400);
}

QString line(const MachineList::Machine& machine, const MachineMirror::State& state, const QDateTime& now)
{
    const QString name = machine.name() + u": "_s;
    const QString since = TimeFormatting::clock(state.failingSince, now);
    const QString why = state.error.isEmpty() ? QString() : u" ("_s + state.error + u')';
    if (!machine.enabled)
        return name + u"off"_s;
    switch (state.problem) {
    case Problem::none:
        return name +
               (state.lastSuccess ? u"updated "_s + age(*state.lastSuccess, now) : u"not pulled yet"_s);
    case Problem::unreachable:
        return name + u"unreachable since "_s + since + why;
    case Problem::notInstalled:
        return name + u"Tallyvane is not installed there"_s;
    case Problem::tooOld:
        return name + u"Tallyvane there is too old"_s + why;
    case Problem::badFeed:
        return name + u"no usable answer since "_s + since + why;
    case Problem::itself:
        return name + u"this is the machine Tallyvane runs on"_s;
    case Problem::duplicate:
        return name + u"the same machine as another destination"_s;
    }
    return name;
}

} // namespace MachineHealth

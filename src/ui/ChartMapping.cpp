#include "ui/ChartMapping.h"
#include "core/text/Zone.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

ChartMapping ChartMapping::make(const QRectF& plot, qint64 firstPointMs, qint64 lastPointMs,
                                std::optional<qint64> windowStartMs, std::optional<qint64> resetMs,
                                std::optional<qint64> runOutMs, double highestPercent)
{
    ChartMapping mapping;
    mapping.plot = plot;
    mapping.startMs = std::min(firstPointMs, windowStartMs.value_or(firstPointMs));
    mapping.endMs = std::max({lastPointMs, resetMs.value_or(lastPointMs), runOutMs.value_or(lastPointMs)});
    const double highest = std::isfinite(highestPercent) ? highestPercent : 0;
    mapping.maxPercent = std::max(120.0, std::ceil((highest + 10) / 10) * 10);
    return mapping;
}

double ChartMapping::x(qint64 ms) const
{
    if (endMs <= startMs)
        return plot.center().x();
    const double share = static_cast<double>(ms - startMs) / static_cast<double>(endMs - startMs);
    return plot.left() + std::clamp(share, 0.0, 1.0) * plot.width();
}

double ChartMapping::y(double percent) const
{
    const double value = std::isfinite(percent) ? std::clamp(percent, 0.0, maxPercent) : 0.0;
    return plot.bottom() - value / maxPercent * plot.height();
}

qint64 ChartMapping::timeAt(double pixelX) const
{
    if (endMs <= startMs || plot.width() <= 0)
        return startMs;
    const double share = std::clamp((pixelX - plot.left()) / plot.width(), 0.0, 1.0);
    return startMs + static_cast<qint64>(std::llround(share * static_cast<double>(endMs - startMs)));
}

QList<qint64> ChartMapping::timeTicks(int count) const
{
    if (endMs <= startMs || count < 2)
        return {startMs};
    QList<qint64> ticks;
    for (int i = 0; i < count; ++i)
        ticks.append(startMs + (endMs - startMs) * i / (count - 1));
    return ticks;
}

QString ChartMapping::timeLabel(qint64 ms) const
{
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Zone::utc()).toLocalTime();
    return local.toString(spansDays() ? QStringLiteral("ddd d, HH:mm") : QStringLiteral("HH:mm"));
}

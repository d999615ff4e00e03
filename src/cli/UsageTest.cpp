#include "cli/UsageTest.h"

#include "cli/UsageCommand.h"
#include "history/UsageHistory.h"

#include <QDate>
#include <QTimeZone>

namespace UsageTest {

void report(UsageHistory& history, const QDateTime& now, QTextStream& out)
{
    using UsageCommand::cents;
    using UsageCommand::grouped;
    const auto stats = history.refreshSync();
    const auto totals = history.totals();
    out << "usage history: " << stats.listed << " transcript files, " << stats.read << " read ("
        << grouped(stats.bytesRead) << " bytes) in " << QString::number(stats.scanMicros / 1000.0, 'f', 1)
        << " ms, cache saved in " << QString::number(stats.saveMicros / 1000.0, 'f', 1) << " ms, zone "
        << QString::fromLatin1(totals->zone) << '\n';
    const QDateTime today =
        QDateTime(now.toTimeZone(QTimeZone(totals->zone)).date(), QTime(0, 0), QTimeZone(totals->zone));
    for (const Provider provider : {Provider::codex, Provider::claude}) {
        const QString name = rawValue(provider);
        out << name << " today: " << grouped(history.tokens(provider, now)) << " tokens, $"
            << cents(history.costUSD(provider, now)) << '\n';
        const QDateTime weekStart = today.addDays(-6);
        out << name << " last 7 days: " << grouped(history.tokens(provider, weekStart)) << " tokens, $"
            << cents(history.costUSD(provider, weekStart)) << '\n';
        for (const auto& day : history.recentSeries(provider, 7, now))
            out << name << "   " << day.day << ": " << grouped(day.tokens) << '\n';
        out << name << " average active day (7 days): "
            << grouped(static_cast<qint64>(history.averageDailyTokens(provider, 7, now))) << " tokens\n";
        const double effective = history.effectiveDays(now, now.addSecs(86400), provider);
        out << name << " effective days in the next 24 h: " << QString::number(effective, 'f', 2) << '\n';
    }
    if (const auto peak = history.peakWindow(4))
        out << "peak 4-hour span: "
            << QStringLiteral("%1:00–%2:00")
                   .arg(peak->start, 2, 10, QLatin1Char('0'))
                   .arg(peak->end, 2, 10, QLatin1Char('0'))
            << '\n';
    else
        out << "peak 4-hour span: —\n";
    if (const auto model = history.latestClaudeModel())
        out << "latest Claude model: " << model->id << " at " << model->at.toUTC().toString(Qt::ISODate)
            << '\n';
    else
        out << "latest Claude model: —\n";
}

int run()
{
    UsageHistory history;
    QTextStream out(stdout);
    report(history, Clock::system().now(), out);
    out.flush();
    return 0;
}

} // namespace UsageTest

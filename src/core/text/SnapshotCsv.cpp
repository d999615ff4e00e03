#include "core/text/SnapshotCsv.h"

#include "core/text/JsonLines.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <charconv>

namespace SnapshotCsv {

QString formatNumber(double value)
{
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    QString text = QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
    bool allDigits = true;
    for (const QChar c : text)
        allDigits = allDigits && (c.isDigit() || c == QLatin1Char('-'));
    if (allDigits)
        text += QLatin1StringView(".0");
    return text;
}

QString escape(QString value)
{
    // Nothing a spreadsheet would run as a formula (the fields were cleaned of controls when read).
    if (!value.isEmpty() && QStringView(u"=+-@\t").contains(value.front()))
        value.prepend(QLatin1Char('\''));
    const bool needsQuotes = value.contains(QLatin1Char(',')) || value.contains(QLatin1Char('"')) ||
                             value.contains(QLatin1Char('\n')) || value.contains(QLatin1Char('\r'));
    if (!needsQuotes)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('"'), QLatin1StringView("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString row(const UsageSnapshot& s, bool withAccount)
{
    const QString model = s.modelDisplayName ? *s.modelDisplayName : s.modelId.value_or(QString());
    const QStringList fields{
        JsonLines::formatDate(s.timestamp),
        rawValue(s.provider),
        rawValue(s.windowKind),
        formatNumber(s.usedPercent),
        formatNumber(s.remainingPercent),
        s.resetAt ? JsonLines::formatDate(*s.resetAt) : QString(),
        escape(model),
        escape(s.effortLevel.value_or(QString())),
        escape(s.speedMode.value_or(QString())),
        escape(s.planType.value_or(QString())),
        escape(s.source),
        rawValue(s.sourceConfidence),
    };
    QString text = fields.join(QLatin1Char(','));
    if (withAccount)
        text += QLatin1Char(',') + escape(s.account.value_or(QString()));
    return text;
}

QByteArray document(const QList<UsageSnapshot>& snapshots)
{
    const bool withAccount = std::any_of(snapshots.begin(), snapshots.end(),
                                         [](const UsageSnapshot& s) { return bool(s.account); });
    QString text = header + (withAccount ? accountColumn : QLatin1StringView()) + QLatin1Char('\n');
    for (const UsageSnapshot& s : snapshots)
        text += row(s, withAccount) + QLatin1Char('\n');
    return text.toUtf8();
}

} // namespace SnapshotCsv

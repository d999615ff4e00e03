#pragma once

#include "core/model/UsageSnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The CSV form of the snapshot log.
namespace SnapshotCsv {

inline constexpr QLatin1StringView header{"timestamp,provider,window,usedPercent,remainingPercent,resetAt,"
                                          "model,effort,speed,plan,source,confidence"};

// Shortest round-trip decimal, always with a fractional part when written positionally: 42 gives "42.0".
QString formatNumber(double value);
// With a leading quote before what a spreadsheet would take for a formula (= + - @), and
// quoted (inner quotes doubled) when the value holds a comma, a double quote or a line break.
QString escape(QString value);
QString row(const UsageSnapshot& snapshot);
// Header and one row per snapshot in the given order, each line ending in "\n", as UTF-8.
QByteArray document(const QList<UsageSnapshot>& snapshots);

} // namespace SnapshotCsv

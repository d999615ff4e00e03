#pragma once

#include "core/model/UsageSnapshot.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The CSV form of the snapshot log.
namespace SnapshotCsv {

inline constexpr QLatin1StringView header{"timestamp,provider,window,usedPercent,remainingPercent,resetAt,"
                                          "model,effort,speed,plan,source,confidence"};
// After the header's last column, only in an export that holds another account than the default one: the
// export of one account stays as it always was.
inline constexpr QLatin1StringView accountColumn{",account"};

// Shortest round-trip decimal, always with a fractional part when written positionally: 42 gives "42.0".
QString formatNumber(double value);
// With a leading quote before what a spreadsheet would take for a formula (= + - @), and
// quoted (inner quotes doubled) when the value holds a comma, a double quote or a line break.
QString escape(QString value);
// With `withAccount`, the account's key (empty for the default account) as one more field.
QString row(const UsageSnapshot& snapshot, bool withAccount = false);
// Header and one row per snapshot in the given order, each line ending in "\n", as UTF-8; with the account
// column when any snapshot has an account.
QByteArray document(const QList<UsageSnapshot>& snapshots);

} // namespace SnapshotCsv

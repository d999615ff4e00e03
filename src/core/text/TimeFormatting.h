#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace TimeFormatting {

QString countdown(std::optional<double> seconds);         // "<1m", "1h 1m", "1d 1h", "now"
QString relativeCountdown(std::optional<double> seconds); // "in 1h 1m", "now"
// "HH:mm" on the day of `now`, "Wed 13:54" within a week of it, "Wed 8 Jun 13:54" beyond.
QString clock(const std::optional<QDateTime>& date, const QDateTime& now);
// "resets 14:05 today", "resets 09:00 tomorrow", "resets Mon 09:00", "resets Mon 8 Jun 09:00";
// absent unless the reset lies after now.
std::optional<QString> resetPhrase(const std::optional<QDateTime>& resetAt, const QDateTime& now);

} // namespace TimeFormatting

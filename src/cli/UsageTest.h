#pragma once

#include "core/runtime/Clock.h"

#include <QTextStream>

class UsageHistory;

// --usagetest: scans the transcripts and prints what the history answers, per provider: today, the last
// 7 days in sum and per day, the average active day, the effective days of the next 24 hours; then the
// peak 4-hour span and the latest Claude model.
namespace UsageTest {

void report(UsageHistory& history, const QDateTime& now, QTextStream& out);
int run();

} // namespace UsageTest

#pragma once

#include "core/model/Enums.h"
#include "core/model/UsageSnapshot.h"
#include "providers/codex/CodexRateLimitsPayload.h"

#include <QDateTime>
#include <QList>

#include <optional>

// Turns Codex rate-limit buckets into usage snapshots.
namespace CodexParsing {

inline constexpr QLatin1StringView source{"codex.app-server"};

// By window length in minutes: 240–360 fiveHour, 9000–11000 sevenDay, 43000–45000 monthly (inclusive),
// anything else unknown.
WindowKind classify(std::optional<double> windowDurationMins);

// One snapshot per window with a usedPercent, primary first.
QList<UsageSnapshot> snapshots(const CodexRateLimitBucket& bucket, const QDateTime& now);

} // namespace CodexParsing

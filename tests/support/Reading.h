#pragma once

#include "core/model/UsageSnapshot.h"

#include <QDateTime>

#include <optional>

namespace TestSupport {

// A reading as the providers write one: the window's usual length, the provider's usual source, high
// confidence. Tests change what they are about on the copy.
inline UsageSnapshot reading(Provider provider, WindowKind window, const QDateTime& at, double used,
                             std::optional<QDateTime> resetAt = std::nullopt)
{
    UsageSnapshot s;
    s.provider = provider;
    s.windowKind = window;
    s.timestamp = at;
    s.usedPercent = used;
    s.remainingPercent = 100 - used;
    s.resetAt = std::move(resetAt);
    s.windowDurationMins = window == WindowKind::fiveHour ? 300 : 10'080;
    s.source =
        provider == Provider::codex ? QStringLiteral("codex.app-server") : QStringLiteral("claude.oauth");
    s.sourceConfidence = SourceConfidence::high;
    return s;
}

} // namespace TestSupport

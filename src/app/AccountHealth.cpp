#include "app/AccountHealth.h"

#include "core/text/TerminalText.h"
#include "core/text/TimeFormatting.h"

namespace AccountHealth {

QString text(const Facts& facts, const QDateTime& now)
{
    if (!facts.enabled)
        return QStringLiteral("off");
    if (facts.live && (facts.live->state == ProviderHealth::State::error ||
                       facts.live->state == ProviderHealth::State::unavailable)) {
        const QString why = TerminalText::clean(facts.live->lastError.value_or(facts.live->detail)).trimmed();
        return why.isEmpty() ? rawValue(facts.live->state) : why;
    }
    if (facts.newestReading)
        return QStringLiteral("ok, read ") +
               TimeFormatting::countdown(std::max<qint64>(0, facts.newestReading->secsTo(now))) +
               QStringLiteral(" ago");
    return facts.signedIn ? QStringLiteral("no reading yet") : QStringLiteral("not signed in");
}

std::optional<QDateTime> newestReading(const SnapshotLog& log, Provider provider, const QString& key,
                                       bool isDefault)
{
    std::optional<QDateTime> newest;
    for (const UsageSnapshot& s : log) {
        const bool mine = isDefault ? !s.account : (s.account && *s.account == key);
        // An estimate from the transcripts is no reading.
        if (s.provider == provider && mine && s.source != QLatin1StringView("claude.transcript") &&
            (!newest || *newest < s.timestamp))
            newest = s.timestamp;
    }
    return newest;
}

} // namespace AccountHealth

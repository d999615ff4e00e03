#include "providers/DemoProvider.h"

#include <algorithm>
#include <cmath>

namespace {

struct DemoConstants
{
    QString fiveHourLimitId;
    QString sevenDayLimitId;
    QString modelId;
    QString modelDisplayName;
    std::optional<bool> thinkingEnabled;
    std::optional<QString> speedMode;
    QString planType;
    qint64 fiveHourResetIn; // seconds after now
    double fiveHourPeak;    // percent used now
    qint64 sevenDayResetIn; // seconds after now
    qint64 sevenDaySpan;    // seconds from the window's start to now
    double sevenDayPeak;    // percent used now
};

DemoConstants constantsFor(Provider provider)
{
    if (provider == Provider::codex)
        return {QStringLiteral("codex-5h"),
                QStringLiteral("codex-sevenDay"),
                QStringLiteral("gpt-5.5"),
                QStringLiteral("GPT-5.5"),
                std::nullopt,
                QStringLiteral("standard"),
                QStringLiteral("Pro"),
                12'000,
                22,
                328'320,
                276'480,
                34};
    return {QStringLiteral("claude-5h"),
            QStringLiteral("claude-sevenDay"),
            QStringLiteral("claude-opus-4-8"),
            QStringLiteral("Opus 4.8"),
            true,
            std::nullopt,
            QStringLiteral("Max"),
            10'080,
            28,
            311'040,
            293'760,
            41};
}

// One decimal, halves away from zero.
double roundToTenth(double value)
{
    return std::round(value * 10) / 10;
}

UsageSnapshot demoSnapshot(Provider provider, const DemoConstants& c, const QDateTime& timestamp, double used)
{
    UsageSnapshot s;
    s.provider = provider;
    s.timestamp = timestamp;
    s.usedPercent = roundToTenth(used);
    s.remainingPercent = std::max(0.0, 100 - s.usedPercent);
    s.modelId = c.modelId;
    s.modelDisplayName = c.modelDisplayName;
    s.effortLevel = QStringLiteral("medium");
    s.thinkingEnabled = c.thinkingEnabled;
    s.speedMode = c.speedMode;
    s.planType = c.planType;
    s.source = QStringLiteral("demo");
    s.sourceConfidence = SourceConfidence::high;
    return s;
}

QDateTime secondsBefore(const QDateTime& now, double seconds)
{
    return now.addMSecs(-std::llround(seconds * 1000));
}

} // namespace

ProviderHealth DemoProvider::health() const
{
    return {ProviderHealth::State::demo, QStringLiteral("Synthetic data"), QDateTime::currentDateTimeUtc(),
            std::nullopt};
}

void DemoProvider::start(UpdateCallback) {}

void DemoProvider::stop() {}

QList<UsageSnapshot> DemoProvider::history(Provider provider, const QDateTime& now)
{
    const DemoConstants c = constantsFor(provider);
    QList<UsageSnapshot> result;
    result.reserve(23);

    const QDateTime fiveHourReset = now.addSecs(c.fiveHourResetIn);
    const QDateTime windowStart = fiveHourReset.addSecs(-18'000);
    const double elapsedMinutes = double(windowStart.msecsTo(now)) / 60'000;
    const double spanSeconds = std::min(elapsedMinutes, 120.0) * 60;
    for (int i = 0; i <= 12; ++i) {
        const double f = i / 12.0;
        UsageSnapshot s = demoSnapshot(provider, c, secondsBefore(now, spanSeconds * (1 - f)),
                                       c.fiveHourPeak * std::pow(f, 0.78));
        s.windowKind = WindowKind::fiveHour;
        s.limitId = c.fiveHourLimitId;
        s.limitName = QStringLiteral("5-hour limit");
        s.windowDurationMins = 300;
        s.resetAt = fiveHourReset;
        result.append(s);
    }

    const QDateTime sevenDayReset = now.addSecs(c.sevenDayResetIn);
    for (int i = 0; i <= 9; ++i) {
        const double f = i / 9.0;
        UsageSnapshot s = demoSnapshot(provider, c, secondsBefore(now, double(c.sevenDaySpan) * (1 - f)),
                                       c.sevenDayPeak * f);
        s.windowKind = WindowKind::sevenDay;
        s.limitId = c.sevenDayLimitId;
        s.limitName = QStringLiteral("7-day range");
        s.windowDurationMins = 10'080;
        s.resetAt = sevenDayReset;
        result.append(s);
    }
    return result;
}

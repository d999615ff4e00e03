#include "core/forecast/ScenarioEngine.h"

#include "core/forecast/ForecastEngine.h"
#include "core/forecast/ForecastMath.h"
#include "core/model/ScenarioMultipliers.h"
#include "core/text/NumberFormatting.h"

#include <cmath>

namespace ScenarioEngine {

namespace {

constexpr double maximumProjected = 140;
// Below this many points still to come there is nothing worth comparing.
constexpr double minimumFutureAdditional = 0.1;

struct Context
{
    double currentUsed;
    double futureAdditional;
    const UsageSnapshot& snapshot;
    SourceConfidence confidence;
    QDateTime now;
};

std::optional<QDateTime> runOut(const Context& context, double projected)
{
    if (!context.snapshot.resetAt || !context.snapshot.resetAt->isValid())
        return std::nullopt;
    return ForecastEngine::runOutAt(context.currentUsed, projected, context.now, *context.snapshot.resetAt);
}

// The window with the rest of its burn scaled by `relativeBurn`.
ScenarioResult scaled(const Context& context, double relativeBurn)
{
    const double unclamped = context.currentUsed + context.futureAdditional * relativeBurn;
    ScenarioResult result;
    result.projectedUsedAtReset = ForecastMath::clampNumber(unclamped, 0, maximumProjected);
    // From the unclamped burn: the saving is real even where the projection hits the display cap.
    result.estimatedSavingPercent = context.futureAdditional * (1 - relativeBurn);
    result.runOutAt = runOut(context, unclamped);
    result.confidence = context.confidence;
    return result;
}

// The ladder's level as people say it: "xhigh" is "extra high".
QString levelWords(const QString& level)
{
    return level == QStringLiteral("xhigh") ? QStringLiteral("extra high") : level;
}

ScenarioResult effortScenario(const Context& context, const QString& level, double target, double current,
                              bool effortAssumed)
{
    ScenarioResult result = scaled(context, target / current);
    const QString words = levelWords(level);
    result.title = words.at(0).toUpper() + words.mid(1) + QStringLiteral(" effort");
    result.description = QStringLiteral("Switching to ") + words + QStringLiteral(" effort: ~") +
                         NumberFormatting::percent(result.projectedUsedAtReset) +
                         QStringLiteral(" used by reset");
    result.assumptions << QStringLiteral("Estimate based on conservative default multipliers.");
    if (effortAssumed)
        result.assumptions << QStringLiteral("Current effort unknown; assumed high.");
    return result;
}

ScenarioResult fastModeScenario(const Context& context)
{
    const std::optional<double> currentSpeed =
        context.snapshot.speedMode ? ScenarioMultipliers::speedMultiplier(*context.snapshot.speedMode)
                                   : std::nullopt;
    ScenarioResult result;
    double factor = 0;
    if (currentSpeed && *currentSpeed > 1) {
        factor = *currentSpeed;
        result = scaled(context, 1 / factor);
        result.title = QStringLiteral("Fast Mode off");
        result.description = QStringLiteral("Turning Fast Mode off: ~") +
                             NumberFormatting::percent(result.projectedUsedAtReset) +
                             QStringLiteral(" used by reset");
    } else {
        factor = ScenarioMultipliers::codexSpeed().value(QStringLiteral("fast-gpt-5.5"), 2.5);
        result = scaled(context, factor);
        result.title = QStringLiteral("Fast Mode on");
        result.description = QStringLiteral("Switching to Fast Mode: ~") +
                             NumberFormatting::percent(result.projectedUsedAtReset) +
                             QStringLiteral(" used by reset");
    }
    result.assumptions << QStringLiteral("Assumes Fast Mode ~") + NumberFormatting::fixed(factor, 1) +
                              QStringLiteral("× the standard burn.");
    return result;
}

} // namespace

QList<ScenarioResult> scenarios(Provider provider, double currentUsed, double futureAdditional,
                                const UsageSnapshot& snapshot, SourceConfidence confidence,
                                const QDateTime& now)
{
    QList<ScenarioResult> results;
    // A non-finite remainder has nothing meaningful to scale.
    if (!std::isfinite(futureAdditional) || futureAdditional <= minimumFutureAdditional)
        return results;
    const Context context{currentUsed, futureAdditional, snapshot, confidence, now};

    const bool effortAssumed = !snapshot.effortLevel.has_value();
    const QString effort = effortAssumed ? QStringLiteral("high") : snapshot.effortLevel->toLower();
    const double current = ScenarioMultipliers::effortMultiplier(provider, effort).value_or(1.0);

    const QStringList& ladder = ScenarioMultipliers::effortLadder(provider);
    const qsizetype index = ladder.indexOf(effort);
    const qsizetype levels = ladder.size();
    const auto effortAt = [&](qsizetype at) {
        const QString& level = ladder.at(at);
        if (const std::optional<double> target = ScenarioMultipliers::effortMultiplier(provider, level))
            results << effortScenario(context, level, *target, current, effortAssumed);
    };

    // One step down, one up, then the top of the ladder when that is further.
    if (index > 0)
        effortAt(index - 1);
    if (index >= 0 && index < levels - 1)
        effortAt(index + 1);
    if (provider == Provider::codex)
        results << fastModeScenario(context);
    if (index >= 0 && index < levels - 2)
        effortAt(levels - 1);
    return results;
}

} // namespace ScenarioEngine

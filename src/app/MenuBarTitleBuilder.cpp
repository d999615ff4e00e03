#include "app/MenuBarTitleBuilder.h"

#include "app/AppState.h"
#include "app/StateQueries.h"
#include "core/NumberFormatting.h"
#include "core/TimeFormatting.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace MenuBarTitleBuilder {

namespace {

const QString kNoFigures = QStringLiteral("AI ") + NumberFormatting::dash;

struct Candidate
{
    Provider provider;
    ForecastResult fiveHour;
};

double shownValue(const ForecastResult& f, bool showRemaining)
{
    const double v = showRemaining ? 100 - f.currentUsedPercent : f.currentUsedPercent;
    return v < 0 ? 0 : v;
}

QString truncated(double value)
{
    if (!std::isfinite(value))
        return NumberFormatting::dash;
    return QString::number(static_cast<qint64>(std::trunc(value)));
}

QString compactTitle(const QList<Candidate>& candidates, bool showRemaining)
{
    QStringList parts;
    for (const Candidate& c : candidates) {
        const QString value = truncated(shownValue(c.fiveHour, showRemaining));
        parts.append(shortLabel(c.provider) + QLatin1Char(' ') +
                     (value == NumberFormatting::dash ? value : value + QLatin1Char('%')));
    }
    return QStringLiteral("AI  ") + parts.join(QStringLiteral(" · "));
}

QString minimalTitle(const QList<Candidate>& candidates, bool showRemaining)
{
    QStringList parts;
    for (const Candidate& c : candidates)
        parts.append(truncated(shownValue(c.fiveHour, showRemaining)));
    return QStringLiteral("AI ") + parts.join(QLatin1Char('/'));
}

QString forecastTitle(const QList<Candidate>& candidates)
{
    const Candidate* worst = &candidates.first();
    for (const Candidate& c : candidates)
        if (severityRank(c.fiveHour.status) > severityRank(worst->fiveHour.status))
            worst = &c;
    const ForecastResult& f = worst->fiveHour;
    if (f.status == ForecastStatus::limitLikely) {
        if (f.estimatedTimeToLimit)
            return QStringLiteral("AI  ") + TimeFormatting::countdown(f.estimatedTimeToLimit) +
                   QStringLiteral(" left");
        return QStringLiteral("AI  Limit likely");
    }
    return QStringLiteral("AI  ") + statusWord(f.status);
}

QString focusTitle(const QList<Candidate>& candidates, const QMap<QString, ForecastResult>& forecasts,
                   const AppSettings& settings)
{
    const auto focused = std::find_if(candidates.cbegin(), candidates.cend(), [&](const Candidate& c) {
        return c.provider == settings.focusedProvider;
    });
    const Candidate& chosen = focused != candidates.cend() ? *focused : candidates.first();
    QString text = displayName(chosen.provider) + QLatin1Char(' ') +
                   NumberFormatting::percent(shownValue(chosen.fiveHour, settings.showRemaining));
    for (WindowKind window : {WindowKind::sevenDay, WindowKind::weekly}) {
        if (const auto longWindow = StateQueries::forecast(forecasts, chosen.provider, window)) {
            text += QStringLiteral(" · ") + ::shortLabel(window) + QLatin1Char(' ') +
                    NumberFormatting::percent(shownValue(*longWindow, settings.showRemaining));
            break;
        }
    }
    return text;
}

} // namespace

QString title(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings)
{
    const MenuBarDisplayMode mode = settings.menuBarDisplayMode;
    if (mode == MenuBarDisplayMode::iconOnly)
        return {};

    QList<Candidate> candidates;
    for (Provider provider : StateQueries::sortedEnabledProviders(settings))
        if (const auto f = StateQueries::forecast(forecasts, provider, WindowKind::fiveHour))
            candidates.append({provider, *f});
    if (candidates.isEmpty())
        return kNoFigures;

    switch (mode) {
    case MenuBarDisplayMode::compact:
        return compactTitle(candidates, settings.showRemaining);
    case MenuBarDisplayMode::minimal:
        return minimalTitle(candidates, settings.showRemaining);
    case MenuBarDisplayMode::forecast:
        return forecastTitle(candidates);
    case MenuBarDisplayMode::providerFocus:
        return focusTitle(candidates, forecasts, settings);
    case MenuBarDisplayMode::autoMode:
        if (candidates.size() == 1)
            return focusTitle(candidates, forecasts, settings);
        if (std::any_of(candidates.cbegin(), candidates.cend(),
                        [](const Candidate& c) { return isRiskyOrWorse(c.fiveHour.status); }))
            return forecastTitle(candidates);
        return compactTitle(candidates, settings.showRemaining);
    case MenuBarDisplayMode::iconOnly:
        break;
    }
    return {};
}

QString title(const AppState& state)
{
    return title(state.forecasts(), state.settings());
}

QString buttonTitle(const QString& title)
{
    return title.isEmpty() ? QString() : QLatin1Char(' ') + title;
}

StatusIcon statusIcon(ForecastStatus globalStatus)
{
    switch (globalStatus) {
    case ForecastStatus::safe:
        return StatusIcon::gauge67;
    case ForecastStatus::watch:
        return StatusIcon::gauge50;
    case ForecastStatus::risky:
    case ForecastStatus::limitLikely:
        return StatusIcon::gauge100;
    case ForecastStatus::limited:
        return StatusIcon::warning;
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        break;
    }
    return StatusIcon::gauge0;
}

QString iconName(StatusIcon icon)
{
    switch (icon) {
    case StatusIcon::gauge0:
        return QStringLiteral("gauge-0");
    case StatusIcon::gauge50:
        return QStringLiteral("gauge-50");
    case StatusIcon::gauge67:
        return QStringLiteral("gauge-67");
    case StatusIcon::gauge100:
        return QStringLiteral("gauge-100");
    case StatusIcon::warning:
        return QStringLiteral("warning");
    }
    return QStringLiteral("gauge-0");
}

QString statusWord(ForecastStatus status)
{
    return label(status);
}

QString tooltip(ForecastStatus globalStatus)
{
    return QStringLiteral("Tallyvane — ") + statusWord(globalStatus) + QStringLiteral("  (Ctrl+Alt+G)");
}

QString shortLabel(Provider provider)
{
    return provider == Provider::codex ? QStringLiteral("C") : QStringLiteral("Cl");
}

} // namespace MenuBarTitleBuilder

#include "app/MenuBarTitleBuilder.h"

#include "app/AppState.h"
#include "app/StateQueries.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace MenuBarTitleBuilder {

namespace {

const QString kNoFigures = QStringLiteral("AI ") + NumberFormatting::dash;

// The largest figure a title shows; three digits, as the tray icon has room for.
constexpr double kLargestShown = 999;

// A shown value (within 0..999) without its percent sign.
QString whole(double value)
{
    if (!std::isfinite(value))
        return NumberFormatting::dash;
    return QString::number(static_cast<qint64>(NumberFormatting::rounded(value)));
}

QString compactTitle(const QList<ForecastResult>& candidates, bool showRemaining)
{
    QStringList parts;
    for (const ForecastResult& c : candidates) {
        const QString value = whole(shownValue(c, showRemaining));
        parts.append(shortLabel(c.provider) + QLatin1Char(' ') +
                     (value == NumberFormatting::dash ? value : value + QLatin1Char('%')));
    }
    return QStringLiteral("AI  ") + parts.join(QStringLiteral(" · "));
}

QString minimalTitle(const QList<ForecastResult>& candidates, bool showRemaining)
{
    QStringList parts;
    for (const ForecastResult& c : candidates)
        parts.append(whole(shownValue(c, showRemaining)));
    return QStringLiteral("AI ") + parts.join(QLatin1Char('/'));
}

QString forecastTitle(const ForecastResult& worst)
{
    if (worst.status == ForecastStatus::limitLikely) {
        if (worst.estimatedTimeToLimit)
            return QStringLiteral("AI  ") + TimeFormatting::countdown(worst.estimatedTimeToLimit) +
                   QStringLiteral(" left");
        return QStringLiteral("AI  Limit likely");
    }
    return QStringLiteral("AI  ") + statusWord(worst.status);
}

QString focusTitle(const ForecastResult& chosen, const QMap<QString, ForecastResult>& forecasts,
                   bool showRemaining)
{
    QString text = displayName(chosen.provider) + QLatin1Char(' ') +
                   NumberFormatting::percent(shownValue(chosen, showRemaining));
    for (WindowKind window : {WindowKind::sevenDay, WindowKind::weekly}) {
        if (const auto longWindow = StateQueries::forecast(forecasts, chosen.provider, window)) {
            text += QStringLiteral(" · ") + ::shortLabel(window) + QLatin1Char(' ') +
                    NumberFormatting::percent(shownValue(*longWindow, showRemaining));
            break;
        }
    }
    return text;
}

// The most severe status; between equals the fuller window, so that the icon, the title and a status bar
// all name the window that runs out first.
const ForecastResult& mostUrgent(const QList<ForecastResult>& candidates)
{
    const ForecastResult* worst = &candidates.first();
    const auto used = [](const ForecastResult& f) {
        return std::isfinite(f.currentUsedPercent) ? f.currentUsedPercent : -1.0;
    };
    for (const ForecastResult& c : candidates) {
        const int rank = severityRank(c.status);
        const int worstRank = severityRank(worst->status);
        if (rank > worstRank || (rank == worstRank && used(c) > used(*worst)))
            worst = &c;
    }
    return *worst;
}

} // namespace

double shownValue(const ForecastResult& forecast, bool showRemaining)
{
    const double v = showRemaining ? 100 - forecast.currentUsedPercent : forecast.currentUsedPercent;
    if (std::isnan(v))
        return v;
    return std::clamp(v, 0.0, kLargestShown);
}

std::optional<Leading> resolve(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings)
{
    Leading leading;
    for (Provider provider : StateQueries::sortedEnabledProviders(settings))
        if (const auto f = StateQueries::forecast(forecasts, provider, WindowKind::fiveHour))
            leading.candidates.append(*f);
    if (leading.candidates.isEmpty())
        return std::nullopt;

    leading.mode = settings.menuBarDisplayMode;
    if (leading.mode == MenuBarDisplayMode::autoMode) {
        if (leading.candidates.size() == 1)
            leading.mode = MenuBarDisplayMode::providerFocus;
        else if (std::any_of(leading.candidates.cbegin(), leading.candidates.cend(),
                             [](const ForecastResult& c) { return isRiskyOrWorse(c.status); }))
            leading.mode = MenuBarDisplayMode::forecast;
        else
            leading.mode = MenuBarDisplayMode::compact;
    }
    if (leading.mode == MenuBarDisplayMode::providerFocus) {
        const auto focused =
            std::find_if(leading.candidates.cbegin(), leading.candidates.cend(),
                         [&](const ForecastResult& c) { return c.provider == settings.trayProvider; });
        leading.forecast = focused != leading.candidates.cend() ? *focused : leading.candidates.first();
    } else {
        leading.forecast = mostUrgent(leading.candidates);
    }
    return leading;
}

std::optional<qint64> figure(const Leading& leading, bool showRemaining)
{
    const double value = shownValue(leading.forecast, showRemaining);
    if (!std::isfinite(value))
        return std::nullopt;
    return static_cast<qint64>(NumberFormatting::rounded(value));
}

QString title(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings)
{
    if (settings.menuBarDisplayMode == MenuBarDisplayMode::iconOnly)
        return {};
    const std::optional<Leading> leading = resolve(forecasts, settings);
    if (!leading)
        return kNoFigures;

    switch (leading->mode) {
    case MenuBarDisplayMode::compact:
        return compactTitle(leading->candidates, settings.showRemaining);
    case MenuBarDisplayMode::minimal:
        return minimalTitle(leading->candidates, settings.showRemaining);
    case MenuBarDisplayMode::forecast:
        return forecastTitle(leading->forecast);
    case MenuBarDisplayMode::providerFocus:
        return focusTitle(leading->forecast, forecasts, settings.showRemaining);
    case MenuBarDisplayMode::autoMode:
    case MenuBarDisplayMode::iconOnly:
        break;
    }
    return {};
}

QString title(const AppState& state)
{
    return title(state.forecasts(), state.settings());
}

QString spelledOut(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings)
{
    const std::optional<Leading> leading = resolve(forecasts, settings);
    if (!leading)
        return NumberFormatting::dash;
    QStringList parts;
    for (const ForecastResult& c : leading->candidates)
        parts.append(displayName(c.provider) + QLatin1Char(' ') +
                     NumberFormatting::percent(shownValue(c, settings.showRemaining)) +
                     (settings.showRemaining ? QStringLiteral(" left") : QStringLiteral(" used")));
    return parts.join(QStringLiteral(" · "));
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

QString tooltip(ForecastStatus globalStatus, bool shortcutActive)
{
    const QString line = QStringLiteral("Tallyvane — ") + statusWord(globalStatus);
    return shortcutActive ? line + QStringLiteral("  (Ctrl+Alt+G)") : line;
}

QString noTrayNotice(bool shortcutActive)
{
    return QStringLiteral(
               "Your desktop shows no tray icons (on GNOME, the AppIndicator extension adds them). "
               "Closing this window keeps Tallyvane running: ") +
           (shortcutActive ? QStringLiteral("Ctrl+Alt+G or starting Tallyvane again opens it.")
                           : QStringLiteral("starting Tallyvane again opens it."));
}

QString shortLabel(Provider provider)
{
    return provider == Provider::codex ? QStringLiteral("C") : QStringLiteral("Cl");
}

} // namespace MenuBarTitleBuilder

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

// " work" after a figure of an assistant with several accounts; empty otherwise.
QString accountSuffix(const Candidate& c)
{
    return c.account.isEmpty() ? QString() : QLatin1Char(' ') + c.account;
}

QString compactTitle(const QList<Candidate>& candidates, bool showRemaining)
{
    QStringList parts;
    for (const Candidate& c : candidates) {
        const QString value = whole(shownValue(c.forecast, showRemaining));
        parts.append(shortLabel(c.forecast.provider) + QLatin1Char(' ') +
                     (value == NumberFormatting::dash ? value : value + QLatin1Char('%')) + accountSuffix(c));
    }
    return QStringLiteral("AI  ") + parts.join(QStringLiteral(" · "));
}

QString minimalTitle(const QList<Candidate>& candidates, bool showRemaining)
{
    QStringList parts;
    for (const Candidate& c : candidates)
        parts.append(whole(shownValue(c.forecast, showRemaining)) + accountSuffix(c));
    return QStringLiteral("AI ") + parts.join(QLatin1Char('/'));
}

QString forecastTitle(const Candidate& worst)
{
    const ForecastResult& f = worst.forecast;
    QString text = QStringLiteral("AI  ") + statusWord(f.status);
    if (f.status == ForecastStatus::limitLikely && f.estimatedTimeToLimit)
        text = QStringLiteral("AI  ") + TimeFormatting::countdown(f.estimatedTimeToLimit) +
               QStringLiteral(" left");
    return worst.account.isEmpty() ? text : text + QStringLiteral(" \u00b7 ") + worst.account;
}

// "Claude Code", or "Claude Code · work" for one of several accounts, as the cards are titled.
QString nameOf(const Candidate& c)
{
    const QString name = displayName(c.forecast.provider);
    return c.account.isEmpty() ? name : name + QStringLiteral(" \u00b7 ") + c.account;
}

QString focusTitle(const Candidate& chosen, bool showRemaining)
{
    QString text = nameOf(chosen) + QLatin1Char(' ') +
                   NumberFormatting::percent(shownValue(chosen.forecast, showRemaining));
    if (const auto& longWindow = chosen.longWindow)
        text += QStringLiteral(" · ") + ::shortLabel(longWindow->windowKind) + QLatin1Char(' ') +
                NumberFormatting::percent(shownValue(*longWindow, showRemaining));
    return text;
}

// The most severe status; between equals the fuller window, so that the icon, the title and a status bar
// all name the window that runs out first.
const Candidate& mostUrgent(const QList<Candidate>& candidates)
{
    const Candidate* worst = &candidates.first();
    const auto used = [](const Candidate& c) {
        return std::isfinite(c.forecast.currentUsedPercent) ? c.forecast.currentUsedPercent : -1.0;
    };
    for (const Candidate& c : candidates) {
        const int rank = severityRank(c.forecast.status);
        const int worstRank = severityRank(worst->forecast.status);
        if (rank > worstRank || (rank == worstRank && used(c) > used(*worst)))
            worst = &c;
    }
    return *worst;
}

// One account's candidate: its 5-hour window and the long window provider focus shows; absent without
// a 5-hour window.
std::optional<Candidate> candidateOf(const QList<ForecastResult>& windows, const QString& account)
{
    const auto find = [&](WindowKind kind) -> std::optional<ForecastResult> {
        for (const ForecastResult& f : windows)
            if (f.windowKind == kind)
                return f;
        return std::nullopt;
    };
    const auto fiveHour = find(WindowKind::fiveHour);
    if (!fiveHour)
        return std::nullopt;
    auto longWindow = find(WindowKind::sevenDay);
    if (!longWindow)
        longWindow = find(WindowKind::weekly);
    return Candidate{*fiveHour, longWindow, account};
}

} // namespace

double shownValue(const ForecastResult& forecast, bool showRemaining)
{
    const double v = showRemaining ? 100 - forecast.currentUsedPercent : forecast.currentUsedPercent;
    if (std::isnan(v))
        return v;
    return std::clamp(v, 0.0, kLargestShown);
}

std::optional<Leading> resolve(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                               const QList<AccountForecasts>& accounts)
{
    Leading leading;
    for (Provider provider : StateQueries::sortedEnabledProviders(settings)) {
        QList<ForecastResult> own;
        for (const ForecastResult& f : forecasts)
            if (f.provider == provider)
                own.append(f);
        QList<Candidate> mine;
        // The default account is named only beside others, by its entry in `accounts`.
        QString defaultLabel;
        bool several = false;
        for (const AccountForecasts& account : accounts) {
            if (account.provider != provider)
                continue;
            if (account.isDefault) {
                defaultLabel = account.label;
            } else {
                several = true;
                if (const auto c = candidateOf(account.forecasts, account.label))
                    mine.append(*c);
            }
        }
        if (several && defaultLabel.isEmpty())
            defaultLabel = QStringLiteral("default");
        if (const auto c = candidateOf(own, defaultLabel))
            mine.prepend(*c);
        if (!mine.isEmpty())
            leading.candidates.append(mostUrgent(mine));
    }
    if (leading.candidates.isEmpty())
        return std::nullopt;

    leading.mode = settings.menuBarDisplayMode;
    if (leading.mode == MenuBarDisplayMode::autoMode) {
        if (leading.candidates.size() == 1)
            leading.mode = MenuBarDisplayMode::providerFocus;
        else if (std::any_of(leading.candidates.cbegin(), leading.candidates.cend(),
                             [](const Candidate& c) { return isRiskyOrWorse(c.forecast.status); }))
            leading.mode = MenuBarDisplayMode::forecast;
        else
            leading.mode = MenuBarDisplayMode::compact;
    }
    if (leading.mode == MenuBarDisplayMode::providerFocus) {
        const auto focused =
            std::find_if(leading.candidates.cbegin(), leading.candidates.cend(),
                         [&](const Candidate& c) { return c.forecast.provider == settings.trayProvider; });
        leading.chosen = focused != leading.candidates.cend() ? *focused : leading.candidates.first();
    } else {
        leading.chosen = mostUrgent(leading.candidates);
    }
    return leading;
}

std::optional<qint64> figure(const Leading& leading, bool showRemaining)
{
    const double value = shownValue(leading.chosen.forecast, showRemaining);
    if (!std::isfinite(value))
        return std::nullopt;
    return static_cast<qint64>(NumberFormatting::rounded(value));
}

QString title(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
              const QList<AccountForecasts>& accounts)
{
    if (settings.menuBarDisplayMode == MenuBarDisplayMode::iconOnly)
        return {};
    const std::optional<Leading> leading = resolve(forecasts, settings, accounts);
    if (!leading)
        return kNoFigures;

    switch (leading->mode) {
    case MenuBarDisplayMode::compact:
        return compactTitle(leading->candidates, settings.showRemaining);
    case MenuBarDisplayMode::minimal:
        return minimalTitle(leading->candidates, settings.showRemaining);
    case MenuBarDisplayMode::forecast:
        return forecastTitle(leading->chosen);
    case MenuBarDisplayMode::providerFocus:
        return focusTitle(leading->chosen, settings.showRemaining);
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

QString spelledOut(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                   const QList<AccountForecasts>& accounts)
{
    const std::optional<Leading> leading = resolve(forecasts, settings, accounts);
    if (!leading)
        return NumberFormatting::dash;
    QStringList parts;
    for (const Candidate& c : leading->candidates)
        parts.append(nameOf(c) + QLatin1Char(' ') +
                     NumberFormatting::percent(shownValue(c.forecast, settings.showRemaining)) +
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

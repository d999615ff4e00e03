#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>

class AppState;

// The menu-bar text for every display mode, the status icon and the tooltip.
namespace MenuBarTitleBuilder {

// The gauge the tray draws for the overall status.
enum class StatusIcon
{
    gauge0,
    gauge50,
    gauge67,
    gauge100,
    warning
};

// One assistant's window the title may show: the most urgent 5-hour window of its accounts.
struct Candidate
{
    ForecastResult forecast;
    // What provider focus shows beside it: the same account's seven-day window, else its weekly one.
    std::optional<ForecastResult> longWindow;
    // The account's label while its assistant has several accounts with readings; else empty.
    QString account;
};

// What the title and the tray icon's figure lead with.
struct Leading
{
    // The settings' display mode with `auto` decided; never autoMode.
    MenuBarDisplayMode mode = MenuBarDisplayMode::compact;
    // One per enabled provider with a 5-hour forecast, in display order; never empty.
    QList<Candidate> candidates;
    // Provider focus: the focused provider's (else the first); otherwise the most urgent: the most severe,
    // between equals the most used, then the first.
    Candidate chosen;
};

// Absent when no enabled provider has a 5-hour forecast. `accounts` as the bundle lists them: an
// assistant's candidate is the most urgent window of any of its accounts, the default one first on a tie.
[[nodiscard]] std::optional<Leading> resolve(const QMap<QString, ForecastResult>& forecasts,
                                             const AppSettings& settings,
                                             const QList<AccountForecasts>& accounts = {});
// The figure the title shows for a window: used, or remaining with showRemaining; kept within 0..999 so that
// no logged value, however absurd, overflows an integer. NaN stays NaN.
[[nodiscard]] double shownValue(const ForecastResult& forecast, bool showRemaining);

// The leading window's figure as the title shows it, rounded as every face rounds (NumberFormatting); the
// tray icon and a status bar's percentage show this same number. Absent when not finite.
[[nodiscard]] std::optional<qint64> figure(const Leading& leading, bool showRemaining);

// The title for the settings' display mode over forecasts keyed by ForecastResult::id(); may be empty.
// An assistant with several accounts has its figure followed by the label of the account it shows.
[[nodiscard]] QString title(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                            const QList<AccountForecasts>& accounts = {});
// The compact title spelled out for a log: "Codex 30% left · Claude Code · work 90% left"; a dash without
// figures.
[[nodiscard]] QString spelledOut(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                                 const QList<AccountForecasts>& accounts = {});
// " " + title, or empty for an empty title.
[[nodiscard]] QString buttonTitle(const QString& title);

[[nodiscard]] StatusIcon statusIcon(ForecastStatus globalStatus);
// "gauge-0", "gauge-50", "gauge-67", "gauge-100", "warning".
[[nodiscard]] QString iconName(StatusIcon icon);
// "Safe", "Limit likely", ...
[[nodiscard]] QString statusWord(ForecastStatus status);
// "Tallyvane — Safe  (Ctrl+Alt+G)"; without the shortcut when no key grab or portal binding serves it.
[[nodiscard]] QString tooltip(ForecastStatus globalStatus, bool shortcutActive = true);
// The line above the window on a desktop without a tray: why, and how the window comes back once closed.
[[nodiscard]] QString noTrayNotice(bool shortcutActive);

// "C", "Cl".
[[nodiscard]] QString shortLabel(Provider provider);

} // namespace MenuBarTitleBuilder

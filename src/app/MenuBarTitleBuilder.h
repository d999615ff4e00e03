#pragma once

#include "core/AppSettings.h"
#include "core/Enums.h"
#include "core/ForecastModels.h"

#include <QMap>
#include <QString>

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

// The title for the settings' display mode over forecasts keyed by ForecastResult::id(); may be empty.
[[nodiscard]] QString title(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings);
[[nodiscard]] QString title(const AppState& state);
// " " + title, or empty for an empty title.
[[nodiscard]] QString buttonTitle(const QString& title);

[[nodiscard]] StatusIcon statusIcon(ForecastStatus globalStatus);
// "gauge-0", "gauge-50", "gauge-67", "gauge-100", "warning".
[[nodiscard]] QString iconName(StatusIcon icon);
// "Safe", "Limit likely", ...
[[nodiscard]] QString statusWord(ForecastStatus status);
// "Tallyvane — Safe  (Ctrl+Alt+G)".
[[nodiscard]] QString tooltip(ForecastStatus globalStatus);

// "C", "Cl".
[[nodiscard]] QString shortLabel(Provider provider);

} // namespace MenuBarTitleBuilder

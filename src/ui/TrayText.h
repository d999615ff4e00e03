#pragma once

#include "core/AppSettings.h"
#include "core/Enums.h"
#include "core/ForecastModels.h"

#include <QMap>
#include <QString>

// What the tray shows besides the gauge: trays cannot show text beside the icon, so the title moves into the
// tooltip and, in the numeric display modes, the figure that matters most goes into the icon.
namespace TrayText {

// The title on the first line, then "Tallyvane — " + status word + "  (Ctrl+Alt+G)"; only the second line
// when the title is empty.
[[nodiscard]] QString toolTip(const QString& title, ForecastStatus globalStatus);

// The number drawn into the icon, or empty when the display mode shows no number: the shown value of the
// 5-hour window the title leads with (compact and minimal: the most severe provider, truncated; provider
// focus: the focused provider, rounded; auto: whichever of those it resolves to).
[[nodiscard]] QString figure(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings);

} // namespace TrayText

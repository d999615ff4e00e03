#include "ui/TrayText.h"

#include "app/MenuBarTitleBuilder.h"

#include <cmath>

namespace TrayText {

QString toolTip(const QString& title, ForecastStatus globalStatus, bool shortcutActive)
{
    const QString line = MenuBarTitleBuilder::tooltip(globalStatus, shortcutActive);
    return title.isEmpty() ? line : title + QLatin1Char('\n') + line;
}

QString figure(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings)
{
    const auto leading = MenuBarTitleBuilder::resolve(forecasts, settings);
    if (!leading)
        return {};
    const double value = MenuBarTitleBuilder::shownValue(leading->forecast, settings.showRemaining);
    if (!std::isfinite(value))
        return {};
    switch (leading->mode) {
    case MenuBarDisplayMode::providerFocus:
        return QString::number(std::lround(value));
    case MenuBarDisplayMode::compact:
    case MenuBarDisplayMode::minimal:
        return QString::number(static_cast<qint64>(std::trunc(value)));
    case MenuBarDisplayMode::iconOnly:
    case MenuBarDisplayMode::forecast:
    case MenuBarDisplayMode::autoMode:
        break;
    }
    return {};
}

} // namespace TrayText

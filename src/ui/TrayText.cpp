#include "ui/TrayText.h"

#include "app/MenuBarTitleBuilder.h"

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
    const std::optional<qint64> value = MenuBarTitleBuilder::figure(*leading, settings.showRemaining);
    if (!value)
        return {};
    switch (leading->mode) {
    case MenuBarDisplayMode::providerFocus:
    case MenuBarDisplayMode::compact:
    case MenuBarDisplayMode::minimal:
        return QString::number(*value);
    case MenuBarDisplayMode::iconOnly:
    case MenuBarDisplayMode::forecast:
    case MenuBarDisplayMode::autoMode:
        break;
    }
    return {};
}

} // namespace TrayText

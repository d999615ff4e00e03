#include "ui/TrayText.h"

#include "app/MenuBarTitleBuilder.h"

namespace TrayText {

QString toolTip(const QString& title, ForecastStatus globalStatus, bool shortcutActive)
{
    const QString line = MenuBarTitleBuilder::tooltip(globalStatus, shortcutActive);
    return title.isEmpty() ? line : title + QLatin1Char('\n') + line;
}

} // namespace TrayText

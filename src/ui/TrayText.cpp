#include "ui/TrayText.h"

#include "app/MenuBarTitleBuilder.h"

namespace TrayText {

QString toolTip(const QString& title, ForecastStatus globalStatus, bool shortcutActive,
                const QStringList& machines)
{
    QStringList lines{MenuBarTitleBuilder::tooltip(globalStatus, shortcutActive)};
    if (!title.isEmpty())
        lines.prepend(title);
    return (lines + machines).join(QLatin1Char('\n'));
}

} // namespace TrayText

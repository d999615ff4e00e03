#pragma once

#include "core/model/AppSettings.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"

#include <QMap>
#include <QString>
#include <QStringList>

// What the tray shows besides the gauge: trays cannot show text beside the icon, so the title moves into the
// tooltip and, in the numeric display modes, the figure that matters most goes into the icon.
namespace TrayText {

// The title on the first line, then "Tallyvane — " + status word + "  (Ctrl+Alt+G)"; only the second line
// when the title is empty. The shortcut is named only while a key grab or portal binding serves it. Each
// other machine's health follows on a line of its own.
[[nodiscard]] QString toolTip(const QString& title, ForecastStatus globalStatus, bool shortcutActive,
                              const QStringList& machines = {});

} // namespace TrayText

#pragma once

#include "core/model/Enums.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QString>

// The tray icon: a round gauge whose needle shows the overall status, or a warning triangle once a limit is
// hit, on a dark tile like the application icon's, so that it reads on light and dark bars alike. Trays
// cannot show text beside the icon, so a short figure can be drawn into it.
namespace GaugeIcon {

enum class Shape
{
    gauge,
    warningTriangle
};

// Sizes handed to the tray; StatusNotifierItem hosts drop anything over 64 px.
inline const QList<int> sizes{16, 22, 24, 32, 48, 64};

// The needle position as a fraction of the dial: 0 for no data or unknown, 0.67 safe, 0.5 watch, 1 risky and
// limit likely. Absent for limited, which draws the triangle.
[[nodiscard]] std::optional<double> needleFraction(ForecastStatus status);
[[nodiscard]] Shape shape(ForecastStatus status);
// The colour of the status: needle, triangle, the dot before each forecast line in the panel.
[[nodiscard]] QColor statusColor(ForecastStatus status);

// One square image of the given edge (clamped to 16..64). figure, when not empty, is drawn in solid digits
// across the lower part, the gauge made smaller above it (at most three characters are kept).
[[nodiscard]] QImage render(ForecastStatus status, int size, const QString& figure = {});
// Every size in sizes.
[[nodiscard]] QIcon icon(ForecastStatus status, const QString& figure = {});

} // namespace GaugeIcon

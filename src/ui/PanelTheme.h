#pragma once

#include "core/model/Enums.h"

#include <QColor>
#include <QFont>
#include <QPalette>

// The panel's small colour vocabulary on top of the desktop palette: the five status colours, in a light
// and a dark variant chosen by the palette's window lightness, and the card background.
namespace PanelTheme {

inline constexpr int inset = 12;
inline constexpr int cardSpacing = 10;
inline constexpr int cardPadding = 12;
inline constexpr int cardRadius = 10;

[[nodiscard]] bool isDark(const QPalette& palette);
[[nodiscard]] QColor color(ColorRole role, const QPalette& palette);
[[nodiscard]] QColor statusColor(ForecastStatus status, const QPalette& palette);
// `base` blended towards `text` (light) or towards white (dark).
[[nodiscard]] QColor cardBackground(const QPalette& palette);
// The colour of secondary text (subtitles, reset lines, axis labels, hints): the palette's window text
// blended towards its window colour, as far as it stays well above 4.5:1 against the window and the card
// background. Derived rather than taken from the palette, whose own secondary roles a partial colour scheme
// leaves at the light defaults.
[[nodiscard]] QColor mutedText(const QPalette& palette);
// WCAG contrast ratio of two opaque colours, 1 to 21.
[[nodiscard]] double contrast(const QColor& a, const QColor& b);
// `color` with the given opacity.
[[nodiscard]] QColor faded(QColor color, double opacity);
// The base font scaled, optionally semibold. (Qt 6.4 cannot ask for tabular figures; the desktop sans
// fonts of Debian draw digits of one width by default.)
[[nodiscard]] QFont font(const QFont& base, double scale, bool semibold = false);

} // namespace PanelTheme

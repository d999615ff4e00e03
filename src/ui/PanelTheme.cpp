#include "ui/PanelTheme.h"

#include <algorithm>
#include <cmath>

namespace PanelTheme {

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor color(ColorRole role, const QPalette& palette)
{
    // Each colour reads at 4.5:1 or better on the card background of its theme.
    struct Pair
    {
        QRgb light;
        QRgb dark;
    };
    static constexpr Pair table[] = {
        {0x5B6470, 0x9AA3AE}, // neutral
        {0x177A42, 0x4CC38A}, // safe
        {0x8F5E00, 0xF2B84B}, // watch
        {0xC2410C, 0xFF8A4C}, // risky
        {0xB91C1C, 0xFF6B6B}, // limited
    };
    const Pair& pair = table[static_cast<int>(role)];
    return QColor::fromRgb(isDark(palette) ? pair.dark : pair.light);
}

QColor statusColor(ForecastStatus status, const QPalette& palette)
{
    return color(colorRole(status), palette);
}

namespace {

QColor blend(const QColor& from, const QColor& to, double share)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * share),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * share),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * share));
}

} // namespace

QColor cardBackground(const QPalette& palette)
{
    const QColor base = palette.color(QPalette::Base);
    if (isDark(palette))
        return blend(base, Qt::white, 0.06);
    return blend(base, palette.color(QPalette::Text), 0.04);
}

double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor mutedText(const QPalette& palette)
{
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    const QColor card = cardBackground(palette);
    // 5.5:1 leaves room for anti-aliased strokes, which never quite reach the colour itself.
    constexpr double wanted = 5.5;
    for (double share = 0.45; share > 0.001; share -= 0.05) {
        const QColor muted = blend(text, window, share);
        if (contrast(muted, window) >= wanted && contrast(muted, card) >= wanted)
            return muted;
    }
    return text;
}

QColor faded(QColor color, double opacity)
{
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QFont font(const QFont& base, double scale, bool semibold)
{
    QFont result = base;
    if (scale != 1.0) {
        if (base.pointSizeF() > 0)
            result.setPointSizeF(base.pointSizeF() * scale);
        else
            result.setPixelSize(qRound(base.pixelSize() * scale));
    }
    if (semibold)
        result.setWeight(QFont::DemiBold);
    return result;
}

} // namespace PanelTheme

#include "ui/GaugeIcon.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QPixmap>

#include <cmath>
#include <numbers>

namespace {

// Share of pixels of the status colour in a region: needle tips, triangles and figures show up there.
double shareOfColour(const QImage& image, const QRect& region, const QColor& colour)
{
    int hits = 0;
    int total = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            ++total;
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 200 && std::abs(pixel.red() - colour.red()) < 40 &&
                std::abs(pixel.green() - colour.green()) < 40 && std::abs(pixel.blue() - colour.blue()) < 40)
                ++hits;
        }
    }
    return total ? double(hits) / total : 0;
}

double relativeLuminance(const QColor& colour)
{
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

// Share of the pixels of a region that stand out from the bar behind the icon: a contrast ratio of at least 3
// to the bar's colour, the least that graphics need to be told apart.
double standingOut(const QImage& icon, const QColor& bar, const QRect& region)
{
    QImage onBar(icon.size(), QImage::Format_ARGB32);
    onBar.fill(bar);
    QPainter painter(&onBar);
    painter.drawImage(0, 0, icon);
    painter.end();
    const double barLuminance = relativeLuminance(bar);
    int hits = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const double l = relativeLuminance(onBar.pixelColor(x, y));
            if ((std::max(l, barLuminance) + 0.05) / (std::min(l, barLuminance) + 0.05) >= 3)
                ++hits;
        }
    }
    return double(hits) / (region.width() * region.height());
}

TEST(GaugeIcon, StandsOutOnLightAndDarkBarsAndTheFigureIsSolid)
{
    const QColor bars[] = {QColor(0xf2, 0xf2, 0xf2), QColor(0xd6, 0xd6, 0xd6), QColor(0x2b, 0x2b, 0x2b),
                           QColor(0, 0, 0)};
    for (const ForecastStatus status : {ForecastStatus::noData, ForecastStatus::safe, ForecastStatus::watch,
                                        ForecastStatus::risky, ForecastStatus::limited}) {
        for (const int size : {22, 32}) {
            const QImage plain = GaugeIcon::render(status, size);
            const QImage figure = GaugeIcon::render(status, size, QStringLiteral("88"));
            for (const QColor& bar : bars) {
                const std::string where = rawValue(status).toStdString() + " " + std::to_string(size) +
                                          " on " + bar.name().toStdString();
                EXPECT_GE(standingOut(plain, bar, plain.rect()), 0.2) << where;
                EXPECT_GE(standingOut(figure, bar, figure.rect()), 0.2) << where;
                // The digits' band: solid strokes stand out, not just their rims.
                const QRect band(0, size * 6 / 10, size, size - size * 6 / 10);
                EXPECT_GE(standingOut(figure, bar, band), 0.25) << where;
            }
        }
    }
}

// The needle's coloured tip must land where the dial says: a 270-degree dial from the lower left over the
// top.
TEST(GaugeIcon, NeedleTipIsDrawnWhereTheStatusPoints)
{
    // Without a forecast the needle rests at the start, in the dial's own grey.
    EXPECT_EQ(GaugeIcon::needleFraction(ForecastStatus::noData), 0.0);
    EXPECT_EQ(GaugeIcon::needleFraction(ForecastStatus::unknown), 0.0);
    const std::pair<ForecastStatus, double> rows[] = {{ForecastStatus::safe, 0.67},
                                                      {ForecastStatus::watch, 0.5},
                                                      {ForecastStatus::risky, 1.0},
                                                      {ForecastStatus::limitLikely, 1.0}};
    for (const auto& [status, fraction] : rows) {
        const QImage image = GaugeIcon::render(status, 64);
        const double radians = (225 - fraction * 270) * std::numbers::pi / 180;
        const QPoint tip(int(32 + 18 * std::cos(radians)), int(32 - 18 * std::sin(radians)));
        const QPoint opposite(int(32 - 18 * std::cos(radians)), int(32 + 18 * std::sin(radians)));
        const QColor colour = GaugeIcon::statusColor(status);
        EXPECT_GT(shareOfColour(image, QRect(tip - QPoint(3, 3), QSize(7, 7)), colour), 0.2)
            << rawValue(status).toStdString();
        EXPECT_EQ(shareOfColour(image, QRect(opposite - QPoint(3, 3), QSize(7, 7)), colour), 0)
            << rawValue(status).toStdString();
    }
}

TEST(GaugeIcon, LimitedDrawsTheWarningTriangleInsteadOfANeedle)
{
    const QImage limited = GaugeIcon::render(ForecastStatus::limited, 32);
    const QColor red = GaugeIcon::statusColor(ForecastStatus::limited);
    // The triangle's body fills the lower middle; its top corners stay empty.
    EXPECT_GT(shareOfColour(limited, QRect(8, 18, 4, 6), red), 0.5);
    EXPECT_EQ(limited.pixelColor(1, 1).alpha(), 0);
    EXPECT_EQ(limited.pixelColor(30, 1).alpha(), 0);
    EXPECT_EQ(GaugeIcon::shape(ForecastStatus::limited), GaugeIcon::Shape::warningTriangle);
    EXPECT_FALSE(GaugeIcon::needleFraction(ForecastStatus::limited).has_value());
}

TEST(GaugeIcon, SizesStayWithinWhatTraysAccept)
{
    const std::pair<int, int> rows[] = {{8, 16}, {16, 16}, {22, 22}, {64, 64}, {128, 64}, {-5, 16}};
    for (const auto& [asked, edge] : rows) {
        const QImage image = GaugeIcon::render(ForecastStatus::safe, asked);
        EXPECT_EQ(image.size(), QSize(edge, edge)) << asked;
    }
    const QIcon icon = GaugeIcon::icon(ForecastStatus::watch);
    QList<int> edges;
    for (const QSize& size : icon.availableSizes()) {
        EXPECT_EQ(size.width(), size.height());
        edges.append(size.width());
    }
    EXPECT_EQ(edges, GaugeIcon::sizes);
}

TEST(GaugeIcon, FigureIsDrawnIntoTheLowerHalf)
{
    const QImage plain = GaugeIcon::render(ForecastStatus::safe, 32);
    const QImage withFigure = GaugeIcon::render(ForecastStatus::safe, 32, QStringLiteral("42"));
    const QImage otherFigure = GaugeIcon::render(ForecastStatus::safe, 32, QStringLiteral("17"));
    EXPECT_NE(withFigure.copy(0, 16, 32, 16), plain.copy(0, 16, 32, 16));
    EXPECT_NE(withFigure.copy(0, 16, 32, 16), otherFigure.copy(0, 16, 32, 16));
    // Longer texts are cut to three characters rather than shrunk to nothing.
    EXPECT_EQ(GaugeIcon::render(ForecastStatus::safe, 32, QStringLiteral("100%")),
              GaugeIcon::render(ForecastStatus::safe, 32, QStringLiteral("100")));
}

} // namespace

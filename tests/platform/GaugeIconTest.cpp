#include "platform/GaugeIcon.h"

#include <gtest/gtest.h>

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

// The needle's coloured tip must land where the dial says: a 270-degree dial from the lower left over the
// top.
TEST(GaugeIcon, NeedleTipIsDrawnWhereTheStatusPoints)
{
    const std::pair<ForecastStatus, double> rows[] = {
        {ForecastStatus::noData, 0.0}, {ForecastStatus::unknown, 0.0}, {ForecastStatus::safe, 0.67},
        {ForecastStatus::watch, 0.5},  {ForecastStatus::risky, 1.0},   {ForecastStatus::limitLikely, 1.0}};
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

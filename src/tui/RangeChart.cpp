#include "tui/RangeChart.h"

#include "core/text/TimeFormatting.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace RangeChart {

namespace {

// What a cell shows, weakest first: a stronger layer keeps its character and colour.
enum class Layer
{
    empty,
    limit,
    pace,
    projection,
    marker,
    actual
};

struct Cell
{
    int dots = 0; // braille dot bits
    Layer layer = Layer::empty;
    QChar marker;
};

constexpr int kGutter = 5; // "100%" and the axis

class Canvas
{
public:
    Canvas(int width, int height, Glyphs glyphs)
        : m_width(width), m_height(height), m_glyphs(glyphs), m_cells(static_cast<size_t>(width * height))
    {}

    [[nodiscard]] int dotsWide() const { return m_width * sub().first; }
    [[nodiscard]] int dotsHigh() const { return m_height * sub().second; }

    void dot(int x, int y, Layer layer)
    {
        if (x < 0 || y < 0 || x >= dotsWide() || y >= dotsHigh())
            return;
        const auto [sx, sy] = sub();
        Cell& cell = at(x / sx, y / sy);
        if (m_glyphs == Glyphs::utf8) {
            // Braille dot numbering: left column 1,2,3,7; right column 4,5,6,8.
            static constexpr int bits[2][4] = {{0x01, 0x02, 0x04, 0x40}, {0x08, 0x10, 0x20, 0x80}};
            cell.dots |= bits[x % 2][y % 4];
        }
        if (layer > cell.layer)
            cell.layer = layer;
    }

    void line(double x0, double y0, double x1, double y1, Layer layer, int dashEvery)
    {
        const int steps =
            std::max(1, static_cast<int>(std::ceil(std::max(std::abs(x1 - x0), std::abs(y1 - y0)))));
        for (int i = 0; i <= steps; ++i) {
            if (dashEvery > 1 && i % dashEvery != 0)
                continue;
            const double t = static_cast<double>(i) / steps;
            dot(static_cast<int>(std::lround(x0 + (x1 - x0) * t)),
                static_cast<int>(std::lround(y0 + (y1 - y0) * t)), layer);
        }
    }

    void marker(int column, QChar glyph)
    {
        if (column < 0 || column >= m_width)
            return;
        for (int row = 0; row < m_height; ++row) {
            Cell& cell = at(column, row);
            if (cell.layer < Layer::marker && cell.dots == 0) {
                cell.layer = Layer::marker;
                cell.marker = glyph;
            }
        }
    }

    [[nodiscard]] ScreenLine row(int index, ColorRole projectionRole) const
    {
        ScreenLine line;
        for (int column = 0; column < m_width; ++column) {
            const Cell& cell = m_cells[static_cast<size_t>(index * m_width + column)];
            const QChar glyph = glyphOf(cell);
            ColorRole role = ColorRole::neutral;
            if (cell.layer == Layer::projection)
                role = projectionRole;
            else if (cell.layer == Layer::limit)
                role = ColorRole::limited;
            if (line.spans.isEmpty() || line.spans.last().role != role)
                line.spans.append({QString(), role});
            line.spans.last().text += glyph;
        }
        return line;
    }

private:
    [[nodiscard]] std::pair<int, int> sub() const
    {
        return m_glyphs == Glyphs::utf8 ? std::pair{2, 4} : std::pair{1, 1};
    }
    Cell& at(int column, int row) { return m_cells[static_cast<size_t>(row * m_width + column)]; }

    [[nodiscard]] QChar glyphOf(const Cell& cell) const
    {
        if (cell.layer == Layer::marker)
            return cell.marker;
        if (m_glyphs == Glyphs::utf8)
            return cell.dots ? QChar(0x2800 + cell.dots) : QChar(u' ');
        switch (cell.layer) {
        case Layer::actual:
            return u'*';
        case Layer::projection:
            return u'.';
        case Layer::pace:
            return u',';
        case Layer::limit:
            return u'-';
        default:
            return u' ';
        }
    }

    int m_width;
    int m_height;
    Glyphs m_glyphs;
    std::vector<Cell> m_cells;
};

QString padRight(QString text, int width)
{
    text.truncate(width);
    return text.leftJustified(width, u' ');
}

} // namespace

QList<ScreenLine> render(const Data& data, int columns, int rows, Glyphs glyphs)
{
    if (rows < 3 || columns < 20 || data.points.isEmpty())
        return {};
    const int plotWidth = columns - kGutter;
    const int plotHeight = rows - 1;

    // The span from the window start (or the first reading) to the last of the reset, the run-out and the
    // newest reading; the height from 0 to 120, or above the highest value, in tens.
    qint64 startMs = data.points.first().ms;
    qint64 endMs = data.points.last().ms;
    double highest = 0;
    for (const Point& point : data.points)
        highest = std::max(highest, point.percent);
    if (data.windowStart)
        startMs = std::min(startMs, data.windowStart->toMSecsSinceEpoch());
    if (data.resetAt)
        endMs = std::max(endMs, data.resetAt->toMSecsSinceEpoch());
    if (data.runOutAt)
        endMs = std::max(endMs, data.runOutAt->toMSecsSinceEpoch());
    if (data.projectedAtReset && std::isfinite(*data.projectedAtReset))
        highest = std::max(highest, *data.projectedAtReset);
    const double maxPercent = std::ceil(std::max(120.0, highest + 10) / 10) * 10;

    Canvas canvas(plotWidth, plotHeight, glyphs);
    const double spanMs = static_cast<double>(std::max<qint64>(1, endMs - startMs));
    const auto x = [&](qint64 ms) {
        return static_cast<double>(ms - startMs) / spanMs * (canvas.dotsWide() - 1);
    };
    const auto y = [&](double percent) {
        const double clamped = std::clamp(std::isfinite(percent) ? percent : 0.0, 0.0, maxPercent);
        return (1 - clamped / maxPercent) * (canvas.dotsHigh() - 1);
    };
    const auto column = [&](qint64 ms) {
        return static_cast<int>(std::lround(static_cast<double>(ms - startMs) / spanMs * (plotWidth - 1)));
    };

    canvas.line(0, y(100), canvas.dotsWide() - 1, y(100), Layer::limit, 3);
    if (data.windowStart && data.resetAt) {
        canvas.line(x(data.windowStart->toMSecsSinceEpoch()), y(0), x(data.resetAt->toMSecsSinceEpoch()),
                    y(100), Layer::pace, 4);
    }
    const Point& last = data.points.last();
    if (data.resetAt && data.projectedAtReset)
        canvas.line(x(last.ms), y(last.percent), x(data.resetAt->toMSecsSinceEpoch()),
                    y(*data.projectedAtReset), Layer::projection, 2);
    for (qsizetype i = 0; i < data.points.size(); ++i) {
        const Point& to = data.points[i];
        const Point& from = i > 0 ? data.points[i - 1] : to;
        canvas.line(x(from.ms), y(from.percent), x(to.ms), y(to.percent), Layer::actual, 1);
    }
    const QChar bar = glyphs == Glyphs::utf8 ? QChar(0x2502) : QChar(u'|');
    if (data.resetAt)
        canvas.marker(column(data.resetAt->toMSecsSinceEpoch()), bar);
    if (data.runOutAt)
        canvas.marker(column(data.runOutAt->toMSecsSinceEpoch()),
                      glyphs == Glyphs::utf8 ? QChar(0x2506) : QChar(u':'));

    QList<ScreenLine> lines;
    const ColorRole projectionRole = colorRole(data.status);
    const int limitRow = static_cast<int>(std::lround(y(100))) / (canvas.dotsHigh() / plotHeight);
    for (int row = 0; row < plotHeight; ++row) {
        QString label;
        if (row == limitRow)
            label = QStringLiteral("100%");
        else if (row == 0)
            label = QString::number(maxPercent, 'f', 0) + u'%';
        else if (row == plotHeight - 1)
            label = QStringLiteral("0%");
        ScreenLine line = canvas.row(row, projectionRole);
        line.spans.prepend({label.rightJustified(kGutter - 1, u' ') +
                            (glyphs == Glyphs::utf8 ? QChar(0x2502) : QChar(u'|'))});
        lines.append(line);
    }

    // Times below: the first reading's clock at the left, then "out" and "reset" under their markers.
    QString labels = QString(columns, u' ');
    const auto place = [&](int at, const QString& text) {
        at = std::clamp(at, 0, std::max(0, columns - static_cast<int>(text.size())));
        for (qsizetype i = 0; i < text.size() && at + i < columns; ++i)
            labels[at + i] = text[i];
    };
    place(kGutter, TimeFormatting::clock(QDateTime::fromMSecsSinceEpoch(startMs), data.now));
    if (data.runOutAt)
        place(kGutter + column(data.runOutAt->toMSecsSinceEpoch()) - 4,
              QStringLiteral("out ") + TimeFormatting::clock(data.runOutAt, data.now));
    if (data.resetAt)
        place(kGutter + column(data.resetAt->toMSecsSinceEpoch()) - 5, QStringLiteral("reset"));
    lines.append(ScreenLine{{Span{padRight(labels, columns)}}});
    return lines;
}

} // namespace RangeChart

#include "ui/TrendsView.h"

#include "core/text/NumberFormatting.h"
#include "ui/PanelIcons.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"
#include "ui/SparkChart.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

TrendsView::TrendsView(QWidget* parent) : CardFrame(parent)
{
    setObjectName(QStringLiteral("trends"));
}

QList<ProviderUsage> TrendsView::active(const QList<ProviderUsage>& usage)
{
    QList<ProviderUsage> result;
    for (const ProviderUsage& row : usage) {
        if (std::any_of(row.days.cbegin(), row.days.cend(), [](qint64 tokens) { return tokens > 0; }))
            result.append(row);
    }
    return result;
}

QString TrendsView::deltaText(const std::optional<double>& deltaPct)
{
    if (!deltaPct || !std::isfinite(*deltaPct))
        return {};
    const double rounded = std::round(*deltaPct);
    return (rounded >= 0 ? QStringLiteral("+") : QString()) + NumberFormatting::fixed(rounded, 0) +
           QLatin1Char('%');
}

void TrendsView::setUsage(const QList<ProviderUsage>& usage)
{
    delete m_body;
    m_body = nullptr;
    const QList<ProviderUsage> rows = active(usage);
    setVisible(!rows.isEmpty());
    if (rows.isEmpty())
        return;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(CardFrame::heading(QStringLiteral("Trend · this week vs last")));
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setColumnStretch(0, 1);
    int line = 0;
    for (const ProviderUsage& row : rows) {
        auto* name = PlainText::label(displayName(row.provider));
        grid->addWidget(name, line, 0);
        auto* spark = new SparkChart(SparkChart::Style::line);
        spark->setValues(row.days);
        grid->addWidget(spark, line, 1);
        auto* tokens = PlainText::label(NumberFormatting::tokens(row.thisWeek));
        tokens->setObjectName(QStringLiteral("trendTokens"));
        tokens->setFont(PanelTheme::font(tokens->font(), 1.0, true));
        tokens->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(tokens, line, 2);
        const QString delta = deltaText(row.deltaPct);
        if (!delta.isEmpty()) {
            auto* change = new QWidget;
            auto* changeRow = new QHBoxLayout(change);
            changeRow->setContentsMargins(0, 0, 0, 0);
            changeRow->setSpacing(3);
            const bool up = *row.deltaPct >= 0;
            auto* arrow = PlainText::label();
            arrow->setPixmap(
                PanelIcons::pixmap(up ? PanelIcons::Symbol::arrowUpRight : PanelIcons::Symbol::arrowDownRight,
                                   palette().color(QPalette::PlaceholderText), 10, devicePixelRatioF()));
            changeRow->addWidget(arrow);
            auto* text = PlainText::label(delta);
            text->setObjectName(QStringLiteral("trendDelta"));
            text->setForegroundRole(QPalette::PlaceholderText);
            changeRow->addWidget(text);
            grid->addWidget(change, line, 3, Qt::AlignRight);
        }
        ++line;
    }
    layout->addLayout(grid);
    // Shown whole once built, not on a later turn of the event loop (the column would jump meanwhile).
    m_body->show();
}

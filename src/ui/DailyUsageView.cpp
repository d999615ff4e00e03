#include "ui/DailyUsageView.h"

#include "core/text/NumberFormatting.h"
#include "ui/IconLine.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"
#include "ui/SparkChart.h"
#include "ui/TrendsView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

DailyUsageView::DailyUsageView(QWidget* parent) : CardFrame(parent)
{
    setObjectName(QStringLiteral("dailyUsage"));
}

QString DailyUsageView::averageLine(const ProviderUsage& usage)
{
    const double average = std::isfinite(usage.averageDailyTokens) ? usage.averageDailyTokens : 0;
    return QStringLiteral("avg ") + NumberFormatting::tokens(static_cast<qint64>(std::llround(average))) +
           QStringLiteral("/day · ~") + usage.spendThisWeek + QStringLiteral("/wk");
}

void DailyUsageView::setInput(const Input& input)
{
    delete m_body;
    m_body = nullptr;
    const QList<ProviderUsage> rows = TrendsView::active(input.usage);
    setVisible(!rows.isEmpty());
    if (rows.isEmpty())
        return;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* header = new QHBoxLayout;
    header->addWidget(CardFrame::heading(QStringLiteral("Daily usage")));
    header->addStretch();
    auto* spend = PlainText::label(input.spendThisWeekTotal + QStringLiteral("/wk est."));
    spend->setObjectName(QStringLiteral("spendTotal"));
    spend->setFont(PanelTheme::font(spend->font(), 1.0, true));
    header->addWidget(spend);
    layout->addLayout(header);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    int line = 0;
    for (const ProviderUsage& row : rows) {
        grid->addWidget(PlainText::label(displayName(row.provider)), line, 0);
        auto* bars = new SparkChart(SparkChart::Style::bars);
        bars->setValues(row.days);
        grid->addWidget(bars, line, 2);
        auto* average = CardFrame::note(averageLine(row));
        average->setObjectName(QStringLiteral("dailyAverage"));
        grid->addWidget(average, line + 1, 0, 1, 3);
        line += 2;
    }
    layout->addLayout(grid);
    if (input.peakWindow) {
        auto* peak = new IconLine(PanelIcons::Symbol::clock, palette().color(QPalette::PlaceholderText),
                                  QStringLiteral("Most active ") + *input.peakWindow);
        peak->setObjectName(QStringLiteral("peakWindow"));
        layout->addWidget(peak);
    }
    for (const QString& machine : input.machines) {
        auto* part = CardFrame::note(machine);
        part->setObjectName(QStringLiteral("machineUsage"));
        layout->addWidget(part);
    }
    const QString source = input.machines.isEmpty() ? QStringLiteral("This computer's local logs only.")
                                                    : QStringLiteral("The logs of every machine above.");
    auto* footnote =
        CardFrame::note(source + QStringLiteral(" Spend is estimated metered cost; on a flat plan "
                                                "it's the equivalent value you're getting."));
    footnote->setObjectName(QStringLiteral("footnote"));
    layout->addWidget(footnote);
    // Shown whole once built, not on a later turn of the event loop (the column would jump meanwhile).
    m_body->show();
}

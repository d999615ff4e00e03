#include "ui/ProviderSummaryCard.h"

#include "ui/IconLine.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"
#include "ui/StatusPill.h"
#include "ui/UsageBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ProviderSummaryCard::ProviderSummaryCard(QWidget* parent) : CardFrame(parent) {}

void ProviderSummaryCard::setCard(const ProviderCardText& input)
{
    m_card = input;
    delete m_body;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(6);
    auto* name = PlainText::label(input.title.isEmpty() ? displayName(input.provider) : input.title);
    name->setObjectName(QStringLiteral("providerName"));
    name->setFont(PanelTheme::font(name->font(), 1.05, true));
    name->setToolTip(PlainText::toolTip(input.sourceSentence));
    header->addWidget(name);
    const QString& tagText = input.sourceTag;
    auto* tag = new StatusPill(tagText);
    tag->setObjectName(QStringLiteral("sourceTag"));
    header->addWidget(tag);
    // A fresh Codex reading is "live" twice over: the pill says it once.
    if (input.freshness && !input.demo && *input.freshness != tagText) {
        auto* freshness = PlainText::label(*input.freshness);
        freshness->setObjectName(QStringLiteral("freshness"));
        freshness->setForegroundRole(QPalette::PlaceholderText);
        freshness->setFont(PanelTheme::font(freshness->font(), 0.9));
        header->addWidget(freshness);
    }
    header->addStretch();
    if (const std::optional<ForecastStatus> status = input.status)
        header->addWidget(StatusPill::forStatus(*status));
    layout->addLayout(header);

    if (input.rows.isEmpty()) {
        // Not an empty box: say that nothing has come in, and what brings it.
        auto* empty = PlainText::label(QStringLiteral("No readings yet"));
        empty->setObjectName(QStringLiteral("noReadings"));
        empty->setFont(PanelTheme::font(empty->font(), 1.0, true));
        layout->addWidget(empty);
        auto* how = CardFrame::note(input.whatBringsReadings);
        how->setObjectName(QStringLiteral("noReadingsHow"));
        layout->addWidget(how);
    }
    for (const CardRow& row : input.rows) {
        addRow(layout, row.text, row.name);
        if (row.outlook)
            addOutlook(layout, *row.outlook,
                       row.name == QLatin1String("fiveHour") ? QStringLiteral("fiveHourOutlook")
                                                             : QStringLiteral("weeklyOutlook"));
    }

    if (!input.chips.isEmpty()) {
        auto* chips = new QHBoxLayout;
        chips->setSpacing(6);
        chips->setContentsMargins(0, 4, 0, 0);
        for (const QString& text : input.chips) {
            auto* chip = new StatusPill(text);
            chip->setObjectName(QStringLiteral("chip"));
            chips->addWidget(chip);
        }
        chips->addStretch();
        layout->addLayout(chips);
    }
    // Shown whole once built: a body shown on a later turn of the event loop would leave the card collapsed
    // meanwhile, and the column above the card the user is using would jump.
    m_body->show();
}

void ProviderSummaryCard::addRow(QVBoxLayout* layout, const UsageRowText& row, const QString& name)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    line->setContentsMargins(0, 6, 0, 0);
    auto* label = PlainText::label(row.label);
    label->setObjectName(name + QStringLiteral("Label"));
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("Sonnet")) + 4);
    line->addWidget(label);
    auto* bar = new UsageBar;
    bar->setObjectName(name + QStringLiteral("Bar"));
    bar->setValue(row.barFraction, row.role, row.idealTick);
    line->addWidget(bar, 1);
    auto* percent = PlainText::label(row.percent);
    percent->setObjectName(name + QStringLiteral("Percent"));
    percent->setFont(PanelTheme::font(percent->font(), 1.0, true));
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    percent->setMinimumWidth(percent->fontMetrics().horizontalAdvance(QStringLiteral("100% left")));
    line->addWidget(percent);
    layout->addLayout(line);
    const QColor muted = palette().color(QPalette::PlaceholderText);
    if (!row.reset.isEmpty()) {
        auto* reset = new IconLine(PanelIcons::Symbol::clock, muted, row.reset);
        reset->setObjectName(name + QStringLiteral("Reset"));
        reset->label()->setForegroundRole(QPalette::PlaceholderText);
        reset->label()->setFont(PanelTheme::font(reset->label()->font(), 0.9));
        layout->addWidget(reset);
    }
    if (row.trailing) {
        auto* trailing = PlainText::label(*row.trailing);
        trailing->setObjectName(name + QStringLiteral("Headroom"));
        trailing->setForegroundRole(QPalette::PlaceholderText);
        trailing->setFont(PanelTheme::font(trailing->font(), 0.9));
        trailing->setContentsMargins(18, 0, 0, 0);
        layout->addWidget(trailing);
    }
}

void ProviderSummaryCard::addOutlook(QVBoxLayout* layout, const OutlookText& outlook, const QString& name)
{
    const QColor color = PanelTheme::statusColor(outlook.status, palette());
    const auto symbol =
        outlook.status == ForecastStatus::safe ? PanelIcons::Symbol::check : PanelIcons::Symbol::warning;
    QString rich;
    if (!outlook.runOut.isEmpty())
        rich = outlook.text.toHtmlEscaped() + QStringLiteral("<span style=\"color:%1\">%2</span>")
                                                  .arg(PanelTheme::color(ColorRole::risky, palette()).name(),
                                                       outlook.runOut.toHtmlEscaped());
    auto* line = new IconLine(symbol, color, outlook.plain(), rich);
    line->setObjectName(name);
    layout->addWidget(line);
}

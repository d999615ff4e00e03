#include "ui/ScenarioCard.h"

#include "app/ProviderSummary.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

ScenarioCard::ScenarioCard(QWidget* parent) : CardFrame(parent)
{
    setObjectName(QStringLiteral("scenarioCard"));
}

QString ScenarioCard::title(WindowKind window)
{
    return ProviderSummary::whatIfsTitle(window);
}

QString ScenarioCard::tooltip(const ScenarioResult& scenario)
{
    QStringList lines{scenario.description};
    lines += scenario.assumptions;
    return lines.join(QLatin1Char('\n'));
}

QStringList ScenarioCard::tileLines(const ScenarioResult& scenario, bool showRemaining, const QDateTime& now)
{
    return ProviderSummary::whatIfLines(scenario, showRemaining, now);
}

void ScenarioCard::setInput(const Input& input)
{
    delete m_body;
    m_body = nullptr;
    setVisible(!input.scenarios.isEmpty());
    if (input.scenarios.isEmpty())
        return;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(CardFrame::heading(title(input.window)));

    auto* row = new QWidget;
    auto* tiles = new QHBoxLayout(row);
    tiles->setContentsMargins(0, 0, 0, 0);
    tiles->setSpacing(6);
    for (const ScenarioResult& scenario : input.scenarios) {
        auto* tile = new CardFrame;
        tile->setObjectName(QStringLiteral("scenarioTile"));
        tile->setToolTip(tooltip(scenario));
        tile->content()->setContentsMargins(8, 6, 8, 6);
        tile->content()->setSpacing(2);
        auto* name = PlainText::label(scenario.title);
        name->setFont(PanelTheme::font(name->font(), 0.9, true));
        tile->content()->addWidget(name);
        const QStringList lines = tileLines(scenario, input.showRemaining, input.now);
        auto* outcome = PlainText::label(lines[0]);
        outcome->setFont(PanelTheme::font(outcome->font(), 1.0, true));
        tile->content()->addWidget(outcome);
        for (const QString& text : lines.mid(1)) {
            if (text.isEmpty())
                continue;
            auto* line = CardFrame::note(text);
            line->setWordWrap(false);
            if (text.startsWith(QLatin1String("saves")) || text.startsWith(QLatin1String("costs"))) {
                QPalette colors = line->palette();
                colors.setColor(QPalette::WindowText,
                                PanelTheme::color(text.startsWith(QLatin1String("saves")) ? ColorRole::safe
                                                                                          : ColorRole::risky,
                                                  colors));
                line->setPalette(colors);
                line->setForegroundRole(QPalette::WindowText);
            }
            tile->content()->addWidget(line);
        }
        tile->content()->addStretch();
        // Tiles share the row; it scrolls only when they cannot all fit.
        tiles->addWidget(tile, 1);
    }
    auto* scroll = new QScrollArea;
    // Only scrolled sideways by the pointer; no Tab stop of its own.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(row);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    row->setAutoFillBackground(false);
    scroll->setFixedHeight(row->sizeHint().height() + scroll->horizontalScrollBar()->sizeHint().height());
    layout->addWidget(scroll);
    // Shown whole once built, not on a later turn of the event loop (the column would jump meanwhile).
    m_body->show();
}

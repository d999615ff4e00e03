#include "ui/ForecastCard.h"

#include "app/AppState.h"
#include "app/ProviderSummary.h"
#include "core/forecast/CalibratedForecast.h"
#include "core/text/TimeFormatting.h"
#include "ui/PanelIcons.h"
#include "ui/PanelTheme.h"
#include "ui/PlainText.h"
#include "ui/RangeChartView.h"
#include "ui/SegmentedPicker.h"
#include "ui/StatusPill.h"

#include <QActionGroup>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QStringList basisLabels()
{
    QStringList labels;
    for (const ForecastBasis basis : allForecastBases)
        labels.append(shortLabel(basis));
    return labels;
}

// "14:05 (in 2h 10m)".
QString clockWithCountdown(const QDateTime& at, const QDateTime& now)
{
    return TimeFormatting::clock(at, now) + QStringLiteral(" (in ") +
           TimeFormatting::countdown(static_cast<double>(now.msecsTo(at)) / 1000.0) + QLatin1Char(')');
}

} // namespace

ForecastCard::ForecastCard(AppState& state, QWidget* parent) : CardFrame(parent), m_state(state)
{
    setObjectName(QStringLiteral("forecastCard"));
    QVBoxLayout* layout = content();
    layout->setSpacing(8);

    m_tabRow = new QWidget;
    m_tabs = new QHBoxLayout(m_tabRow);
    m_tabs->setContentsMargins(0, 0, 0, 0);
    m_tabs->setSpacing(4);
    layout->addWidget(m_tabRow);

    auto* header = new QHBoxLayout;
    m_title = PlainText::label();
    m_title->setObjectName(QStringLiteral("rangeTitle"));
    m_title->setFont(PanelTheme::font(m_title->font(), 1.0, true));
    header->addWidget(m_title, 1);
    // A push button leaves room for its menu arrow beside the text; a tool button draws it over the text.
    m_focus = new QPushButton;
    m_focus->setObjectName(QStringLiteral("focusMenu"));
    m_focus->setFlat(true);
    m_focus->setMenu(new QMenu(m_focus));
    header->addWidget(m_focus);
    layout->addLayout(header);

    m_basis = new SegmentedPicker(basisLabels());
    m_basis->setObjectName(QStringLiteral("basisPicker"));
    m_basis->setAccessibleName(QStringLiteral("Forecast basis"));
    connect(m_basis, &SegmentedPicker::picked, this,
            [this](int index) { m_state.setBasis(allForecastBases[static_cast<size_t>(index)]); });
    layout->addWidget(m_basis);
    m_explanation = CardFrame::note({});
    m_explanation->setObjectName(QStringLiteral("basisExplanation"));
    layout->addWidget(m_explanation);

    m_chart = new RangeChartView;
    layout->addWidget(m_chart);
    m_noData = PlainText::label(QStringLiteral("No data for this window yet."));
    m_noData->setObjectName(QStringLiteral("noData"));
    m_noData->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_noData);

    m_summary = new QWidget;
    auto* summary = new QVBoxLayout(m_summary);
    summary->setContentsMargins(0, 4, 0, 0);
    layout->addWidget(m_summary);
    m_confidence = CardFrame::note({});
    m_confidence->setObjectName(QStringLiteral("confidenceExplanation"));
    layout->addWidget(m_confidence);
}

void ForecastCard::setInput(const ForecastCardInput& input)
{
    m_input = input;
    rebuildTabs();
    m_title->setText(input.name + QLatin1Char(' ') + ProviderSummary::rangeTitle(input.window));
    const QColor iconColor = palette().color(QPalette::ButtonText);
    m_focus->setText(input.focusAuto ? QStringLiteral("Auto") : QStringLiteral("Focus"));
    m_focus->setIcon(
        PanelIcons::icon(input.focusAuto ? PanelIcons::Symbol::wand : PanelIcons::Symbol::swap, iconColor));
    rebuildFocusMenu();
    const auto basisIndex = static_cast<int>(input.basis);
    m_basis->setCurrent(basisIndex);
    m_explanation->setText(explanation(input.basis));

    const bool hasForecast = input.forecast.has_value();
    m_chart->setVisible(hasForecast);
    m_noData->setVisible(!hasForecast);
    m_summary->setVisible(hasForecast);
    m_confidence->setVisible(hasForecast);
    if (hasForecast)
        m_chart->setData(input.chart);
    rebuildSummary();
}

void ForecastCard::rebuildTabs()
{
    const QStringList& names = m_input.tabTitles;
    if (!m_tabPicker || m_tabPicker->labels() != names) {
        delete m_tabPicker;
        m_tabPicker = new SegmentedPicker(names);
        m_tabPicker->setObjectName(QStringLiteral("providerTabs"));
        m_tabPicker->setAccessibleName(QStringLiteral("Provider"));
        m_tabs->addWidget(m_tabPicker);
        m_tabPicker->show();
        connect(m_tabPicker, &SegmentedPicker::picked, this, [this](int index) {
            if (index < 0 || index >= m_input.tabs.size())
                return;
            m_state.setFocusedAccount(m_input.tabAccounts[index]);
            m_state.setFocusedProvider(m_input.tabs[index]);
        });
    }
    int current = -1;
    for (qsizetype i = 0; i < m_input.tabs.size() && current < 0; ++i)
        if (m_input.tabs[i] == m_input.provider && m_input.tabAccounts[i] == m_input.account)
            current = static_cast<int>(i);
    m_tabPicker->setCurrent(current);
    // One provider needs no choice.
    m_tabRow->setVisible(m_input.tabs.size() > 1);
}

void ForecastCard::rebuildFocusMenu()
{
    QMenu* menu = m_focus->menu();
    menu->clear();
    // One choice of several: radio items.
    delete m_focusChoices;
    m_focusChoices = new QActionGroup(menu);
    m_focusChoices->setExclusive(true);
    QAction* automatic = menu->addAction(QStringLiteral("Auto · most at risk"));
    m_focusChoices->addAction(automatic);
    automatic->setCheckable(true);
    automatic->setChecked(m_input.focusAuto);
    connect(automatic, &QAction::triggered, this, [this] {
        m_state.setFocusedAccount({});
        AppSettings next = m_state.settings();
        next.focusAuto = true;
        m_state.setSettings(next);
    });
    menu->addSeparator();
    for (const SeriesKey& key : std::as_const(m_input.focusEntries)) {
        QAction* entry = menu->addAction(displayName(key.first) + QStringLiteral(" · ") +
                                         ProviderSummary::rangeTitle(key.second));
        m_focusChoices->addAction(entry);
        entry->setCheckable(true);
        entry->setChecked(!m_input.focusAuto && m_input.account.isEmpty() && key.first == m_input.provider &&
                          key.second == m_input.window);
        connect(entry, &QAction::triggered, this, [this, key] {
            // The menu lists the default accounts' windows.
            m_state.setFocusedAccount({});
            AppSettings next = m_state.settings();
            next.focusAuto = false;
            next.focusedProvider = key.first;
            next.focusedWindow = key.second;
            m_state.setSettings(next);
        });
    }
}

void ForecastCard::addLine(const QString& label, QWidget* value)
{
    const int row = m_grid->rowCount();
    auto* name = PlainText::label(label);
    name->setForegroundRole(QPalette::PlaceholderText);
    m_grid->addWidget(name, row, 0);
    m_grid->addWidget(value, row, 1, Qt::AlignRight);
}

void ForecastCard::addLine(const QString& label, const QString& value)
{
    auto* text = PlainText::label(value);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    addLine(label, text);
}

void ForecastCard::rebuildSummary()
{
    // A grid keeps the rows it once had: a fresh one per rebuild.
    if (m_grid)
        delete m_grid->parentWidget();
    auto* lines = new QWidget;
    m_grid = new QGridLayout(lines);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(12);
    m_grid->setVerticalSpacing(4);
    m_grid->setColumnStretch(1, 1);
    m_summary->layout()->addWidget(lines);
    m_confidence->clear();
    if (!m_input.forecast)
        return;
    const ForecastResult& f = *m_input.forecast;
    const bool remaining = m_input.showRemaining;
    addLine(QStringLiteral("Current"), ProviderSummary::percentText(f.currentUsedPercent, remaining));
    addLine(shortLabel(m_input.basis) + QStringLiteral(" pace"),
            f.projectedUsedAtReset
                ? QLatin1Char('~') + ProviderSummary::percentText(*f.projectedUsedAtReset, remaining) +
                      QStringLiteral(" by reset")
                : QStringLiteral("—"));
    if (f.burnRatePercentPerHour) {
        addLine(remaining ? QStringLiteral("Runs out") : QStringLiteral("Time to limit"),
                f.runOutAt ? clockWithCountdown(*f.runOutAt, m_input.now)
                           : QStringLiteral("not before reset"));
    }
    if (m_input.window != WindowKind::fiveHour)
        addLine(QStringLiteral("Pace"),
                rawValue(m_input.pace ? m_input.pace->verdict : PaceResult::Verdict::noData));
    if (f.resetAt) {
        const std::optional<QString> phrase = TimeFormatting::resetPhrase(f.resetAt, m_input.now);
        // The label already says "Resets": the value drops the phrase's own first word.
        QString value = phrase ? phrase->mid(phrase->startsWith(QLatin1String("resets ")) ? 7 : 0)
                               : TimeFormatting::relativeCountdown(
                                     static_cast<double>(m_input.now.msecsTo(*f.resetAt)) / 1000.0);
        addLine(QStringLiteral("Resets"), value);
    }
    auto* status = new QWidget;
    auto* statusRow = new QHBoxLayout(status);
    statusRow->setContentsMargins(0, 0, 0, 0);
    statusRow->setSpacing(6);
    auto* confidence = PlainText::label(CalibratedForecast::confidenceLabel(f.confidence));
    confidence->setObjectName(QStringLiteral("confidence"));
    statusRow->addWidget(confidence);
    statusRow->addWidget(StatusPill::forStatus(f.status));
    addLine(QStringLiteral("Status"), status);
    m_confidence->setText(CalibratedForecast::confidenceExplanation(f.confidence));
    // Shown whole now, not on a later turn of the event loop (the column would jump meanwhile).
    lines->show();
}

QStringList ForecastCard::summaryLines() const
{
    QStringList lines;
    if (!m_grid || !m_summary->isVisibleTo(this))
        return lines;
    for (int row = 0; row < m_grid->rowCount(); ++row) {
        QLayoutItem* label = m_grid->itemAtPosition(row, 0);
        QLayoutItem* value = m_grid->itemAtPosition(row, 1);
        if (!label || !value)
            continue;
        QString text;
        if (auto* plain = qobject_cast<QLabel*>(value->widget()))
            text = plain->text();
        else {
            QStringList parts;
            for (const QLabel* part : value->widget()->findChildren<QLabel*>())
                parts.append(part->text());
            text = parts.join(QStringLiteral(" · "));
        }
        lines.append(qobject_cast<QLabel*>(label->widget())->text() + QStringLiteral(": ") + text);
    }
    return lines;
}

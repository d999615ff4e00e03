#include "ui/ExtraUsageView.h"

#include "core/NumberFormatting.h"
#include "ui/PanelTheme.h"
#include "ui/UsageBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <cmath>

namespace {

QString pounds(double amount, int decimals)
{
    return QStringLiteral("£") + NumberFormatting::fixed(amount, decimals);
}

// Whole pounds without decimals, else pence.
QString amount(double value)
{
    return std::abs(value - std::round(value)) < 0.005 ? pounds(value, 0) : pounds(value, 2);
}

} // namespace

ExtraUsageView::ExtraUsageView(QWidget* parent) : CardFrame(parent)
{
    setObjectName(QStringLiteral("extraUsage"));
}

bool ExtraUsageView::shows(const std::optional<ClaudeExtraUsage>& extra, double budgetGBP)
{
    return extra && extra->enabled && (extra->usedGBP > 0 || budgetGBP > 0);
}

QString ExtraUsageView::budgetLine(double usedGBP, double budgetGBP)
{
    return amount(usedGBP) + QStringLiteral(" of ") + amount(budgetGBP) + QStringLiteral(" budget · ") +
           NumberFormatting::fixed(usedGBP / budgetGBP * 100, 0) + QLatin1Char('%');
}

ColorRole ExtraUsageView::budgetRole(double usedGBP, double budgetGBP)
{
    const double share = usedGBP / budgetGBP;
    if (share >= 1)
        return ColorRole::limited;
    return share >= 0.8 ? ColorRole::watch : ColorRole::safe;
}

void ExtraUsageView::setInput(const std::optional<ClaudeExtraUsage>& extra, double budgetGBP)
{
    delete m_body;
    m_body = nullptr;
    setVisible(shows(extra, budgetGBP));
    if (!shows(extra, budgetGBP))
        return;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* header = new QHBoxLayout;
    header->addWidget(CardFrame::heading(QStringLiteral("Overage spend")));
    header->addStretch();
    auto* used = new QLabel(amount(extra->usedGBP) + QStringLiteral(" used"));
    used->setObjectName(QStringLiteral("overageUsed"));
    used->setFont(PanelTheme::font(used->font(), 1.0, true));
    header->addWidget(used);
    layout->addLayout(header);
    if (budgetGBP > 0) {
        const ColorRole role = budgetRole(extra->usedGBP, budgetGBP);
        auto* bar = new UsageBar;
        bar->setValue(extra->usedGBP / budgetGBP, role);
        layout->addWidget(bar);
        auto* line = new QLabel(budgetLine(extra->usedGBP, budgetGBP));
        line->setObjectName(QStringLiteral("overageBudget"));
        QPalette colors = line->palette();
        colors.setColor(QPalette::WindowText, PanelTheme::color(role, colors));
        line->setPalette(colors);
        layout->addWidget(line);
    } else {
        auto* noteLabel = CardFrame::note(
            QStringLiteral("Real money beyond your plan. Set a budget in Settings to get warned."));
        noteLabel->setObjectName(QStringLiteral("overageNote"));
        layout->addWidget(noteLabel);
    }
}

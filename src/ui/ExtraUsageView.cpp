#include "ui/ExtraUsageView.h"

#include "ui/PanelTheme.h"
#include "ui/PlainText.h"
#include "ui/UsageBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

ExtraUsageView::ExtraUsageView(QWidget* parent) : CardFrame(parent)
{
    setObjectName(QStringLiteral("extraUsage"));
}

ColorRole ExtraUsageView::budgetRole(double share)
{
    if (share >= 1)
        return ColorRole::limited;
    return share >= 0.8 ? ColorRole::watch : ColorRole::safe;
}

void ExtraUsageView::setReport(const std::optional<StateReports::OverageReport>& report)
{
    delete m_body;
    m_body = nullptr;
    setVisible(report.has_value());
    if (!report)
        return;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* header = new QHBoxLayout;
    header->addWidget(CardFrame::heading(QStringLiteral("Overage spend")));
    header->addStretch();
    auto* used = PlainText::label(report->usedText);
    used->setObjectName(QStringLiteral("overageUsed"));
    used->setFont(PanelTheme::font(used->font(), 1.0, true));
    header->addWidget(used);
    layout->addLayout(header);
    if (report->budgetLine && report->budgetShare) {
        const ColorRole role = budgetRole(*report->budgetShare);
        auto* bar = new UsageBar;
        bar->setValue(*report->budgetShare, role);
        layout->addWidget(bar);
        auto* line = PlainText::label(*report->budgetLine);
        line->setObjectName(QStringLiteral("overageBudget"));
        QPalette colors = line->palette();
        colors.setColor(QPalette::WindowText, PanelTheme::color(role, colors));
        line->setPalette(colors);
        layout->addWidget(line);
    }
    if (report->note) {
        auto* noteLabel = CardFrame::note(*report->note);
        noteLabel->setObjectName(QStringLiteral("overageNote"));
        layout->addWidget(noteLabel);
    }
    // Shown whole once built, not on a later turn of the event loop (the column would jump meanwhile).
    m_body->show();
}

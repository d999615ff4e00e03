#pragma once

#include "app/StateReports.h"
#include "ui/CardFrame.h"

#include <optional>

// Claude's paid overage: what was spent beyond the plan, against the user's budget when one is set.
class ExtraUsageView : public CardFrame
{
    Q_OBJECT
public:
    explicit ExtraUsageView(QWidget* parent = nullptr);
    // Hidden without a report (no enabled overage, or neither spend nor budget).
    void setReport(const std::optional<StateReports::OverageReport>& report);

    // The bar's colour by the share of the budget spent: safe under 80 %, watch under 100 %, limited from
    // there.
    [[nodiscard]] static ColorRole budgetRole(double share);

private:
    QWidget* m_body = nullptr;
};

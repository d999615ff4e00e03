#pragma once

#include "providers/claude/ClaudeUsageAnswer.h"
#include "ui/CardFrame.h"

#include <optional>

// Claude's paid overage: what was spent beyond the plan, against the user's budget when one is set.
class ExtraUsageView : public CardFrame
{
    Q_OBJECT
public:
    explicit ExtraUsageView(QWidget* parent = nullptr);
    // Shown only for an enabled overage with a spend or a budget above 0.
    void setInput(const std::optional<ClaudeExtraUsage>& extra, double budgetGBP);

    [[nodiscard]] static bool shows(const std::optional<ClaudeExtraUsage>& extra, double budgetGBP);
    // "£12.40 of £50 budget · 25%"
    [[nodiscard]] static QString budgetLine(double usedGBP, double budgetGBP);
    // The bar's colour: safe under 80 %, watch under 100 %, limited from there.
    [[nodiscard]] static ColorRole budgetRole(double usedGBP, double budgetGBP);

private:
    QWidget* m_body = nullptr;
};

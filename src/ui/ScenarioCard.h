#pragma once

#include "core/model/ForecastModels.h"
#include "ui/CardFrame.h"

// What-ifs for the window the forecast card shows: one tile per scenario in a row that scrolls sideways.
class ScenarioCard : public CardFrame
{
    Q_OBJECT
public:
    struct Input
    {
        WindowKind window = WindowKind::fiveHour;
        bool showRemaining = true;
        QList<ScenarioResult> scenarios;
        QDateTime now;
    };

    explicit ScenarioCard(QWidget* parent = nullptr);
    // Hides the card when there is no scenario.
    void setInput(const Input& input);

    // "What-ifs · this week" for the weekly windows, else the window's short label.
    [[nodiscard]] static QString title(WindowKind window);
    // The tile's lines under its title: outcome, caption (may be empty), saving (may be empty).
    [[nodiscard]] static QStringList tileLines(const ScenarioResult& scenario, bool showRemaining,
                                               const QDateTime& now);
    // The description, then what the estimate assumes, a line each.
    [[nodiscard]] static QString tooltip(const ScenarioResult& scenario);

private:
    QWidget* m_body = nullptr;
};

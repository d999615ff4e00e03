#pragma once

#include "app/PublishedState.h"
#include "ui/CardFrame.h"

// Tokens per day over the last week per provider, the week's estimated spend and the busiest hours.
class DailyUsageView : public CardFrame
{
    Q_OBJECT
public:
    struct Input
    {
        QList<ProviderUsage> usage;
        // Formatted, e.g. "£18.20".
        QString spendThisWeekTotal;
        std::optional<QString> peakWindow;
        // Each machine's part of the last seven days, this one first; empty without other machines.
        QStringList machines;
    };

    explicit DailyUsageView(QWidget* parent = nullptr);
    // Hidden when no provider has tokens in the last seven days.
    void setInput(const Input& input);

    // "avg 1.2M/day · ~£3.10/wk"
    [[nodiscard]] static QString averageLine(const ProviderUsage& usage);

private:
    QWidget* m_body = nullptr;
};

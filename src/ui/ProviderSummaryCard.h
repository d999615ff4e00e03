#pragma once

#include "app/ProviderSummary.h"
#include "ui/CardFrame.h"

class QVBoxLayout;

// One provider's card: name, source and freshness, the worst status, a usage row per window with its outlook,
// and chips naming the model and effort in use.
class ProviderSummaryCard : public CardFrame
{
    Q_OBJECT
public:
    explicit ProviderSummaryCard(QWidget* parent = nullptr);

    void setCard(const ProviderCardText& input);
    [[nodiscard]] const ProviderCardText& card() const { return m_card; }

private:
    void addRow(QVBoxLayout* layout, const UsageRowText& row, const QString& name);
    void addOutlook(QVBoxLayout* layout, const OutlookText& outlook, const QString& name);

    ProviderCardText m_card;
    QWidget* m_body = nullptr;
};

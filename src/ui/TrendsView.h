#pragma once

#include "app/PublishedState.h"
#include "ui/CardFrame.h"

// This week's transcript tokens per provider against last week's, with a sparkline of the last seven days.
class TrendsView : public CardFrame
{
    Q_OBJECT
public:
    explicit TrendsView(QWidget* parent = nullptr);
    // Rows for providers with tokens in the last seven days; hidden without any.
    void setUsage(const QList<ProviderUsage>& usage);

    // "+25%" or "-12%"; empty without a change to show.
    [[nodiscard]] static QString deltaText(const std::optional<double>& deltaPct);
    // Providers whose seven days are not all zero.
    [[nodiscard]] static QList<ProviderUsage> active(const QList<ProviderUsage>& usage);

private:
    QWidget* m_body = nullptr;
};

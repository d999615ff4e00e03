#include "ui/RecommendationView.h"

#include "ui/IconLine.h"
#include "ui/PanelTheme.h"

#include <QVBoxLayout>

RecommendationView::RecommendationView(QWidget* parent) : CardFrame(parent)
{
    setObjectName(QStringLiteral("recommendations"));
}

PanelIcons::Symbol RecommendationView::symbol(ForecastStatus status)
{
    switch (status) {
    case ForecastStatus::safe:
        return PanelIcons::Symbol::check;
    case ForecastStatus::watch:
        return PanelIcons::Symbol::eye;
    case ForecastStatus::risky:
    case ForecastStatus::limitLikely:
        return PanelIcons::Symbol::warning;
    case ForecastStatus::limited:
        return PanelIcons::Symbol::xmark;
    case ForecastStatus::noData:
    case ForecastStatus::unknown:
        break;
    }
    return PanelIcons::Symbol::info;
}

void RecommendationView::setRecommendations(const QList<Recommendation>& recommendations)
{
    delete m_body;
    m_body = nullptr;
    setVisible(!recommendations.isEmpty());
    if (recommendations.isEmpty())
        return;
    m_body = new QWidget;
    content()->addWidget(m_body);
    auto* layout = new QVBoxLayout(m_body);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    std::optional<ForecastStatus> worst;
    for (const Recommendation& recommendation : recommendations) {
        worst = worst ? ::worse(*worst, recommendation.status) : recommendation.status;
        layout->addWidget(new IconLine(symbol(recommendation.status),
                                       PanelTheme::statusColor(recommendation.status, palette()),
                                       recommendation.message));
    }
    setTint(colorRole(*worst));
    // Shown whole once built, not on a later turn of the event loop (the column would jump meanwhile).
    m_body->show();
}

QStringList RecommendationView::lines() const
{
    QStringList result;
    if (m_body) {
        for (const IconLine* line : m_body->findChildren<IconLine*>())
            result.append(line->text());
    }
    return result;
}

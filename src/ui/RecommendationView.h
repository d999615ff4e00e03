#pragma once

#include "core/model/ForecastModels.h"
#include "ui/CardFrame.h"
#include "ui/PanelIcons.h"

// The advice of the last cycle, one line each with an icon by its status; tinted by the worst of them.
class RecommendationView : public CardFrame
{
    Q_OBJECT
public:
    explicit RecommendationView(QWidget* parent = nullptr);
    // Hides the card when there is no recommendation.
    void setRecommendations(const QList<Recommendation>& recommendations);
    [[nodiscard]] QStringList lines() const;

    [[nodiscard]] static PanelIcons::Symbol symbol(ForecastStatus status);

private:
    QWidget* m_body = nullptr;
};

#pragma once

#include "app/PublishedState.h"
#include "app/StateQueries.h"
#include "core/model/ForecastModels.h"
#include "ui/RangeChartView.h"

#include <QDateTime>
#include <QList>

#include <optional>

// What the forecast card shows: the focused (or most urgent) window with its chart, as plain values.
struct ForecastCardInput
{
    // Enabled providers with a 5-hour or long-window forecast.
    QList<Provider> tabs;
    Provider provider = Provider::codex;
    WindowKind window = WindowKind::fiveHour;
    bool focusAuto = true;
    // Every series with a forecast, for the focus menu.
    QList<SeriesKey> focusEntries;
    ForecastBasis basis = ForecastBasis::last1h;
    bool showRemaining = true;
    QDateTime now;
    std::optional<ForecastResult> forecast;
    std::optional<PaceResult> pace;
    RangeChartData chart;

    static ForecastCardInput fromPublished(const PublishedState& state);
};

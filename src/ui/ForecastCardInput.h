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
    // One per tab: each enabled provider with a 5-hour or long-window forecast, each followed by its other
    // accounts with a forecast; with the account's key (empty for the default) and its card's title.
    QList<Provider> tabs;
    QStringList tabAccounts;
    QStringList tabTitles;
    // The account shown, as in tabAccounts, and its name as its card has it ("Claude Code · work").
    QString account;
    QString name;
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

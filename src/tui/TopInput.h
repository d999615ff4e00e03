#pragma once

#include "app/ForecastBundle.h"
#include "core/AppSettings.h"
#include "history/UsageTotals.h"

#include <QDateTime>

#include <memory>
#include <optional>

// What one frame of `tallyvane top` is drawn from: a cycle's results with the settings it ran with, the
// transcript totals, and the instant the countdowns count from.
struct TopInput
{
    ForecastBundle bundle;
    AppSettings settings;
    std::shared_ptr<const UsageTotals> history;
    QDateTime now;
    // When the shown numbers were computed; absent before the first cycle.
    std::optional<QDateTime> computedAt;
    // Whether a `codex` program is on the search path: the empty state's hint depends on it.
    bool codexFound = false;
};

// What the viewer chose in this terminal; absent members follow the settings' (or the automatic) focus.
struct TopView
{
    std::optional<Provider> provider;
    std::optional<WindowKind> window;
    bool help = false;
};

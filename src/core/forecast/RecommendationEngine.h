#pragma once

#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/model/UsageSnapshot.h"

#include <QList>

#include <optional>

namespace RecommendationEngine {

struct Input
{
    Provider provider = Provider::codex;
    std::optional<ForecastResult> fiveHour;
    // After the weekly adjustments (calibration, weekly status rule).
    std::optional<ForecastResult> longWindow;
    std::optional<PaceResult> pace;
    std::optional<UsageSnapshot> snapshot;

    friend bool operator==(const Input&, const Input&) = default;
};

// The 5-hour headroom gap (points) that makes another provider worth suggesting must exceed this.
inline constexpr double crossProviderMarginPoints = 15;

// Per provider in input order (weekly, then 5-hour advice), then at most one cross-provider suggestion.
[[nodiscard]] QList<Recommendation> recommendations(const QList<Input>& inputs);

} // namespace RecommendationEngine

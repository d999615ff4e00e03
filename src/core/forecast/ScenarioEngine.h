#pragma once

#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/model/UsageSnapshot.h"

#include <QList>

namespace ScenarioEngine {

// What-ifs for one window: Lower, Higher, Fast Mode (Codex only), Max, each when it applies.
// `futureAdditional` is max(0, projected at reset - currentUsed); `snapshot` is the window's latest. Each
// run-out lies on the line from `currentUsed` at `now` to the scenario's projection at the reset.
[[nodiscard]] QList<ScenarioResult> scenarios(Provider provider, double currentUsed, double futureAdditional,
                                              const UsageSnapshot& snapshot, SourceConfidence confidence,
                                              const QDateTime& now);

} // namespace ScenarioEngine

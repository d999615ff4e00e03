#pragma once

#include "core/Enums.h"
#include "core/ForecastModels.h"
#include "core/SnapshotLog.h"
#include "core/UsageSnapshot.h"

#include <QList>
#include <QMap>
#include <QString>

// What one compute cycle produced; published field by field, only where it differs from the state.
// Maps are ordered so that folds over them (the overall status) do not depend on hashing.
struct ForecastBundle
{
    SnapshotLog snapshots;
    // Keyed by ForecastResult::id(), e.g. "codex-fiveHour".
    QMap<QString, ForecastResult> forecasts;
    QMap<Provider, PaceResult> paces;
    QMap<Provider, CalibratedProjection> calibrated;
    QList<Recommendation> recommendations;

    friend bool operator==(const ForecastBundle&, const ForecastBundle&) = default;
};

#pragma once

#include "app/MachineHealth.h"
#include "app/SeriesPositions.h"
#include "core/model/Enums.h"
#include "core/model/ForecastModels.h"
#include "core/model/SnapshotLog.h"
#include "core/model/UsageSnapshot.h"
#include "history/ClaudeEstimator.h"

#include <QList>
#include <QMap>
#include <QString>

#include <optional>
#include <utility>

using SeriesKey = std::pair<Provider, WindowKind>;

// One (provider, window) series of a cycle's working snapshots, as positions in that list: ascending by
// timestamp, equal timestamps in list order. Queries read a series through it instead of sorting the log.
struct WorkingSeries
{
    SeriesKey key;
    SeriesPositions positions;

    friend bool operator==(const WorkingSeries&, const WorkingSeries&) = default;
};

// An account and, besides its assistant's default one, its windows as the log's readings of it give them.
struct AccountForecasts
{
    // The default account's windows are the bundle's own forecasts.
    bool isDefault = false;
    Provider provider = Provider::claude;
    QString key;
    // The folder's label, or the key itself for an account no longer watched.
    QString label;
    // Empty for an account no longer watched.
    QString folder;
    // Five-hour first, then the long windows; with the newest reading of each, in the same order.
    QList<ForecastResult> forecasts;
    QList<UsageSnapshot> latest;
    // Each window's readings since it began (at least its newest), ascending, in the same order: the chart's.
    QList<QList<UsageSnapshot>> readings;
    // The label is the part of the account's e-mail address before the @: shown, never written to a file.
    bool labelFromEmail = false;

    // "Claude Code · work": how every face names another account, its card's title included.
    [[nodiscard]] QString name() const { return displayName(provider) + QStringLiteral(" \u00b7 ") + label; }

    friend bool operator==(const AccountForecasts&, const AccountForecasts&) = default;
};

// What one compute cycle produced; published field by field, only where it differs from the state.
// Maps are ordered so that folds over them (the overall status) do not depend on hashing.
struct ForecastBundle
{
    SnapshotLog snapshots;
    // Every series of `snapshots` once: five-hour series first, then long ones, then monthly, then
    // unknown; within one rank in order of first appearance.
    QList<WorkingSeries> series;
    // Keyed by ForecastResult::id(), e.g. "codex-fiveHour".
    QMap<QString, ForecastResult> forecasts;
    QMap<Provider, PaceResult> paces;
    QMap<Provider, CalibratedProjection> calibrated;
    QList<Recommendation> recommendations;
    // Empty with one account per assistant; else every account, each assistant's in the order of its folders,
    // the default one first.
    QList<AccountForecasts> accounts;
    // The other machines pulled from, as the cycle found them.
    QList<MachineReport> machines;
    // Claude Code's current model, effort and thinking setting; absent without Claude.
    std::optional<ClaudeEstimator::CurrentSettings> claudeCurrent;

    friend bool operator==(const ForecastBundle&, const ForecastBundle&) = default;
};

#pragma once

#include "core/model/UsageSnapshot.h"
#include "history/ClaudeEstimator.h"
#include "history/ClaudeFiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// Learns, from pairs of status-line weekly readings and the transcript tokens between them, how much of the
// weekly window one token costs at each Claude effort level. Stateless; its one file is
// "claude-effort-rates.json".
namespace ClaudeEffortCalibration {

struct Rate
{
    double pctPerToken = 0;
    qint64 samples = 0;

    friend bool operator==(const Rate&, const Rate&) = default;
};

struct Store
{
    // Keyed by the lower-cased effort level.
    QMap<QString, Rate> byEffort;
    // The newest reading already considered.
    std::optional<QDateTime> learnedUpTo;

    friend bool operator==(const Store&, const Store&) = default;
};

[[nodiscard]] QByteArray encode(const Store& store);
[[nodiscard]] std::optional<Store> decode(const QByteArray& bytes);
// Nothing when the file is missing or does not decode.
[[nodiscard]] std::optional<Store> load(const ClaudeFiles& files);

enum class Learning
{
    tooFewReadings,    // fewer than two qualifying readings
    alreadyConsidered, // the newest reading is not after learnedUpTo
    countPending,      // the tokens between the readings are still being counted: nothing saved, next cycle
    noMeasurement,     // a pair that measures nothing (other effort, a reset, under a point); still marked
    learned,
};

// Considers the two newest qualifying readings of `snaps` (Claude, seven-day, status line, with an effort,
// not stamped more than 5 minutes after `now`, of the files' account) and updates the file.
Learning learn(const QList<UsageSnapshot>& snaps, const ClaudeTokenCount& tokens, ClaudeFiles& files,
               const QDateTime& now);

// The learned cost of effort `current` relative to `recent` (each at least three measurements); nothing
// when either is absent, they are the same word, or too little is known.
[[nodiscard]] std::optional<double> measuredScale(const std::optional<QString>& current,
                                                  const std::optional<QString>& recent,
                                                  const ClaudeFiles& files);

// How much faster the current Claude effort burns than the one the newest status-line reading was taken
// at: learned where known, else the fixed multipliers, else 1. Always 1 for Codex.
[[nodiscard]] double effortScale(Provider provider, const QList<UsageSnapshot>& snaps,
                                 const std::optional<ClaudeEstimator::CurrentSettings>& current,
                                 const ClaudeFiles& files);

} // namespace ClaudeEffortCalibration

#pragma once

#include "core/model/UsageSnapshot.h"
#include "history/ClaudeFiles.h"
#include "history/ModelLookup.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Claude tokens in transcript lines stamped at or after `since`; nothing while that count is still being
// made (the history answers such a request later).
using ClaudeTokenCount = std::function<std::optional<qint64>(const QDateTime& since)>;

// Claude gauges between live readings: every fresh live reading anchors its window (percent per transcript
// token), and the tokens spent since turn the anchor into an estimate. Also which model and effort Claude
// Code runs. Stateless; its one file is "claude-anchor.json".
namespace ClaudeEstimator {

struct CurrentSettings
{
    std::optional<QString> modelId;
    std::optional<QString> modelDisplayName;
    std::optional<QString> effortLevel;
    std::optional<bool> thinkingEnabled;
    std::optional<QDateTime> capturedAt;

    friend bool operator==(const CurrentSettings&, const CurrentSettings&) = default;
};

struct WindowAnchor
{
    double usedPercent = 0;
    double pctPerToken = 0;
    QDateTime resetAt;
    double windowDurationMins = 0;
    QDateTime capturedAt;

    friend bool operator==(const WindowAnchor&, const WindowAnchor&) = default;
};

struct Anchor
{
    std::optional<WindowAnchor> fiveHour;
    std::optional<WindowAnchor> sevenDay;

    friend bool operator==(const Anchor&, const Anchor&) = default;
};

// A live reading counts as fresh this long: it calibrates its window and no estimate stands beside it.
inline constexpr qint64 freshSeconds = 1200;
// Readings stamped further ahead than this come from a wrong clock and never calibrate or teach.
inline constexpr qint64 futureToleranceSeconds = 300;

// "claude.statusline" and "claude.oauth": the sources that are real readings.
[[nodiscard]] bool isLiveSource(const QString& source);
[[nodiscard]] const QStringList& liveSources();
// A live reading stamped less than 1200 s before `now` (and not from a clock running ahead).
[[nodiscard]] bool isFreshLive(const UsageSnapshot& snapshot, const QDateTime& now);
[[nodiscard]] bool isFromTheFuture(const UsageSnapshot& snapshot, const QDateTime& now);

[[nodiscard]] QByteArray encodeAnchor(const Anchor& anchor);
// Nothing when the file does not decode; a window with a duration <= 0 or a rate that is not finite is
// dropped on its own.
[[nodiscard]] std::optional<Anchor> decodeAnchor(const QByteArray& bytes);
[[nodiscard]] Anchor loadAnchor(const ClaudeFiles& files);
[[nodiscard]] QByteArray encodeMeta(const CurrentSettings& meta);
[[nodiscard]] std::optional<CurrentSettings> decodeMeta(const QByteArray& bytes);
[[nodiscard]] std::optional<CurrentSettings> loadMeta(const ClaudeFiles& files);

enum class Calibration
{
    unusable,     // not a live reading with a reset, a length and a positive percentage
    notNewer,     // the anchor already holds this reading or a newer one
    noTokens,     // nothing counted in the window yet
    otherKind,    // monthly or unknown windows are not anchored
    otherAccount, // a reading of another account than the files'
    calibrated,
};

// Anchors the reading's five-hour or seven-day window (a Sonnet `weekly` one anchors nothing); logs a
// detected reset.
Calibration calibrate(const UsageSnapshot& snap, const ClaudeTokenCount& tokens, ClaudeFiles& files);

// One estimate per anchored window, five-hour first; source "claude.transcript", low confidence, of the
// files' account. A window whose count is still being made gets none this time.
[[nodiscard]] QList<UsageSnapshot> estimatedSnapshots(const ClaudeTokenCount& tokens,
                                                      const ClaudeFiles& files, const QDateTime& now);

// The augmentation step of the compute cycle over the working list (oldest first): calibrates the five-hour
// and seven-day windows each from its first fresh live reading, then returns the estimates to append: those
// of windows without a fresh live reading.
[[nodiscard]] QList<UsageSnapshot> augmentClaude(const QList<UsageSnapshot>& working,
                                                 const ClaudeTokenCount& tokens, ClaudeFiles& files,
                                                 const QDateTime& now);

// The bridge's settings with the model of a newer transcript line.
[[nodiscard]] std::optional<CurrentSettings>
mergingCurrentModel(const std::optional<CurrentSettings>& meta,
                    const std::optional<ModelSighting>& transcript);

// "claude-opus-4-8" → "Opus 4.8", "claude-haiku-4-5-20251001" → "Haiku 4.5", "…[1m]" → "… (1M context)".
[[nodiscard]] QString displayName(const QString& modelId);

} // namespace ClaudeEstimator

#include "history/ClaudeEstimator.h"

#include "core/text/TerminalText.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace ClaudeEstimator {

namespace {

const QString kTranscriptSource = QStringLiteral("claude.transcript");

std::optional<double> number(const QJsonObject& o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    if (!v.isDouble())
        return std::nullopt;
    return v.toDouble();
}

std::optional<QDateTime> date(const QJsonObject& o, QLatin1StringView key)
{
    const QJsonValue v = o.value(key);
    if (!v.isString())
        return std::nullopt;
    return ClaudeFiles::parseDate(v.toString());
}

QJsonObject windowJson(const WindowAnchor& a)
{
    return {{QStringLiteral("usedPercent"), a.usedPercent},
            {QStringLiteral("pctPerToken"), a.pctPerToken},
            {QStringLiteral("resetAt"), ClaudeFiles::formatDate(a.resetAt)},
            {QStringLiteral("windowDurationMins"), a.windowDurationMins},
            {QStringLiteral("capturedAt"), ClaudeFiles::formatDate(a.capturedAt)}};
}

// Absent member: fine; a member that does not decode fails the file.
bool decodeWindow(const QJsonObject& root, QLatin1StringView key, std::optional<WindowAnchor>& out)
{
    if (!root.contains(key))
        return true;
    const QJsonObject o = root.value(key).toObject();
    const auto used = number(o, QLatin1StringView("usedPercent"));
    const auto rate = number(o, QLatin1StringView("pctPerToken"));
    const auto duration = number(o, QLatin1StringView("windowDurationMins"));
    const auto resetAt = date(o, QLatin1StringView("resetAt"));
    const auto capturedAt = date(o, QLatin1StringView("capturedAt"));
    if (!used || !rate || !duration || !resetAt || !capturedAt)
        return false;
    // Such an anchor would estimate from a window that never ends or at an undefined rate.
    if (*duration > 0 && std::isfinite(*duration) && std::isfinite(*rate) && std::isfinite(*used))
        out = WindowAnchor{*used, *rate, *resetAt, *duration, *capturedAt};
    return true;
}

qint64 countOrZero(const ClaudeTokenCount& tokens, const QDateTime& since)
{
    return tokens ? tokens(since).value_or(0) : 0;
}

UsageSnapshot estimate(WindowKind kind, double used, const QDateTime& now, const QDateTime& resetAt,
                       double duration)
{
    UsageSnapshot s;
    s.provider = Provider::claude;
    s.timestamp = now;
    s.windowKind = kind;
    s.usedPercent = std::clamp(used, 0.0, 140.0);
    s.remainingPercent = std::max(100 - s.usedPercent, 0.0);
    s.resetAt = resetAt;
    s.windowDurationMins = duration;
    s.limitName = rawValue(kind);
    s.source = kTranscriptSource;
    s.sourceConfidence = SourceConfidence::low;
    return s;
}

// Nothing while the history is still counting: an estimate from a count not yet made would read 0 %.
std::optional<qint64> countOrPending(const ClaudeTokenCount& tokens, const QDateTime& since)
{
    return tokens ? tokens(since) : std::optional<qint64>(0);
}

std::optional<UsageSnapshot> estimateFiveHour(const WindowAnchor& a, const ClaudeTokenCount& tokens,
                                              const QDateTime& now)
{
    const qint64 periodMs = qint64(a.windowDurationMins * 60'000);
    const std::optional<qint64> counted = countOrPending(tokens, now.addMSecs(-periodMs));
    if (!counted)
        return std::nullopt;
    return estimate(WindowKind::fiveHour, a.pctPerToken * double(*counted), now, now.addMSecs(periodMs),
                    a.windowDurationMins);
}

std::optional<UsageSnapshot> estimateSevenDay(const WindowAnchor& a, const ClaudeTokenCount& tokens,
                                              const QDateTime& now)
{
    const qint64 periodMs = std::max<qint64>(1, qint64(a.windowDurationMins * 60'000));
    double base = 0;
    QDateTime resetAt = a.resetAt;
    QDateTime since = a.capturedAt;
    if (now < a.resetAt) {
        base = a.usedPercent;
    } else {
        // The first reset after now in the anchored window's rhythm.
        const qint64 elapsed = a.resetAt.msecsTo(now);
        resetAt = a.resetAt.addMSecs(periodMs * (elapsed / periodMs + 1));
        since = resetAt.addMSecs(-periodMs);
    }
    const std::optional<qint64> counted = countOrPending(tokens, since);
    if (!counted)
        return std::nullopt;
    return estimate(WindowKind::sevenDay, base + a.pctPerToken * double(*counted), now, resetAt,
                    a.windowDurationMins);
}

QList<UsageSnapshot> estimatesFor(const Anchor& anchor, const ClaudeTokenCount& tokens, const QDateTime& now,
                                  bool fiveHour, bool sevenDay)
{
    QList<UsageSnapshot> estimates;
    if (anchor.fiveHour && fiveHour) {
        if (auto e = estimateFiveHour(*anchor.fiveHour, tokens, now))
            estimates.append(std::move(*e));
    }
    if (anchor.sevenDay && sevenDay) {
        if (auto e = estimateSevenDay(*anchor.sevenDay, tokens, now))
            estimates.append(std::move(*e));
    }
    return estimates;
}

QList<UsageSnapshot> ofAccount(QList<UsageSnapshot> estimates, const ClaudeFiles& files)
{
    if (!files.account().isEmpty())
        for (UsageSnapshot& e : estimates)
            e.account = files.account();
    return estimates;
}

QString wholeNumber(double value)
{
    return std::isfinite(value) ? QString::number(qint64(std::trunc(value))) : QStringLiteral("\u2014");
}

} // namespace

const QStringList& liveSources()
{
    static const QStringList sources{QStringLiteral("claude.statusline"), QStringLiteral("claude.oauth")};
    return sources;
}

bool isLiveSource(const QString& source)
{
    return liveSources().contains(source);
}

bool isFromTheFuture(const UsageSnapshot& snapshot, const QDateTime& now)
{
    return now.secsTo(snapshot.timestamp) > futureToleranceSeconds;
}

bool isFreshLive(const UsageSnapshot& snapshot, const QDateTime& now)
{
    return snapshot.provider == Provider::claude && isLiveSource(snapshot.source) &&
           snapshot.timestamp.secsTo(now) < freshSeconds && !isFromTheFuture(snapshot, now);
}

QByteArray encodeAnchor(const Anchor& anchor)
{
    QJsonObject root;
    if (anchor.fiveHour)
        root.insert(QStringLiteral("fiveHour"), windowJson(*anchor.fiveHour));
    if (anchor.sevenDay)
        root.insert(QStringLiteral("sevenDay"), windowJson(*anchor.sevenDay));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<Anchor> decodeAnchor(const QByteArray& bytes)
{
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return std::nullopt;
    Anchor anchor;
    if (!decodeWindow(doc.object(), QLatin1StringView("fiveHour"), anchor.fiveHour) ||
        !decodeWindow(doc.object(), QLatin1StringView("sevenDay"), anchor.sevenDay))
        return std::nullopt;
    return anchor;
}

Anchor loadAnchor(const ClaudeFiles& files)
{
    const auto bytes = files.read(ClaudeFiles::anchorFile);
    return bytes ? decodeAnchor(*bytes).value_or(Anchor{}) : Anchor{};
}

QByteArray encodeMeta(const CurrentSettings& meta)
{
    QJsonObject root;
    if (meta.modelId)
        root.insert(QStringLiteral("modelId"), *meta.modelId);
    if (meta.modelDisplayName)
        root.insert(QStringLiteral("modelDisplayName"), *meta.modelDisplayName);
    if (meta.effortLevel)
        root.insert(QStringLiteral("effortLevel"), *meta.effortLevel);
    if (meta.thinkingEnabled)
        root.insert(QStringLiteral("thinkingEnabled"), *meta.thinkingEnabled);
    if (meta.capturedAt)
        root.insert(QStringLiteral("capturedAt"), ClaudeFiles::formatDate(*meta.capturedAt));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<CurrentSettings> decodeMeta(const QByteArray& bytes)
{
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    CurrentSettings meta;
    const auto text = [&](QLatin1StringView key, std::optional<QString>& out) {
        if (!o.contains(key) || o.value(key).isNull())
            return true;
        if (!o.value(key).isString())
            return false;
        out = TerminalText::name(o.value(key).toString());
        return true;
    };
    if (!text(QLatin1StringView("modelId"), meta.modelId) ||
        !text(QLatin1StringView("modelDisplayName"), meta.modelDisplayName) ||
        !text(QLatin1StringView("effortLevel"), meta.effortLevel))
        return std::nullopt;
    if (o.contains(QLatin1StringView("thinkingEnabled")) &&
        !o.value(QLatin1StringView("thinkingEnabled")).isNull()) {
        if (!o.value(QLatin1StringView("thinkingEnabled")).isBool())
            return std::nullopt;
        meta.thinkingEnabled = o.value(QLatin1StringView("thinkingEnabled")).toBool();
    }
    if (o.contains(QLatin1StringView("capturedAt")) && !o.value(QLatin1StringView("capturedAt")).isNull()) {
        meta.capturedAt = date(o, QLatin1StringView("capturedAt"));
        if (!meta.capturedAt)
            return std::nullopt;
    }
    return meta;
}

std::optional<CurrentSettings> loadMeta(const ClaudeFiles& files)
{
    const auto bytes = files.read(ClaudeFiles::metaFile);
    return bytes ? decodeMeta(*bytes) : std::nullopt;
}

Calibration calibrate(const UsageSnapshot& snap, const ClaudeTokenCount& tokens, ClaudeFiles& files)
{
    if (!isLiveSource(snap.source) || !snap.resetAt || !snap.windowDurationMins ||
        !(*snap.windowDurationMins > 0) || !(snap.usedPercent > 0) || !std::isfinite(snap.usedPercent))
        return Calibration::unusable;
    const bool fiveHour = snap.windowKind == WindowKind::fiveHour;
    // The Sonnet weekly limit is a quota of its own: its rate says nothing about the account's week.
    if (!fiveHour && snap.windowKind != WindowKind::sevenDay)
        return Calibration::otherKind;
    // The work account's percentages per token say nothing of the default account's, and the reverse.
    if (!files.holds(snap.account))
        return Calibration::otherAccount;
    Anchor anchor = loadAnchor(files);
    std::optional<WindowAnchor>& slot = fiveHour ? anchor.fiveHour : anchor.sevenDay;
    if (slot && slot->capturedAt >= snap.timestamp)
        return Calibration::notNewer;

    const QDateTime windowStart = snap.resetAt->addMSecs(-qint64(*snap.windowDurationMins * 60'000));
    const qint64 counted = countOrZero(tokens, windowStart);
    if (counted < 1)
        return Calibration::noTokens;

    if (slot && (snap.usedPercent <= slot->usedPercent - 12 || slot->resetAt.secsTo(*snap.resetAt) > 600))
        files.logInfo(QStringLiteral("Claude ") + rawValue(snap.windowKind) +
                      QStringLiteral(" reset detected: ") + wholeNumber(slot->usedPercent) +
                      QStringLiteral("% \u2192 ") + wholeNumber(snap.usedPercent) +
                      QStringLiteral("%; recalibrating."));
    slot = WindowAnchor{snap.usedPercent, snap.usedPercent / double(counted), *snap.resetAt,
                        *snap.windowDurationMins, snap.timestamp};
    files.write(ClaudeFiles::anchorFile, encodeAnchor(anchor));
    return Calibration::calibrated;
}

QList<UsageSnapshot> estimatedSnapshots(const ClaudeTokenCount& tokens, const ClaudeFiles& files,
                                        const QDateTime& now)
{
    return ofAccount(estimatesFor(loadAnchor(files), tokens, now, true, true), files);
}

QList<UsageSnapshot> augmentClaude(const QList<UsageSnapshot>& working, const ClaudeTokenCount& tokens,
                                   ClaudeFiles& files, const QDateTime& now)
{
    const auto firstFresh = [&](WindowKind kind) -> const UsageSnapshot* {
        const auto it = std::find_if(working.cbegin(), working.cend(), [&](const UsageSnapshot& s) {
            return s.windowKind == kind && isFreshLive(s, now) && files.holds(s.account);
        });
        return it == working.cend() ? nullptr : &*it;
    };
    const UsageSnapshot* fiveHour = firstFresh(WindowKind::fiveHour);
    const UsageSnapshot* sevenDay = firstFresh(WindowKind::sevenDay);
    if (fiveHour)
        calibrate(*fiveHour, tokens, files);
    if (sevenDay)
        calibrate(*sevenDay, tokens, files);
    // A window with a fresh reading gets no estimate, so its count is not even asked for.
    return ofAccount(estimatesFor(loadAnchor(files), tokens, now, !fiveHour, !sevenDay), files);
}

std::optional<CurrentSettings> mergingCurrentModel(const std::optional<CurrentSettings>& meta,
                                                   const std::optional<ModelSighting>& transcript)
{
    if (!transcript)
        return meta;
    if (meta && meta->capturedAt && !(transcript->at > *meta->capturedAt))
        return meta;
    CurrentSettings merged = meta.value_or(CurrentSettings{});
    if (merged.modelId != transcript->id) {
        merged.modelId = transcript->id;
        merged.modelDisplayName = displayName(transcript->id);
    }
    return merged;
}

QString displayName(const QString& modelId)
{
    QString id = modelId;
    const bool million = id.endsWith(QLatin1StringView("[1m]"));
    if (million)
        id.chop(4);
    if (id.startsWith(QLatin1StringView("claude-")))
        id.remove(0, 7);
    QStringList words;
    QStringList pending;
    const auto flush = [&] {
        if (!pending.isEmpty())
            words.append(pending.join(QLatin1Char('.')));
        pending.clear();
    };
    for (const QString& piece : id.split(QLatin1Char('-'), Qt::SkipEmptyParts)) {
        const bool numeric = std::all_of(piece.cbegin(), piece.cend(), [](QChar c) { return c.isDigit(); });
        if (numeric) {
            if (piece.size() < 8)
                pending.append(piece);
            continue;
        }
        flush();
        words.append(piece.left(1).toUpper() + piece.mid(1));
    }
    flush();
    QString name = words.join(QLatin1Char(' '));
    if (million)
        name += QStringLiteral(" (1M context)");
    return name;
}

} // namespace ClaudeEstimator

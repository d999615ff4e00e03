#include "history/ClaudeEffortCalibration.h"

#include "core/model/ScenarioMultipliers.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>

namespace ClaudeEffortCalibration {

namespace {

const QString kStatusLine = QStringLiteral("claude.statusline");

bool qualifies(const UsageSnapshot& s, const QDateTime& now)
{
    return s.provider == Provider::claude && s.windowKind == WindowKind::sevenDay &&
           s.source == kStatusLine && s.effortLevel && !ClaudeEstimator::isFromTheFuture(s, now);
}

} // namespace

QByteArray encode(const Store& store)
{
    QJsonObject byEffort;
    for (auto it = store.byEffort.cbegin(); it != store.byEffort.cend(); ++it)
        byEffort.insert(it.key(), QJsonObject{{QStringLiteral("pctPerToken"), it->pctPerToken},
                                              {QStringLiteral("samples"), it->samples}});
    QJsonObject root{{QStringLiteral("byEffort"), byEffort}};
    if (store.learnedUpTo)
        root.insert(QStringLiteral("learnedUpTo"), ClaudeFiles::formatDate(*store.learnedUpTo));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

std::optional<Store> decode(const QByteArray& bytes)
{
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject() || !doc.object().value(QLatin1StringView("byEffort")).isObject())
        return std::nullopt;
    Store store;
    const QJsonObject byEffort = doc.object().value(QLatin1StringView("byEffort")).toObject();
    for (auto it = byEffort.constBegin(); it != byEffort.constEnd(); ++it) {
        const QJsonObject rate = it.value().toObject();
        const QJsonValue pct = rate.value(QLatin1StringView("pctPerToken"));
        const QJsonValue samples = rate.value(QLatin1StringView("samples"));
        if (!pct.isDouble() || !samples.isDouble())
            return std::nullopt;
        if (std::isfinite(pct.toDouble()))
            store.byEffort.insert(it.key().toLower(), Rate{pct.toDouble(), samples.toInteger()});
    }
    const QJsonValue learned = doc.object().value(QLatin1StringView("learnedUpTo"));
    if (!learned.isUndefined() && !learned.isNull()) {
        store.learnedUpTo = learned.isString() ? ClaudeFiles::parseDate(learned.toString()) : std::nullopt;
        if (!store.learnedUpTo)
            return std::nullopt;
    }
    return store;
}

std::optional<Store> load(const ClaudeFiles& files)
{
    const auto bytes = files.read(ClaudeFiles::effortFile);
    return bytes ? decode(*bytes) : std::nullopt;
}

Learning learn(const QList<UsageSnapshot>& snaps, const ClaudeTokenCount& tokens, ClaudeFiles& files,
               const QDateTime& now)
{
    QList<const UsageSnapshot*> candidates;
    for (const UsageSnapshot& s : snaps)
        if (qualifies(s, now) && files.holds(s.account))
            candidates.append(&s);
    if (candidates.size() < 2)
        return Learning::tooFewReadings;
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const UsageSnapshot* x, const UsageSnapshot* y) { return x->timestamp < y->timestamp; });
    const UsageSnapshot& a = *candidates[candidates.size() - 2];
    const UsageSnapshot& b = *candidates.last();

    Store store = load(files).value_or(Store{});
    if (store.learnedUpTo && !(b.timestamp > *store.learnedUpTo))
        return Learning::alreadyConsidered;

    Learning outcome = Learning::noMeasurement;
    const QString effort = a.effortLevel->toLower();
    const double deltaUsed = b.usedPercent - a.usedPercent;
    if (effort == b.effortLevel->toLower() && a.resetAt == b.resetAt && deltaUsed >= 1.0) {
        const std::optional<qint64> sinceA = tokens ? tokens(a.timestamp) : std::nullopt;
        const std::optional<qint64> sinceB = tokens ? tokens(b.timestamp) : std::nullopt;
        // A count still being made answers nothing (its provisional 0 would teach a wrong rate for good).
        if (!sinceA || !sinceB)
            return Learning::countPending;
        const qint64 deltaTokens = *sinceA - *sinceB;
        if (deltaTokens >= 1) {
            double rate = deltaUsed / double(deltaTokens);
            const Rate previous = store.byEffort.value(effort);
            if (previous.samples != 0)
                rate = 0.35 * rate + 0.65 * previous.pctPerToken;
            store.byEffort.insert(effort, Rate{rate, previous.samples + 1});
            outcome = Learning::learned;
        }
    }
    store.learnedUpTo = b.timestamp;
    files.write(ClaudeFiles::effortFile, encode(store));
    return outcome;
}

std::optional<double> measuredScale(const std::optional<QString>& current,
                                    const std::optional<QString>& recent, const ClaudeFiles& files)
{
    if (!current || !recent || current->compare(*recent, Qt::CaseInsensitive) == 0)
        return std::nullopt;
    const std::optional<Store> store = load(files);
    if (!store)
        return std::nullopt;
    const auto c = store->byEffort.constFind(current->toLower());
    const auto r = store->byEffort.constFind(recent->toLower());
    if (c == store->byEffort.cend() || r == store->byEffort.cend() || c->samples <= 2 || r->samples <= 2 ||
        !(r->pctPerToken > 0))
        return std::nullopt;
    return c->pctPerToken / r->pctPerToken;
}

double effortScale(Provider provider, const QList<UsageSnapshot>& snaps,
                   const std::optional<ClaudeEstimator::CurrentSettings>& current, const ClaudeFiles& files)
{
    if (provider != Provider::claude || !current || !current->effortLevel)
        return 1;
    const UsageSnapshot* newest = nullptr;
    for (const UsageSnapshot& s : snaps)
        if (s.provider == Provider::claude && s.source == kStatusLine && s.effortLevel &&
            files.holds(s.account) && (!newest || !(s.timestamp < newest->timestamp)))
            newest = &s;
    if (!newest)
        return 1;
    const QString& now = *current->effortLevel;
    const QString& then = *newest->effortLevel;
    if (now.compare(then, Qt::CaseInsensitive) == 0)
        return 1;
    if (const auto measured = measuredScale(now, then, files))
        return *measured;
    const auto c = ScenarioMultipliers::effortMultiplier(Provider::claude, now);
    const auto r = ScenarioMultipliers::effortMultiplier(Provider::claude, then);
    if (c && r && *r > 0)
        return *c / *r;
    return 1;
}

} // namespace ClaudeEffortCalibration

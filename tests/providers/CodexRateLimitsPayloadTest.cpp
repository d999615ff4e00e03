#include "providers/codex/CodexRateLimitsPayload.h"
#include "core/text/Zone.h"
#include "providers/codex/CodexParsing.h"
#include "support/Reading.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <limits>

namespace {

std::optional<CodexRateLimitsPayload> decode(const char* json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json), &error);
    if (error.error != QJsonParseError::NoError)
        ADD_FAILURE() << "bad test JSON: " << json;
    return CodexRateLimitsPayload::fromJson(document.isObject() ? QJsonValue(document.object())
                                                                : QJsonValue(document.array()));
}

QDateTime utc(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Zone::utc());
}

} // namespace

TEST(CodexRateLimitsPayload, DecodingIsStrictExceptForResetsAt)
{
    struct Row
    {
        const char* name;
        const char* json;
        bool decodes;
    };
    const Row rows[] = {
        {"empty object", R"({})", true},
        {"nulls everywhere",
         R"({"rateLimits":{"limitId":null,"primary":null,"secondary":{"usedPercent":null}}})", true},
        {"unknown members ignored",
         R"({"x":1,"rateLimits":{"credits":{"hasCredits":true},"primary":{"a":[]}}})", true},
        {"usedPercent as a string", R"({"rateLimits":{"primary":{"usedPercent":"50"}}})", false},
        {"windowDurationMins as a bool", R"({"rateLimits":{"secondary":{"windowDurationMins":true}}})",
         false},
        {"limitId as a number", R"({"rateLimits":{"limitId":5}})", false},
        {"planType as an object", R"({"rateLimits":{"planType":{}}})", false},
        {"rateLimitReachedType as an array", R"({"rateLimits":{"rateLimitReachedType":[]}})", false},
        {"primary as a number", R"({"rateLimits":{"primary":3}})", false},
        {"rateLimits as a string", R"({"rateLimits":"x"})", false},
        {"map as an array", R"({"rateLimitsByLimitId":[]})", false},
        {"map value not a bucket", R"({"rateLimitsByLimitId":{"codex":1}})", false},
        {"bad bucket deep in the map", R"({"rateLimitsByLimitId":{"a":{},"b":{"limitName":false}}})", false},
        {"resetsAt as a bool", R"({"rateLimits":{"primary":{"usedPercent":1,"resetsAt":true}}})", true},
        {"resetsAt as an object", R"({"rateLimits":{"primary":{"usedPercent":1,"resetsAt":{}}}})", true},
        {"resetsAt as a word", R"({"rateLimits":{"primary":{"usedPercent":1,"resetsAt":"soon"}}})", true},
        {"top level array", R"([{"rateLimits":{}}])", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(decode(row.json).has_value(), row.decodes);
    }
    EXPECT_FALSE(CodexRateLimitsPayload::fromJson(QJsonValue::Null).has_value());
    EXPECT_FALSE(CodexRateLimitsPayload::fromJson(QJsonValue()).has_value());
}

TEST(CodexRateLimitsPayload, ResetsAtReadings)
{
    struct Row
    {
        const char* name;
        const char* resetsAt;
        std::optional<QDateTime> expected;
    };
    const Row rows[] = {
        {"seconds", "1796590000", utc(1796590000)},
        {"the same instant in milliseconds", "1796590000000", utc(1796590000)},
        {"exactly five billion is seconds", "5000000000", utc(5000000000)},
        {"just above is milliseconds", "5000000001", QDateTime::fromMSecsSinceEpoch(5000000001, Zone::utc())},
        {"fractional seconds", "1796590000.5", QDateTime::fromMSecsSinceEpoch(1796590000500, Zone::utc())},
        {"ISO with fraction", R"("2026-12-06T18:00:00.250Z")",
         QDateTime(QDate(2026, 12, 6), QTime(18, 0, 0, 250), Zone::utc())},
        {"ISO without fraction", R"("2026-12-06T18:00:00Z")",
         QDateTime(QDate(2026, 12, 6), QTime(18, 0), Zone::utc())},
        {"decimal string", R"("1796590000")", utc(1796590000)},
        {"bool", "false", std::nullopt},
        {"null", "null", std::nullopt},
        {"word", R"("tomorrow")", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray json =
            QByteArray(R"({"rateLimits":{"primary":{"usedPercent":1,"resetsAt":)") + row.resetsAt + "}}}";
        const auto payload = decode(json.constData());
        ASSERT_TRUE(payload.has_value());
        EXPECT_EQ(payload->rateLimits->primary->resetAt, row.expected);
    }
}

TEST(CodexRateLimitsPayload, FieldsAndBucketChoice)
{
    const auto full = decode(R"({"rateLimits":{"limitId":"codex","limitName":"Codex","planType":"pro",
        "rateLimitReachedType":"rate_limit_reached","primary":{"usedPercent":42,"windowDurationMins":300},
        "secondary":{"usedPercent":17.5,"windowDurationMins":10080.0}},
        "rateLimitsByLimitId":{"other":{"limitId":"other"}}})");
    ASSERT_TRUE(full.has_value());
    const QList<CodexRateLimitBucket> buckets = full->allBuckets();
    ASSERT_EQ(buckets.size(), 1);
    EXPECT_EQ(buckets[0].limitId, QStringLiteral("codex")) << "rateLimits wins over the map";
    EXPECT_EQ(buckets[0].limitName, QStringLiteral("Codex"));
    EXPECT_EQ(buckets[0].planType, QStringLiteral("pro"));
    EXPECT_EQ(buckets[0].rateLimitReachedType, QStringLiteral("rate_limit_reached"));
    EXPECT_EQ(buckets[0].primary->usedPercent, 42.0);
    EXPECT_EQ(buckets[0].secondary->usedPercent, 17.5);
    EXPECT_EQ(buckets[0].secondary->windowDurationMins, 10080.0);

    struct Row
    {
        const char* name;
        const char* json;
        QStringList limitIds;
    };
    const Row rows[] = {
        {"nothing", R"({})", {}},
        {"empty map", R"({"rateLimitsByLimitId":{}})", {}},
        {"key fills a missing limitId",
         R"({"rateLimitsByLimitId":{"codex":{"primary":{"usedPercent":1}}}})",
         {"codex"}},
        {"key fills a null limitId", R"({"rateLimitsByLimitId":{"codex":{"limitId":null}}})", {"codex"}},
        {"own limitId kept", R"({"rateLimitsByLimitId":{"codex":{"limitId":"own"}}})", {"own"}},
        {"one of several, always the same", R"({"rateLimitsByLimitId":{"b":{},"a":{}}})", {"a"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto payload = decode(row.json);
        ASSERT_TRUE(payload.has_value());
        QStringList ids;
        for (const auto& bucket : payload->allBuckets())
            ids.append(bucket.limitId.value_or(QStringLiteral("<none>")));
        EXPECT_EQ(ids, row.limitIds);
    }
}

TEST(CodexParsing, WindowClassification)
{
    struct Row
    {
        std::optional<double> minutes;
        WindowKind kind;
    };
    const Row rows[] = {
        {std::nullopt, WindowKind::unknown},
        {239.9, WindowKind::unknown},
        {240, WindowKind::fiveHour},
        {360, WindowKind::fiveHour},
        {360.1, WindowKind::unknown},
        {8999, WindowKind::unknown},
        {9000, WindowKind::sevenDay},
        {11000, WindowKind::sevenDay},
        {42999.9, WindowKind::unknown},
        {43000, WindowKind::monthly},
        {45000, WindowKind::monthly},
        {45001, WindowKind::unknown},
        {-300, WindowKind::unknown},
        {std::numeric_limits<double>::quiet_NaN(), WindowKind::unknown},
        {std::numeric_limits<double>::infinity(), WindowKind::unknown},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.minutes ? std::to_string(*row.minutes) : std::string("none"));
        EXPECT_EQ(CodexParsing::classify(row.minutes), row.kind);
    }
}

TEST(CodexParsing, SnapshotsFromOneBucket)
{
    const QDateTime now = utc(1796580000);
    CodexRateLimitBucket bucket;
    bucket.limitId = QStringLiteral("codex");
    bucket.limitName = QStringLiteral("Codex");
    bucket.planType = QStringLiteral("plus");
    bucket.rateLimitReachedType = QStringLiteral("rate_limit_reached");
    bucket.primary = CodexRateLimitWindow{130.0, 300.0, utc(1796590000)};
    bucket.secondary = CodexRateLimitWindow{17.25, 10080.0, std::nullopt};

    const QList<UsageSnapshot> snapshots = CodexParsing::snapshots(bucket, now);
    ASSERT_EQ(snapshots.size(), 2);
    // Used beyond 100 is kept as sent; what remains stops at zero.
    UsageSnapshot five =
        TestSupport::reading(Provider::codex, WindowKind::fiveHour, now, 130, utc(1796590000));
    five.remainingPercent = 0;
    five.limitId = QStringLiteral("codex");
    five.limitName = QStringLiteral("Codex");
    five.planType = QStringLiteral("plus");
    five.rateLimitReachedType = QStringLiteral("rate_limit_reached");
    UsageSnapshot week = five;
    week.windowKind = WindowKind::sevenDay;
    week.usedPercent = 17.25;
    week.remainingPercent = 82.75;
    week.resetAt.reset();
    week.windowDurationMins = 10080;
    five.id = snapshots[0].id;
    week.id = snapshots[1].id;
    EXPECT_EQ(snapshots, (QList<UsageSnapshot>{five, week}));
    EXPECT_NE(five.id, week.id);
    EXPECT_FALSE(five.id.isNull());

    struct Row
    {
        const char* name;
        std::optional<CodexRateLimitWindow> primary;
        std::optional<CodexRateLimitWindow> secondary;
        QList<WindowKind> kinds;
    };
    const Row rows[] = {
        {"no windows", std::nullopt, std::nullopt, {}},
        {"only secondary", std::nullopt, CodexRateLimitWindow{5.0, 43200.0, {}}, {WindowKind::monthly}},
        {"window without usedPercent skipped",
         CodexRateLimitWindow{std::nullopt, 300.0, {}},
         CodexRateLimitWindow{1.0, std::nullopt, {}},
         {WindowKind::unknown}},
        {"primary first whatever the lengths",
         CodexRateLimitWindow{1.0, 10080.0, {}},
         CodexRateLimitWindow{1.0, 300.0, {}},
         {WindowKind::sevenDay, WindowKind::fiveHour}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CodexRateLimitBucket b;
        b.primary = row.primary;
        b.secondary = row.secondary;
        QList<WindowKind> kinds;
        for (const UsageSnapshot& snapshot : CodexParsing::snapshots(b, now))
            kinds.append(snapshot.windowKind);
        EXPECT_EQ(kinds, row.kinds);
    }
}

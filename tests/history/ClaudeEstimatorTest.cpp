#include "history/ClaudeEstimator.h"
#include "core/text/Zone.h"
#include "support/Reading.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using namespace ClaudeEstimator;

const QDateTime kNow(QDate(2026, 5, 12), QTime(14, 0, 0), Zone::utc());

UsageSnapshot reading(WindowKind kind, qint64 ageSeconds, double used, QDateTime resetAt,
                      const QString& source = QStringLiteral("claude.oauth"))
{
    UsageSnapshot s = TestSupport::reading(Provider::claude, kind, kNow.addSecs(-ageSeconds), used, resetAt);
    s.source = source;
    return s;
}

ClaudeTokenCount fixedTokens(std::optional<qint64> count)
{
    return [count](const QDateTime&) { return count; };
}

class ClaudeEstimatorTest : public testing::Test
{
protected:
    QTemporaryDir dir;
    ClaudeFiles files{dir.path()};
};

TEST_F(ClaudeEstimatorTest, ResetDetectionLogsOnlyRealResetsAndAlwaysRecalibrates)
{
    const QDateTime reset = kNow.addSecs(3600);
    struct Row
    {
        double anchored;
        double now;
        qint64 resetMovedSeconds;
        QString logged;
    } rows[] = {
        {77, 6, 0, QStringLiteral("Claude fiveHour reset detected: 77% \u2192 6%; recalibrating.")},
        {77, 75, 0, {}},
        {77, 65, 0, QStringLiteral("Claude fiveHour reset detected: 77% \u2192 65%; recalibrating.")},
        {77, 66, 0, {}},
        {40, 45, 601, QStringLiteral("Claude fiveHour reset detected: 40% \u2192 45%; recalibrating.")},
        {40, 45, 600, {}},
    };
    for (const Row& row : rows) {
        ClaudeFiles rowFiles{dir.path() + QStringLiteral("/") + QString::number(row.now) +
                             QString::number(row.resetMovedSeconds)};
        ASSERT_EQ(
            calibrate(reading(WindowKind::fiveHour, 600, row.anchored, reset), fixedTokens(1000), rowFiles),
            Calibration::calibrated);
        const UsageSnapshot next =
            reading(WindowKind::fiveHour, 60, row.now, reset.addSecs(row.resetMovedSeconds));
        EXPECT_EQ(calibrate(next, fixedTokens(2000), rowFiles), Calibration::calibrated);
        const QStringList logged = rowFiles.loggedLines();
        EXPECT_EQ(logged.isEmpty() ? QString() : logged.last(), row.logged) << row.now;
        const auto anchor = loadAnchor(rowFiles).fiveHour;
        ASSERT_TRUE(anchor);
        EXPECT_EQ(anchor->capturedAt, next.timestamp);
        EXPECT_DOUBLE_EQ(anchor->pctPerToken, row.now / 2000);
    }
}

TEST_F(ClaudeEstimatorTest, CalibrationRefusesWhatCannotAnchor)
{
    const QDateTime reset = kNow.addSecs(3600);
    UsageSnapshot noReset = reading(WindowKind::fiveHour, 60, 30, reset);
    noReset.resetAt.reset();
    UsageSnapshot zeroLength = reading(WindowKind::fiveHour, 60, 30, reset);
    zeroLength.windowDurationMins = 0;
    EXPECT_EQ(calibrate(noReset, fixedTokens(10), files), Calibration::unusable);
    EXPECT_EQ(calibrate(zeroLength, fixedTokens(10), files), Calibration::unusable);
    EXPECT_EQ(calibrate(reading(WindowKind::fiveHour, 60, 0, reset), fixedTokens(10), files),
              Calibration::unusable);
    EXPECT_EQ(calibrate(reading(WindowKind::fiveHour, 60, 30, reset, QStringLiteral("claude.transcript")),
                        fixedTokens(10), files),
              Calibration::unusable);
    EXPECT_EQ(calibrate(reading(WindowKind::monthly, 60, 30, reset), fixedTokens(10), files),
              Calibration::otherKind);
    EXPECT_EQ(calibrate(reading(WindowKind::fiveHour, 60, 30, reset), fixedTokens(std::nullopt), files),
              Calibration::noTokens);
    EXPECT_EQ(files.writes(), 0);

    // A Sonnet weekly reading anchors nothing; the same or an older seven-day reading never replaces one.
    EXPECT_EQ(calibrate(reading(WindowKind::weekly, 60, 30, reset), fixedTokens(10), files),
              Calibration::otherKind);
    ASSERT_EQ(calibrate(reading(WindowKind::sevenDay, 60, 30, reset), fixedTokens(10), files),
              Calibration::calibrated);
    EXPECT_TRUE(loadAnchor(files).sevenDay);
    EXPECT_EQ(calibrate(reading(WindowKind::sevenDay, 60, 50, reset), fixedTokens(10), files),
              Calibration::notNewer);
    EXPECT_EQ(files.writes(), 1);
}

TEST_F(ClaudeEstimatorTest, AugmentCalibratesFromTheFirstFreshReadingAndEstimatesOnlyWithoutOne)
{
    const QDateTime reset5h = kNow.addSecs(3600);
    const QDateTime reset7d = kNow.addDays(3);
    QList<QDateTime> asked;
    const ClaudeTokenCount tokens = [&](const QDateTime& since) {
        asked.append(since);
        return std::optional<qint64>(10'000);
    };
    // Two fresh five-hour readings: the earlier anchors. A reading from a clock 10 minutes ahead never does.
    QList<UsageSnapshot> working{reading(WindowKind::fiveHour, 900, 20, reset5h),
                                 reading(WindowKind::fiveHour, 60, 30, reset5h),
                                 reading(WindowKind::sevenDay, -600, 90, reset7d)};
    QList<UsageSnapshot> estimates = augmentClaude(working, tokens, files, kNow);
    Anchor anchor = loadAnchor(files);
    ASSERT_TRUE(anchor.fiveHour);
    EXPECT_EQ(anchor.fiveHour->capturedAt, working[0].timestamp);
    EXPECT_FALSE(anchor.sevenDay);
    EXPECT_TRUE(estimates.isEmpty()); // the fresh five-hour reading stands; no weekly anchor
    // Only the calibration counted: an estimate the fresh reading suppresses asks for nothing.
    EXPECT_EQ(asked, QList<QDateTime>{reset5h.addSecs(-5 * 3600)});

    // 25 minutes later the readings are stale: an estimate stands beside them.
    estimates = augmentClaude(working, tokens, files, kNow.addSecs(1500));
    ASSERT_EQ(estimates.size(), 1);
    EXPECT_EQ(estimates[0].windowKind, WindowKind::fiveHour);
    EXPECT_EQ(estimates[0].source, QStringLiteral("claude.transcript"));
    EXPECT_EQ(estimates[0].sourceConfidence, SourceConfidence::low);

    // The Sonnet limit is a quota of its own: alone it anchors no seven-day rate; beside a weekly reading
    // the weekly one anchors.
    ClaudeFiles other{dir.path() + QStringLiteral("/sonnet")};
    EXPECT_TRUE(
        augmentClaude({reading(WindowKind::weekly, 120, 80, reset7d)}, tokens, other, kNow).isEmpty());
    EXPECT_FALSE(loadAnchor(other).sevenDay);
    (void)augmentClaude(
        {reading(WindowKind::weekly, 120, 80, reset7d), reading(WindowKind::sevenDay, 60, 20, reset7d)},
        tokens, other, kNow);
    ASSERT_TRUE(loadAnchor(other).sevenDay);
    EXPECT_DOUBLE_EQ(loadAnchor(other).sevenDay->usedPercent, 20);

    // Two accounts: the work account's fresh reading anchors only its own files, whose estimate carries its
    // key; the default account's files never learn from it.
    UsageSnapshot work = reading(WindowKind::fiveHour, 60, 70, reset5h);
    work.account = QStringLiteral("a1b2c3d4");
    ClaudeFiles personal{dir.path() + QStringLiteral("/personal")};
    EXPECT_EQ(calibrate(work, tokens, personal), Calibration::otherAccount);
    EXPECT_TRUE(augmentClaude({work}, tokens, personal, kNow).isEmpty());
    EXPECT_FALSE(loadAnchor(personal).fiveHour);
    const auto workFiles = ClaudeFiles::forAccount(personal, QStringLiteral("a1b2c3d4"));
    EXPECT_TRUE(augmentClaude({work}, tokens, *workFiles, kNow).isEmpty());
    ASSERT_TRUE(loadAnchor(*workFiles).fiveHour);
    EXPECT_DOUBLE_EQ(loadAnchor(*workFiles).fiveHour->usedPercent, 70);
    const QList<UsageSnapshot> later = augmentClaude({work}, tokens, *workFiles, kNow.addSecs(1500));
    ASSERT_EQ(later.size(), 1);
    EXPECT_EQ(later[0].account, work.account);
}

TEST_F(ClaudeEstimatorTest, EstimatesFollowTheAnchorRate)
{
    const auto anchorWith = [&](const Anchor& anchor) {
        files.write(ClaudeFiles::anchorFile, encodeAnchor(anchor));
    };
    anchorWith({WindowAnchor{30, 0.001, kNow, 300, kNow.addSecs(-3600)}, std::nullopt});
    struct Row
    {
        std::optional<qint64> tokens; // nothing: still being counted, so no estimate rather than 0 %
        double used;
        double remaining;
    } rows[] = {{50'000, 50, 50}, {200'000, 140, 0}, {0, 0, 100}, {std::nullopt, 0, 0}};
    for (const Row& row : rows) {
        const auto estimates = estimatedSnapshots(fixedTokens(row.tokens), files, kNow);
        ASSERT_EQ(estimates.size(), row.tokens ? 1 : 0);
        if (estimates.isEmpty())
            continue;
        EXPECT_DOUBLE_EQ(estimates[0].usedPercent, row.used);
        EXPECT_DOUBLE_EQ(estimates[0].remainingPercent, row.remaining);
        EXPECT_EQ(estimates[0].resetAt, kNow.addSecs(5 * 3600));
    }

    // A weekly anchor whose reset passed 1.5 periods ago: the next reset is half a period ahead, and only
    // tokens since the latest reset count.
    const qint64 period = 7 * 86'400;
    const QDateTime anchoredReset = kNow.addSecs(-period * 3 / 2);
    anchorWith({std::nullopt, WindowAnchor{60, 0.0001, anchoredReset, 10'080, anchoredReset.addDays(-1)}});
    QDateTime askedSince;
    const auto estimates = estimatedSnapshots(
        [&](const QDateTime& since) {
            askedSince = since;
            return std::optional<qint64>(100'000);
        },
        files, kNow);
    ASSERT_EQ(estimates.size(), 1);
    EXPECT_EQ(estimates[0].windowKind, WindowKind::sevenDay);
    EXPECT_EQ(*estimates[0].resetAt, kNow.addSecs(period / 2));
    EXPECT_EQ(askedSince, kNow.addSecs(-period / 2));
    EXPECT_DOUBLE_EQ(estimates[0].usedPercent, 10);
}

TEST_F(ClaudeEstimatorTest, FilesThatCannotServeAreIgnored)
{
    const QByteArray good = R"({"usedPercent":10,"pctPerToken":0.001,"resetAt":"2026-05-12T15:00:00Z",)"
                            R"("windowDurationMins":300,"capturedAt":"2026-05-12T13:00:00Z"})";
    struct Row
    {
        QByteArray file;
        bool fiveHour;
        bool sevenDay;
    } rows[] = {
        {"{\"fiveHour\":" + good + ",\"sevenDay\":" + good + "}", true, true},
        {"{\"fiveHour\":" + QByteArray(good).replace("13:00:00Z", "13:00:00.500Z") + "}", false, false},
        {"{\"fiveHour\":" +
             QByteArray(good).replace("\"windowDurationMins\":300", "\"windowDurationMins\":0") +
             ",\"sevenDay\":" + good + "}",
         false, true},
        {"{\"fiveHour\":" + QByteArray(good).replace("0.001", "1e999") + "}", false, false},
        {"not json", false, false},
    };
    for (const Row& row : rows) {
        TestSupport::writeFile(dir.filePath(ClaudeFiles::anchorFile), row.file);
        const Anchor anchor = loadAnchor(files);
        EXPECT_EQ(anchor.fiveHour.has_value(), row.fiveHour) << row.file.constData();
        EXPECT_EQ(anchor.sevenDay.has_value(), row.sevenDay) << row.file.constData();
    }
    TestSupport::writeFile(dir.filePath(ClaudeFiles::metaFile),
                           R"({"modelId":"claude-opus-4-8","capturedAt":"2026-05-12T13:00:00.1Z"})");
    EXPECT_FALSE(loadMeta(files));
}

TEST(ClaudeEstimatorModel, MergesTheNewerTranscriptModelAndNamesModels)
{
    const CurrentSettings meta{QStringLiteral("claude-opus-4-8"), QStringLiteral("Opus (bridge)"),
                               QStringLiteral("high"), true, kNow};
    const auto later = ModelSighting{QStringLiteral("claude-haiku-4-5-20251001"), kNow.addSecs(60)};
    const auto merged = mergingCurrentModel(meta, later);
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->modelId, later.id);
    EXPECT_EQ(merged->modelDisplayName, QStringLiteral("Haiku 4.5"));
    EXPECT_EQ(merged->effortLevel, QStringLiteral("high"));
    EXPECT_EQ(merged->capturedAt, kNow);
    EXPECT_EQ(mergingCurrentModel(meta, ModelSighting{later.id, kNow}), meta);
    EXPECT_EQ(mergingCurrentModel(meta, ModelSighting{*meta.modelId, kNow.addSecs(60)}), meta);
    EXPECT_EQ(mergingCurrentModel(std::nullopt, later),
              (CurrentSettings{later.id, QStringLiteral("Haiku 4.5"), {}, {}, {}}));
    EXPECT_EQ(mergingCurrentModel(meta, std::nullopt), meta);

    const std::pair<const char*, const char*> names[] = {
        {"claude-opus-4-8", "Opus 4.8"},
        {"claude-haiku-4-5-20251001", "Haiku 4.5"},
        {"claude-fable-5", "Fable 5"},
        {"claude-fable-5[1m]", "Fable 5 (1M context)"},
        {"claude-opus-4-8[1m]", "Opus 4.8 (1M context)"},
        {"claude-sonnet-4-20250514", "Sonnet 4"},
    };
    for (const auto& [id, name] : names)
        EXPECT_EQ(displayName(QString::fromLatin1(id)), QString::fromLatin1(name));
}

} // namespace

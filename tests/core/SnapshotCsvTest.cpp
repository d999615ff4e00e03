#include "core/text/SnapshotCsv.h"
#include "core/io/SnapshotCsvWriter.h"

#include "SnapshotTestData.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryFile>

#include <algorithm>

#include <fcntl.h>

using namespace SnapshotTestData;

TEST(SnapshotCsv, NumbersAreShortestRoundTripWithAFraction)
{
    const std::pair<double, const char*> rows[] = {
        {42, "42.0"},       {12.5, "12.5"},  {0, "0.0"},
        {100, "100.0"},     {-3, "-3.0"},    {0.1, "0.1"},
        {33.3, "33.3"},     {1e-7, "1e-07"}, {1.0 / 3, "0.3333333333333333"},
        {139.99, "139.99"},
    };
    for (const auto& [value, expected] : rows) {
        EXPECT_EQ(SnapshotCsv::formatNumber(value), QLatin1StringView(expected)) << expected;
        EXPECT_EQ(SnapshotCsv::formatNumber(value).toDouble(), value) << expected;
    }
}

TEST(SnapshotCsv, EscapesCommasQuotesLineBreaksAndFormulas)
{
    const std::pair<const char*, const char*> rows[] = {
        {"plus", "plus"},
        {"", ""},
        {"max, 20x", "\"max, 20x\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"carriage\rreturn", "\"carriage\rreturn\""},
        {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
        {"+1", "'+1"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"semi;colon", "semi;colon"},
    };
    for (const auto& [value, expected] : rows)
        EXPECT_EQ(SnapshotCsv::escape(QString::fromUtf8(value)), QString::fromUtf8(expected)) << value;
}

TEST(SnapshotCsv, RowsPickTheModelNameAndLeaveAbsentFieldsEmpty)
{
    UsageSnapshot base = reading(Provider::codex, WindowKind::fiveHour, utc(2026, 1, 31, 9, 15), 42);
    struct Row
    {
        const char* name;
        std::function<void(UsageSnapshot&)> change;
        const char* expected;
    };
    const Row rows[] = {
        {"bare", [](UsageSnapshot&) {},
         "2026-01-31T09:15:00Z,codex,fiveHour,42.0,58.0,,,,,,codex.app-server,high"},
        {"model id only", [](UsageSnapshot& s) { s.modelId = QStringLiteral("gpt-5.5"); },
         "2026-01-31T09:15:00Z,codex,fiveHour,42.0,58.0,,gpt-5.5,,,,codex.app-server,high"},
        {"display name wins",
         [](UsageSnapshot& s) {
             s.modelId = QStringLiteral("claude-opus-4-5");
             s.modelDisplayName = QStringLiteral("Opus 4.5");
         },
         "2026-01-31T09:15:00Z,codex,fiveHour,42.0,58.0,,Opus 4.5,,,,codex.app-server,high"},
        {"everything",
         [](UsageSnapshot& s) {
             s.resetAt = utc(2026, 1, 31, 14);
             s.effortLevel = QStringLiteral("high");
             s.speedMode = QStringLiteral("fast");
             s.planType = QStringLiteral("pro \"team\"");
             s.sourceConfidence = SourceConfidence::low;
             s.usedPercent = 12.5;
             s.remainingPercent = 87.5;
         },
         "2026-01-31T09:15:00Z,codex,fiveHour,12.5,87.5,2026-01-31T14:00:00Z,,high,fast,\"pro \"\"team\"\"\","
         "codex.app-server,low"},
    };
    for (const Row& row : rows) {
        UsageSnapshot s = base;
        row.change(s);
        EXPECT_EQ(SnapshotCsv::row(s), QString::fromUtf8(row.expected)) << row.name;
    }
    EXPECT_EQ(SnapshotCsv::document({}), QByteArray("timestamp,provider,window,usedPercent,remainingPercent,"
                                                    "resetAt,model,effort,speed,plan,source,confidence\n"));
}

TEST(SnapshotCsv, TheStreamedDocumentSortsStablyAcrossSpilledRuns)
{
    // Out of order, with equal stamps spread over several runs; rows of about 70 bytes.
    QList<UsageSnapshot> log;
    for (int i = 0; i < 300; ++i) {
        UsageSnapshot s =
            reading(Provider::codex, WindowKind::fiveHour, utc(2026, 1, 1).addSecs((i * 37) % 101), i % 100);
        s.planType = QString::number(i); // tells rows with equal stamps apart
        log.append(s);
    }
    // An export of one account keeps the columns it always had; one row of another adds its column to all.
    for (const bool accounts : {false, true}) {
        log[7].account = accounts ? std::optional<QString>(QStringLiteral("1a2b3c4d")) : std::nullopt;
        QList<UsageSnapshot> sorted = log;
        std::stable_sort(sorted.begin(), sorted.end(), [](const UsageSnapshot& a, const UsageSnapshot& b) {
            return a.timestamp < b.timestamp;
        });
        const QByteArray document = SnapshotCsv::document(sorted);
        EXPECT_EQ(document.left(document.indexOf('\n')).endsWith(",confidence,account"), accounts);
        EXPECT_EQ(document.count(",1a2b3c4d\n"), accounts ? 1 : 0);
        for (const qsizetype batchBytes : {qsizetype(1) << 20, qsizetype(2000), qsizetype(1)}) {
            SnapshotCsvWriter writer(batchBytes);
            for (const UsageSnapshot& s : log)
                ASSERT_TRUE(writer.add(s));
            QTemporaryFile out;
            ASSERT_TRUE(out.open());
            ASSERT_TRUE(writer.finish(out.handle()));
            EXPECT_EQ(batchBytes > 100'000, writer.spilledRuns() == 0) << batchBytes;
            // A child process started meanwhile (Codex) must not inherit the spill file: a descriptor kept
            // open on exec is counted twice.
            int spills = 0;
            const QDir fds(QStringLiteral("/proc/self/fd"));
            for (const QFileInfo& fd :
                 fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
                if (fd.symLinkTarget().contains(QLatin1String("tallyvane-export-")))
                    spills += (::fcntl(fd.fileName().toInt(), F_GETFD) & FD_CLOEXEC) != 0 ? 1 : 2;
            }
            EXPECT_EQ(spills, writer.spilledRuns() == 0 ? 0 : 1) << batchBytes;
            out.seek(0);
            EXPECT_EQ(out.readAll(), document) << batchBytes;
        }
    }
}

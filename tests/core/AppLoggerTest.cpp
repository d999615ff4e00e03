#include "core/io/AppLogger.h"
#include "core/io/LocalFileStore.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

TEST(AppLogger, RedactsInTableOrder)
{
    EXPECT_EQ(AppLogger::redact("mail jane.doe+x@example.co.uk now"), "mail <email> now");
    EXPECT_EQ(AppLogger::redact("key sk-ant-abcdef123 used"), "key <token> used");
    EXPECT_EQ(AppLogger::redact("Authorization: BEARER_abcdEFGH1234"), "Authorization: <token>");
    EXPECT_EQ(AppLogger::redact("open https://example.com/cb?code=xyz then wait"),
              "open <auth-url> then wait");
    EXPECT_EQ(AppLogger::redact("short sk-abc stays"), "short sk-abc stays");
}

TEST(AppLogger, FirstEntryCreatesTheLogAndEntriesKeepTheirOrder)
{
    QFile::remove(LocalFileStore::logPath());
    AppLogger& logger = AppLogger::shared();
    logger.error("refresh failed for token sk_live_0123456789");
    logger.warn("Codex not found in PATH");
    logger.flush();

    EXPECT_EQ(logger.lastError(), QStringLiteral("refresh failed for token <token>"));
    const QList<QByteArray> lines = TestSupport::readFile(LocalFileStore::logPath()).split('\n');
    ASSERT_EQ(lines.size(), 3); // two entries and the final line feed
    EXPECT_TRUE(lines[0].endsWith("] ERROR refresh failed for token <token>")) << lines[0].constData();
    EXPECT_TRUE(lines[1].endsWith("] WARN Codex not found in PATH"));
    EXPECT_TRUE(QRegularExpression("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] ")
                    .match(QString::fromUtf8(lines[0]))
                    .hasMatch());
}

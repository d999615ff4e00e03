#include "providers/codex/CodexConfigReader.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QFile>

TEST(CodexConfigReader, LineScanner)
{
    struct Row
    {
        const char* name;
        const char* text;
        std::optional<QString> model;
    };
    const Row rows[] = {
        {"double quotes stripped", "model = \"gpt-5.5\"\n", QStringLiteral("gpt-5.5")},
        {"single quotes stripped", "model='o3'", QStringLiteral("o3")},
        {"mixed runs of quotes stripped", "model = '\"x\"'", QStringLiteral("x")},
        {"blanks around the line, none around =", " \t model=\"a\" \t", QStringLiteral("a")},
        {"longer name does not match", "modelx = \"no\"\nmodel = \"yes\"", QStringLiteral("yes")},
        {"key inside another name does not match", "model_reasoning_effort = \"high\"", std::nullopt},
        {"first match wins, whatever the table", "[profiles.a]\nmodel = \"first\"\n[b]\nmodel = \"second\"",
         QStringLiteral("first")},
        {"empty quoted value matches and ends the scan", "model = \"\"\nmodel = \"later\"", std::nullopt},
        {"nothing after = is skipped, scan goes on", "model =\nmodel = \"later\"", QStringLiteral("later")},
        {"no = at all is skipped", "model\nmodel = \"later\"", QStringLiteral("later")},
        {"further = stay in the value", "model = a=b", QStringLiteral("a=b")},
        {"trailing comment stays", "model = \"gpt-5\" # note", QStringLiteral("gpt-5\" # note")},
        {"not at line start", "# model = \"c\"", std::nullopt},
        {"CRLF line ends", "model = \"crlf\"\r\nmodel_reasoning_effort = low\r\n", QStringLiteral("crlf")},
        {"blank lines ignored", "\n\n\nmodel = m\n\n", QStringLiteral("m")},
        {"empty text", "", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CodexConfigReader::value(u"model", QString::fromUtf8(row.text)), row.model);
    }
}

TEST(CodexConfigReader, FieldsAndTheFastFallback)
{
    struct Row
    {
        const char* name;
        const char* text;
        CodexConfig expected;
    };
    const Row rows[] = {
        {"all fields",
         "model = \"gpt-5.5\"\nmodel_reasoning_effort = 'high'\nplan_mode_reasoning_effort = \"low\"\n"
         "service_tier = \"flex\"\nfast = true\n",
         {QStringLiteral("gpt-5.5"), QStringLiteral("high"), QStringLiteral("low"), QStringLiteral("flex"),
          QStringLiteral("true")}},
        {"fast wins over fast_mode",
         "fast_mode = true\nfast = false\n",
         {std::nullopt, std::nullopt, std::nullopt, std::nullopt, QStringLiteral("false")}},
        {"fast_mode when fast is absent",
         "fast_mode = true\n",
         {std::nullopt, std::nullopt, std::nullopt, std::nullopt, QStringLiteral("true")}},
        {"fast_mode when fast is empty",
         "fast = \"\"\nfast_mode = on\n",
         {std::nullopt, std::nullopt, std::nullopt, std::nullopt, QStringLiteral("on")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CodexConfigReader::parse(QString::fromUtf8(row.text)), row.expected);
    }
}

TEST(CodexConfigReader, ReadsTheFileUnderHomeAndToleratesBadFiles)
{
    const QString path = CodexConfigReader::configPath();
    EXPECT_EQ(path, TestSupport::homePath() + QStringLiteral("/.codex/config.toml"));
    const auto write = [&](const QByteArray& bytes) { ASSERT_TRUE(TestSupport::writeFile(path, bytes)); };

    QFile::remove(path);
    EXPECT_EQ(CodexConfigReader::read(), CodexConfig{}) << "missing file";

    write("model = \"gpt-5.5\"\nmodel_reasoning_effort = \"medium\"\n");
    EXPECT_EQ(CodexConfigReader::read().model, QStringLiteral("gpt-5.5"));

    write("model = \"gpt-\xff\"\n");
    EXPECT_EQ(CodexConfigReader::read(), CodexConfig{}) << "not UTF-8";

    QFile::remove(path);
    QDir().mkpath(path); // a folder where the file should be
    EXPECT_EQ(CodexConfigReader::read(), CodexConfig{}) << "unreadable";
    QDir().rmdir(path);

    // Read on every push, so nothing there may block or flood: a FIFO, a device.
    ASSERT_EQ(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    EXPECT_EQ(CodexConfigReader::read(), CodexConfig{}) << "FIFO";
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path));
    EXPECT_EQ(CodexConfigReader::read(), CodexConfig{}) << "device";
    QFile::remove(path);

    // $CODEX_HOME when absolute, as Codex reads it.
    const QString other = TestSupport::homePath() + QStringLiteral("/codex-home");
    ASSERT_TRUE(TestSupport::writeFile(other + QStringLiteral("/config.toml"), "model = \"o9\"\n"));
    for (const auto& [set, model] : {std::pair{other, std::optional<QString>(QStringLiteral("o9"))},
                                     std::pair{QStringLiteral("codex-home"), std::optional<QString>()}}) {
        qputenv("CODEX_HOME", set.toLocal8Bit());
        EXPECT_EQ(CodexConfigReader::read().model, model) << set.toStdString();
    }
    qunsetenv("CODEX_HOME");
}

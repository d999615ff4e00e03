#include "CliProcess.h"
#include "support/Reading.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <sys/stat.h>

namespace {

using CliTest::Home;
using CliTest::run;
using TestSupport::writeFile;

QByteArray claudeConfig(const char* uuid, const char* email)
{
    return QJsonDocument(
               QJsonObject{{"oauthAccount", QJsonObject{{"accountUuid", uuid}, {"emailAddress", email}}}})
        .toJson();
}

// provider/label/enabled of every listed account, in order.
QStringList listed(const Home& home)
{
    const auto result = run(home, {"accounts", "list", "--json"});
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    QStringList rows;
    for (const QJsonValue& v : QJsonDocument::fromJson(result.out.toUtf8()).object()["accounts"].toArray()) {
        const QJsonObject o = v.toObject();
        rows.append(QStringLiteral("%1/%2/%3/%4")
                        .arg(o["provider"].toString(), o["label"].toString(),
                             o["enabled"].toBool() ? "on" : "off", o["key"].isString() ? "key" : "-"));
    }
    return rows;
}

} // namespace

TEST(AccountsCommand, AddsListsAndRemovesFoldersWithoutWritingWhoTheyAre)
{
    Home home;
    const QString h = home.path();
    ASSERT_TRUE(writeFile(h + "/.claude.json", claudeConfig("uuid-1", "ann@example.com")));
    ASSERT_TRUE(writeFile(h + "/.claude-work/.credentials.json", "{}"));
    ASSERT_TRUE(writeFile(h + "/.claude-work/.claude.json", claudeConfig("uuid-2", "ann@work.example")));
    ASSERT_TRUE(writeFile(h + "/team/.claude.json", claudeConfig("uuid-3", "bob@example.com")));
    QDir().mkpath(h + "/unknown");
    QDir().mkpath(h + "/.claude");

    EXPECT_EQ(listed(home), QStringList({"codex/default/on/-", "claude/ann/on/key", "claude/work/on/key"}));
    // The health of each, from the log: the default account's readings carry no key.
    home.writeLog({TestSupport::reading(Provider::claude, WindowKind::fiveHour,
                                        QDateTime::currentDateTimeUtc().addSecs(-150), 20)});
    QStringList health;
    for (const QJsonValue& v : QJsonDocument::fromJson(run(home, {"accounts", "list", "--json"}).out.toUtf8())
                                   .object()["accounts"]
                                   .toArray())
        health.append(v["health"].toString());
    EXPECT_EQ(health, QStringList({"not signed in", "ok, read 2m ago", "no reading yet"}));
    EXPECT_TRUE(run(home, {"accounts"}).out.contains(QRegularExpression("work .* on +no reading yet\n")));

    // A relative path is taken from the working folder; the provider is told by the files inside.
    auto added = run(home, {"accounts", "add", "team", "--label", "Team"});
    EXPECT_EQ(added.exitCode, 0) << added.err.toStdString();
    EXPECT_EQ(added.out, "Tallyvane watches ~/team as Claude Code · Team.\n");
    EXPECT_EQ(run(home, {"accounts", "remove", h + "/.claude-work"}).exitCode, 0);
    EXPECT_EQ(listed(home), QStringList({"codex/default/on/-", "claude/ann/on/key", "claude/work/off/key",
                                         "claude/Team/on/key"}));

    struct stat info = {};
    ASSERT_EQ(::stat(QFile::encodeName(home.file("accounts.json")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    for (const QString& file : QDir(home.dataFolder()).entryList(QDir::Files)) {
        const QByteArray bytes = TestSupport::readFile(home.dataFolder() + '/' + file);
        EXPECT_FALSE(bytes.contains("@") || bytes.contains("uuid-")) << file.toStdString();
    }

    // Back on with `add`; the added folder is forgotten on `remove`.
    EXPECT_EQ(run(home, {"accounts", "add", h + "/.claude-work"}).exitCode, 0);
    EXPECT_EQ(run(home, {"accounts", "remove", h + "/team"}).exitCode, 0);
    EXPECT_EQ(listed(home), QStringList({"codex/default/on/-", "claude/ann/on/key", "claude/work/on/key"}));

    struct Refusal
    {
        QStringList arguments;
        int status;
        const char* says;
    };
    const QList<Refusal> refusals{
        {{"accounts", "remove", h + "/.claude"}, 2, "turn Claude Code off in Settings"},
        {{"accounts", "add", h + "/missing"}, 2, "is not a folder"},
        {{"accounts", "add", h + "/unknown"}, 2, "add --provider claude or --provider codex"},
        {{"accounts", "remove", h + "/unknown"}, 2, "not an account folder Tallyvane watches"},
        {{"accounts", "add"}, 2, "takes one folder"},
        {{"accounts", "rename", "x"}, 2, "accounts takes list, add PATH or remove PATH"},
    };
    for (const Refusal& r : refusals) {
        const auto result = run(home, r.arguments);
        EXPECT_EQ(result.exitCode, r.status) << r.arguments.join(' ').toStdString();
        EXPECT_TRUE(result.err.startsWith("tallyvane: ") && result.err.contains(r.says))
            << result.err.toStdString();
    }
    EXPECT_EQ(run(home, {"accounts", "add", h + "/unknown", "--provider", "codex"}).exitCode, 0);
}

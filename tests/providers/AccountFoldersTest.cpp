#include "ClaudeTestSupport.h"
#include "support/TestSupport.h"

#include "providers/AccountFolders.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestSupport::writeFile;

QByteArray json(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray claudeConfig(const QString& uuid, const QString& email)
{
    return json({{"oauthAccount", QJsonObject{{"accountUuid", uuid}, {"emailAddress", email}}},
                 {"projects", QJsonObject{}}});
}

// An unsigned JWT whose claims carry the e-mail, as Codex keeps its id_token.
QByteArray codexAuth(const QString& accountId, const QString& email)
{
    const auto part = [](const QJsonObject& o) {
        return json(o).toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    };
    const QString token =
        part({{"alg", "none"}}) + '.' + part({{"email", email}, {"sub", "user-1"}}) + ".sig";
    QJsonObject tokens{{"id_token", token}, {"access_token", "secret"}};
    if (!accountId.isEmpty())
        tokens.insert("account_id", accountId);
    return json({{"tokens", tokens}});
}

struct Seen
{
    QString folder;
    QString label;
    bool isDefault;
    bool enabled;
    QString accountId;
};

QList<Seen> seen(Provider provider, const QList<AccountFolder>& added)
{
    QList<Seen> rows;
    for (const AccountFolder& f : AccountFolders::discover(provider, added)) {
        const auto who = AccountFolders::identity(f);
        rows.append(
            {f.folder, AccountFolders::label(f, who), f.isDefault, f.enabled, who ? who->accountId : ""});
    }
    return rows;
}

void expectRows(const QList<Seen>& got, const QList<Seen>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(want[i].folder.toStdString());
        EXPECT_EQ(got[i].folder, want[i].folder);
        EXPECT_EQ(got[i].label, want[i].label);
        EXPECT_EQ(got[i].isDefault, want[i].isDefault);
        EXPECT_EQ(got[i].enabled, want[i].enabled);
        EXPECT_EQ(got[i].accountId, want[i].accountId);
    }
}

} // namespace

TEST(AccountFolders, FindsEveryClaudeFolderAndWhoItIsSignedInAs)
{
    const QString home = QDir::homePath();
    QTemporaryDir elsewhere;
    const QString team = elsewhere.path() + "/claude-team";
    // The default folder's account lives beside it, in ~/.claude.json; every other folder keeps its own.
    ASSERT_TRUE(writeFile(home + "/.claude.json", claudeConfig("uuid-personal", "ann@example.com")));
    ASSERT_TRUE(writeFile(home + "/.claude/.credentials.json", "{}"));
    ASSERT_TRUE(writeFile(home + "/.claude-work/.credentials.json", "{}"));
    ASSERT_TRUE(
        writeFile(home + "/.claude-work/.claude.json", claudeConfig("uuid-work", "ann@work.example")));
    ASSERT_TRUE(writeFile(home + "/.claude-old/settings.json", "{}")); // never signed in: not an account
    ASSERT_TRUE(writeFile(home + "/.claude-\x1b[31mred/.credentials.json", "{}"));
    ASSERT_TRUE(writeFile(team + "/.claude.json", claudeConfig("uuid-team", "bob@example.com")));

    const QList<AccountFolder> added{{Provider::claude, team, "", false, true, true},
                                     {Provider::claude, home + "/.claude-work/", "Job", false, true, false},
                                     {Provider::claude, "relative/folder", "", false, true, true},
                                     {Provider::codex, team, "", false, true, true}};
    expectRows(seen(Provider::claude, added), {{home + "/.claude", "ann", true, true, "uuid-personal"},
                                               {home + "/.claude-\x1b[31mred", "red", false, true, ""},
                                               {home + "/.claude-work", "Job", false, false, "uuid-work"},
                                               {team, "bob", false, true, "uuid-team"}});

    // Under CLAUDE_CONFIG_DIR the default folder keeps its account inside, as Claude Code does.
    ClaudeTestSupport::ScopedEnvironment env;
    env.set("CLAUDE_CONFIG_DIR", team);
    const auto rows = seen(Provider::claude, {});
    ASSERT_GE(rows.size(), 1);
    EXPECT_EQ(rows[0].folder, team);
    EXPECT_EQ(rows[0].accountId, "uuid-team");
    EXPECT_TRUE(rows[0].isDefault);

    QDir(home + "/.claude").removeRecursively();
    for (const char* name : {"/.claude-work", "/.claude-old", "/.claude-\x1b[31mred"})
        QDir(home + name).removeRecursively();
    QFile::remove(home + "/.claude.json");
}

TEST(AccountFolders, FindsEveryCodexHomeAndKeysNameAccountsWithoutTheirIds)
{
    const QString home = QDir::homePath();
    ASSERT_TRUE(writeFile(home + "/.codex/auth.json", codexAuth("acct-1", "ann@example.com")));
    ASSERT_TRUE(writeFile(home + "/.codex-personal/auth.json", codexAuth("", "ann@home.example")));
    ASSERT_TRUE(writeFile(home + "/.codex-empty/config.toml", ""));
    ASSERT_TRUE(writeFile(home + "/.codex-broken/auth.json", "{not json"));

    expectRows(seen(Provider::codex, {}), {{home + "/.codex", "ann", true, true, "acct-1"},
                                           {home + "/.codex-broken", "broken", false, true, ""},
                                           {home + "/.codex-personal", "personal", false, true, "user-1"}});

    const QString key = AccountFolders::key(Provider::codex, "acct-1");
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{8}$").match(key).hasMatch()) << key.toStdString();
    EXPECT_EQ(key, AccountFolders::key(Provider::codex, "acct-1"));
    EXPECT_NE(key, AccountFolders::key(Provider::claude, "acct-1"));
    EXPECT_NE(key, AccountFolders::key(Provider::codex, "acct-2"));
    for (const char* name : {"/.codex", "/.codex-personal", "/.codex-empty", "/.codex-broken"})
        QDir(home + name).removeRecursively();
}

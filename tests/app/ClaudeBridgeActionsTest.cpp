#include "app/AppState.h"

#include "core/SnapshotStore.h"
#include "providers/ClaudeTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace ClaudeTestSupport;

// The settings remember the bridge only when an install or uninstall really happened.
TEST(ClaudeBridgeActionsTest, SettingsFollowOnlySuccessfulActions)
{
    QTemporaryDir folder;
    ScopedEnvironment environment;
    environment.set("CLAUDE_CONFIG_DIR", folder.path() + "/claude");
    environment.set("XDG_DATA_HOME", folder.path() + "/data");
    const QString settingsFile = folder.path() + "/claude/settings.json";

    AppSettings initial;
    initial.claudeBridgeInstalled = false;
    QList<AppSettings> saves;
    AppStateEnvironment env;
    env.store = std::make_shared<SnapshotStore>(folder.path() + "/snapshots.ndjson");
    env.loadSettings = [initial] { return initial; };
    env.scheduleSave = [&](const AppSettings& s) { saves.append(s); };
    env.providerFactory = [](Provider, const std::shared_ptr<SnapshotStore>&) { return nullptr; };
    AppState state(env);
    state.init();

    writeFile(settingsFile, "{ not json");
    EXPECT_EQ(state.installClaudeBridge(), "Could not read ~/.claude/settings.json; nothing was changed.");
    EXPECT_TRUE(saves.isEmpty());
    EXPECT_FALSE(state.settings().claudeBridgeInstalled);

    writeFile(settingsFile, R"({"statusLine":{"type":"command","command":"my-prompt.sh"}})");
    EXPECT_EQ(state.installClaudeBridge(), "Installed Tallyvane bridge wrapping your existing status line.");
    EXPECT_TRUE(state.settings().claudeBridgeInstalled);
    EXPECT_EQ(state.settings().previousClaudeStatusLineCommand, "my-prompt.sh");
    ASSERT_FALSE(saves.isEmpty());
    EXPECT_TRUE(saves.last().claudeBridgeInstalled);

    writeFile(settingsFile, "[]");
    state.uninstallClaudeBridge();
    EXPECT_TRUE(state.settings().claudeBridgeInstalled);

    writeFile(settingsFile,
              R"({"statusLine":{"command":"python3 /x/tallyvane-claude-statusline-bridge.py"}})");
    EXPECT_EQ(state.uninstallClaudeBridge(), "Removed bridge and restored your previous status line.");
    EXPECT_FALSE(state.settings().claudeBridgeInstalled);
    EXPECT_EQ(state.settings().previousClaudeStatusLineCommand, std::nullopt);
}

#include "app/AppState.h"
#include "app/StateActions.h"

#include "core/SnapshotStore.h"
#include "providers/ClaudeTestSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

using namespace ClaudeTestSupport;

// The installer runs off the GUI thread; its message comes back on it, the state refreshes (its Claude
// health follows the bridge) and the settings are left alone.
TEST(ClaudeBridgeActionsTest, AnswersOnTheGuiThreadAndRefreshes)
{
    QTemporaryDir folder;
    ScopedEnvironment environment;
    environment.set("CLAUDE_CONFIG_DIR", folder.path() + "/claude");
    environment.set("XDG_DATA_HOME", folder.path() + "/data");
    const QString settingsFile = folder.path() + "/claude/settings.json";

    QList<AppSettings> saves;
    AppStateEnvironment env;
    env.store = std::make_shared<SnapshotStore>(folder.path() + "/snapshots.ndjson");
    env.loadSettings = [] { return AppSettings{}; };
    env.scheduleSave = [&](const AppSettings& s) { saves.append(s); };
    env.providerFactory = [](Provider, const std::shared_ptr<SnapshotStore>&) { return nullptr; };
    AppState state(env);
    int finished = 0;
    QObject::connect(&state, &AppState::cycleFinished, [&] { ++finished; });
    state.init();
    ASSERT_TRUE(TestSupport::waitFor([&] { return finished > 0; }));
    StateActions actions(state);
    saves.clear();

    const auto answer = [&](bool install) {
        std::optional<QString> message;
        const int cycles = finished;
        const auto take = [&](const QString& text) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            message = text;
        };
        install ? actions.installBridge(take) : actions.uninstallBridge(take);
        EXPECT_TRUE(TestSupport::waitFor([&] { return message.has_value(); }));
        EXPECT_TRUE(TestSupport::waitFor([&] { return finished > cycles; }));
        return message.value_or(QString());
    };
    writeFile(settingsFile, "{ not json");
    EXPECT_EQ(answer(true), "Could not read ~/.claude/settings.json; nothing was changed.");
    writeFile(settingsFile, R"({"statusLine":{"type":"command","command":"my-prompt.sh"}})");
    EXPECT_EQ(answer(true), "Installed Tallyvane bridge wrapping your existing status line.");
    EXPECT_EQ(answer(false), "Removed bridge and restored your previous status line.");
    EXPECT_TRUE(saves.isEmpty());
}

#include "ui/PanelFeeds.h"

#include "app/AppState.h"
#include "core/io/LocalFileStore.h"
#include "platform/FolderOpener.h"
#include "platform/LoginItemManager.h"

#include <utility>

PanelFeeds PanelFeeds::fromState(AppState& state)
{
    PanelFeeds feeds;
    feeds.diagnosticsText = [&state] { return state.diagnosticsText(); };
    feeds.bridgeStatus = [] { return AppState::bridgeStatus(); };
    feeds.openFolder = [&state](const QString& folder, std::function<void(bool)> done) {
        FolderOpener::open(folder, &state, std::move(done));
    };
    feeds.setStartAtLogin = [](bool enabled) { return LoginItemManager::setEnabled(enabled); };
    return feeds;
}

#include "ui/PanelFeeds.h"

#include "app/AppState.h"
#include "core/LocalFileStore.h"
#include "platform/LoginItemManager.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include <utility>

PanelFeeds PanelFeeds::fromState(AppState& state)
{
    PanelFeeds feeds;
    feeds.diagnosticsText = [&state] { return state.diagnosticsText(); };
    feeds.bridgeStatus = [] { return AppState::bridgeStatus(); };
    feeds.revealExport = [](const QString& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    };
    feeds.openDataFolder = [] {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(LocalFileStore::baseDirectory()));
    };
    feeds.setStartAtLogin = [](bool enabled) { return LoginItemManager::setEnabled(enabled); };
    return feeds;
}

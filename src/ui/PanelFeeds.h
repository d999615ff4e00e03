#pragma once

#include "app/AppState.h"

#include <QString>

#include <functional>

// The outside actions and questions the panel starts beyond the published state: each member may be empty,
// the control it serves is then left out. fromState() answers from the state and this machine; tests and
// screenshots replace members.
struct PanelFeeds
{
    // Redacted, for the clipboard.
    std::function<QString()> diagnosticsText;
    std::function<ClaudeBridgeStatus()> bridgeStatus;
    // Shows a written CSV export in the file manager.
    std::function<void(const QString& path)> revealExport;
    // False when nothing could open a folder.
    std::function<bool()> openDataFolder;
    // False when the login item could not be changed.
    std::function<bool(bool)> setStartAtLogin;
    // Posts a sample notification; `done` gets the line to show.
    std::function<void(std::function<void(const QString&)> done)> sendTestNotification;

    static PanelFeeds fromState(AppState& state);
};

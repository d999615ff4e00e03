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
    // Shows a folder in the file manager; `done(false)` when nothing could.
    std::function<void(const QString& folder, std::function<void(bool opened)> done)> openFolder;
    // False when the login item could not be changed.
    std::function<bool(bool)> setStartAtLogin;
    // Posts a sample notification; `done` gets the line to show.
    std::function<void(std::function<void(const QString&)> done)> sendTestNotification;

    static PanelFeeds fromState(AppState& state);
};

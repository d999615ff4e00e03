#pragma once

#include <QString>

#include <optional>

// Whether Claude Code's status line runs Tallyvane's bridge.
struct ClaudeBridgeStatus
{
    enum class State
    {
        notInstalled,
        installed,
        wrapping,
        foreign,
        error
    };

    State state = State::notInstalled;
    // wrapping: the command the bridge wraps; foreign: the other command installed.
    std::optional<QString> previousCommand;
    // error: a short reason ("settings unreadable").
    QString reason;

    friend bool operator==(const ClaudeBridgeStatus&, const ClaudeBridgeStatus&) = default;
};

// "notInstalled", "installed", "wrapping", "foreign", "error".
QString rawValue(ClaudeBridgeStatus::State state);

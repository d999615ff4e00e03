#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The connection state of one live provider; not persisted.
struct ProviderHealth
{
    enum class State
    {
        connected,
        idle,
        unavailable,
        error,
        demo
    };

    State state = State::idle;
    QString detail;
    std::optional<QDateTime> lastUpdate;
    std::optional<QString> lastError;

    friend bool operator==(const ProviderHealth&, const ProviderHealth&) = default;
};

// "connected", "idle", "unavailable", "error", "demo".
QString rawValue(ProviderHealth::State state);

#include "core/model/ProviderHealth.h"

QString rawValue(ProviderHealth::State state)
{
    switch (state) {
    case ProviderHealth::State::connected:
        return QStringLiteral("connected");
    case ProviderHealth::State::idle:
        return QStringLiteral("idle");
    case ProviderHealth::State::unavailable:
        return QStringLiteral("unavailable");
    case ProviderHealth::State::error:
        return QStringLiteral("error");
    case ProviderHealth::State::demo:
        return QStringLiteral("demo");
    }
    return {};
}

#include "app/ProviderFactory.h"

ProviderFactory defaultProviderFactory()
{
    return [](Provider, const std::shared_ptr<SnapshotStore>&) -> std::shared_ptr<UsageProvider> {
        return nullptr;
    };
}

#include "app/ProviderFactory.h"

#include "providers/claude/ClaudeProvider.h"
#include "providers/codex/CodexProvider.h"

ProviderFactory defaultProviderFactory()
{
    return
        [](Provider provider, const std::shared_ptr<SnapshotStore>& store) -> std::shared_ptr<UsageProvider> {
            switch (provider) {
            case Provider::codex:
                return std::make_shared<CodexProvider>(store);
            case Provider::claude:
                return std::make_shared<ClaudeProvider>(store);
            }
            return nullptr;
        };
}

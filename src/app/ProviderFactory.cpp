#include "app/ProviderFactory.h"

#include "providers/AccountFolders.h"
#include "providers/claude/ClaudeOAuthUsage.h"
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

AccountProviderFactory defaultAccountProviderFactory()
{
    return [](const AccountFolders::Account& account,
              const std::shared_ptr<SnapshotStore>& store) -> std::shared_ptr<UsageProvider> {
        if (account.folder.provider == Provider::claude)
            return std::make_shared<ClaudeProvider>(
                store, account.key,
                ClaudeOAuthUsage::forAccount(account.folder.folder + QStringLiteral("/.credentials.json"),
                                             account.key),
                Clock::system());
        CodexLaunchOptions launch = CodexLaunchOptions::standard();
        launch.codexHome = account.folder.folder;
        launch.account = account.key;
        return std::make_shared<CodexProvider>(store, std::move(launch));
    };
}

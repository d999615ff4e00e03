#include "app/ProviderFactory.h"

#include "core/io/AccountList.h"
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

AccountProvidersFactory defaultAccountProvidersFactory()
{
    return [](Provider provider, const std::shared_ptr<SnapshotStore>& store) {
        QList<std::shared_ptr<UsageProvider>> providers;
        const QList<AccountFolders::Account> accounts =
            AccountFolders::accounts(provider, AccountList::load());
        for (const AccountFolders::Account& account : accounts) {
            if (account.folder.isDefault || !account.folder.enabled)
                continue;
            if (provider == Provider::claude) {
                providers.append(std::make_shared<ClaudeProvider>(
                    store, account.key,
                    ClaudeOAuthUsage::forAccount(account.folder.folder + QStringLiteral("/.credentials.json"),
                                                 account.key),
                    Clock::system()));
            } else {
                CodexLaunchOptions launch = CodexLaunchOptions::standard();
                launch.codexHome = account.folder.folder;
                launch.account = account.key;
                providers.append(std::make_shared<CodexProvider>(store, std::move(launch)));
            }
        }
        return providers;
    };
}

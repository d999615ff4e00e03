#pragma once

#include "core/model/Enums.h"
#include "providers/AccountFolders.h"
#include "providers/UsageProvider.h"

#include <QList>

#include <functional>
#include <memory>

class SnapshotStore;

// Creates the live provider of one kind on the shared snapshot store, or nothing when that provider
// cannot run here; a provider that was not created simply has no health entry.
using ProviderFactory = std::function<std::shared_ptr<UsageProvider>(
    Provider provider, const std::shared_ptr<SnapshotStore>& store)>;

// The providers this build can run: Codex through its app-server, Claude Code through its OAuth usage
// endpoint and the status-line bridge.
ProviderFactory defaultProviderFactory();

// The provider of one of an assistant's other accounts (a switched-on folder of AccountFolders::accounts
// besides the default one), or nothing when it cannot run here.
using AccountProviderFactory = std::function<std::shared_ptr<UsageProvider>(
    const AccountFolders::Account& account, const std::shared_ptr<SnapshotStore>& store)>;

// A Claude folder read through its own credential, a Codex home through an app-server child of its own.
AccountProviderFactory defaultAccountProviderFactory();

#pragma once

#include "core/model/Enums.h"
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

// The providers of one kind's other accounts (besides the default folder's), each with its key.
using AccountProvidersFactory = std::function<QList<std::shared_ptr<UsageProvider>>(
    Provider provider, const std::shared_ptr<SnapshotStore>& store)>;

// One per switched-on account folder found or added (AccountFolders::accounts): a Claude folder read
// through its own credential, a Codex home through an app-server child of its own.
AccountProvidersFactory defaultAccountProvidersFactory();

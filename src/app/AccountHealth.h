#pragma once

#include "core/model/ProviderHealth.h"
#include "core/model/SnapshotLog.h"

#include <QDateTime>
#include <QString>

#include <optional>

// How the reading of one account goes, in a few words, for Settings, `accounts list` and status --json.
namespace AccountHealth {

struct Facts
{
    bool enabled = true;
    // Whether the folder tells which account it is signed in to.
    bool signedIn = true;
    std::optional<QDateTime> newestReading;
    // The account's provider, where it runs in this process.
    std::optional<ProviderHealth> live;
};

// "off", the provider's error, "ok, read 2m ago", "not signed in" or "no reading yet", the first that holds.
[[nodiscard]] QString text(const Facts& facts, const QDateTime& now);

// The newest of the log's readings of the account `key` of `provider`; the default account's readings carry
// no key.
[[nodiscard]] std::optional<QDateTime> newestReading(const SnapshotLog& log, Provider provider,
                                                     const QString& key, bool isDefault);

} // namespace AccountHealth

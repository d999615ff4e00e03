#pragma once

#include "core/model/AccountFolder.h"
#include "history/UsageHistory.h"

#include <QList>
#include <QString>

#include <optional>

// The account folders as Settings and `tallyvane accounts` show and change them: every folder found or added,
// each with its key and label. Every change goes into accounts.json through AccountList, never settings.json.
namespace AccountSettings {

struct Entry
{
    AccountFolder folder;
    // Empty while the folder is signed in to no account.
    QString key;
    QString label;

    friend bool operator==(const Entry&, const Entry&) = default;
};

// The key the readings and transcripts of the entry's folder carry: one not signed in is keyed by its path.
[[nodiscard]] QString readingKey(const Entry& entry);

// Every assistant's folders, each assistant's in AccountFolders::discover's order.
[[nodiscard]] QList<Entry> list();

struct Outcome
{
    // 0 done, 1 accounts.json could not be written, 2 the folder cannot be an account.
    int status = 0;
    // The refusal in words, or what is watched now.
    QString message;
};

// Watches the absolute `folder`, switched on, under `label` when one is given; `provider` decides when the
// folder's files do not tell whose it is.
Outcome add(const QString& folder, std::optional<Provider> provider, const QString& label);
// An empty label gives the folder back the name it is found by.
Outcome setLabel(Provider provider, const QString& folder, const QString& label);
// A default folder goes on and off with its assistant, in Providers.
Outcome setEnabled(Provider provider, const QString& folder, bool enabled);

// Splits the transcripts by account: the switched-on folders signed in to the default account add their
// transcript folders (Claude's projects/, Codex's sessions/) to the default roots, every other account's to
// its own, so two folders of one account are summed into it.
void addTranscriptRoots(UsageHistory::Options& options);

// Which assistant a folder belongs to, from the files each keeps there, else from its name.
std::optional<Provider> providerOf(const QString& folder);
// "~/.claude-work" for a folder under HOME, the full path elsewhere.
QString shown(const QString& folder);

} // namespace AccountSettings

#pragma once

#include "core/model/AccountFolder.h"

#include <QList>
#include <QString>

#include <optional>

// Finds the folders of every account of an assistant on this machine, and who each is signed in as.
namespace AccountFolders {

// The default folder first, then each ~/.claude-* holding a .credentials.json (~/.codex-* holding an
// auth.json), then the user's own; a folder named twice appears once, with the user's label and switch.
QList<AccountFolder> discover(Provider provider, const QList<AccountFolder>& added);

struct Identity
{
    // The assistant's own id of the account; stays in memory, never in a file.
    QString accountId;
    // "ann" for ann@example.com: a label of last resort, never written anywhere.
    QString emailName;
};

// Who the folder is signed in as, from the assistant's own files: `oauthAccount` in Claude Code's
// .claude.json, the tokens in Codex's auth.json. Nothing when it cannot tell.
std::optional<Identity> identity(const AccountFolder& folder);

// The short stable name of an account in the log and in every file another tool reads: 8 hex digits of a
// SHA-256 over the provider and the account's id, so no e-mail or id leaves the machine's memory.
QString key(Provider provider, const QString& accountId);

// The label shown for the folder: the user's, else the folder's suffix ("work" for ~/.claude-work), else the
// e-mail's name, else the folder's name.
QString label(const AccountFolder& folder, const std::optional<Identity>& identity);

// One account to watch: the folder it is read from, its key and its label.
struct Account
{
    AccountFolder folder;
    QString key;
    QString label;

    friend bool operator==(const Account&, const Account&) = default;
};

// The switched-on accounts of `discover`, the default one first. A folder signed in to an account listed
// before it is left out (one account, read once); one that tells no identity is keyed by its path.
QList<Account> accounts(Provider provider, const QList<AccountFolder>& added);

} // namespace AccountFolders

#pragma once

#include "core/model/Enums.h"

#include <QString>

// One folder an assistant keeps an account's files in: Claude Code's config folder, or a Codex home.
struct AccountFolder
{
    Provider provider = Provider::claude;
    // Absolute and clean.
    QString folder;
    // The user's name for it; empty lets the folder's suffix or the account's e-mail name it.
    QString label;
    // The folder the assistant uses when started without CLAUDE_CONFIG_DIR or CODEX_HOME of its own.
    bool isDefault = false;
    // Named by the user (`tallyvane accounts add`) rather than found.
    bool added = false;
    bool enabled = true;

    friend bool operator==(const AccountFolder&, const AccountFolder&) = default;
};

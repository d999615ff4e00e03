#pragma once

#include "core/model/AccountFolder.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The user's own account folders and switches, in the data folder's accounts.json: kept apart from
// settings.json so that `tallyvane accounts` can change them while the tray runs, which re-reads the file.
namespace AccountList {

QString path();
// The largest accounts.json read.
inline constexpr qint64 maxFile = 256 * 1024;
// Nothing for a missing, foreign, oversized or unreadable file; entries that make no sense are skipped.
QList<AccountFolder> load();
// Replaces the file (0600); false with the reason in `error` when it cannot.
bool save(const QList<AccountFolder>& folders, QString* error = nullptr);

QByteArray encode(const QList<AccountFolder>& folders);
QList<AccountFolder> decode(const QByteArray& bytes);

} // namespace AccountList

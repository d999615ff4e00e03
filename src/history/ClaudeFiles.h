#pragma once

#include "core/model/OptionalText.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <optional>

// The small JSON files the Claude estimator and the effort calibration keep in the data folder. The running
// application writes them atomically; a read-only run (`tallyvane status`) keeps its writes in memory, so
// its later reads see them and the disk never changes.
class ClaudeFiles
{
public:
    static constexpr QLatin1StringView anchorFile{"claude-anchor.json"};
    static constexpr QLatin1StringView metaFile{"claude-meta.json"};
    static constexpr QLatin1StringView effortFile{"claude-effort-rates.json"};

    // `account`: the key of the account whose readings these files learn from (AccountFolders::key), kept
    // in the data folder's "accounts/<key>/"; empty for the default account's, in the data folder itself.
    explicit ClaudeFiles(QString folder, bool readOnly = false, QString account = {});
    // The files of another account than the default one, below the default account's `base`.
    static std::shared_ptr<ClaudeFiles> forAccount(const ClaudeFiles& base, const QString& account);

    // The file's bytes (or what a read-only run wrote in its place); nothing when missing, unreadable or
    // larger than 1 MiB.
    std::optional<QByteArray> read(QLatin1StringView name) const;
    // Replaces the file whole; a failure is ignored (the caller's result is lost, as for a crash).
    void write(QLatin1StringView name, const QByteArray& bytes);
    // How many writes reached this object, for "nothing changed" checks.
    int writes() const;
    // An INFO line for the application log; a read-only run keeps it in memory only.
    void logInfo(const QString& message);
    QStringList loggedLines() const;
    bool readOnly() const { return m_readOnly; }
    const QString& folder() const { return m_folder; }
    const QString& account() const { return m_account; }
    // Whether a reading is of this account: the default account's readings carry no key.
    bool holds(const OptionalText& account) const { return account.value_or(QString()) == m_account; }

    // ISO 8601 internet date-time with whole seconds, UTC ("2025-06-01T12:00:00Z").
    static QString formatDate(const QDateTime& date);
    // The same form, any offset; a fraction of a second or any other shape is refused.
    static std::optional<QDateTime> parseDate(const QString& text);

private:
    QString m_folder;
    bool m_readOnly;
    QString m_account;
    mutable std::mutex m_mutex;
    QHash<QString, QByteArray> m_memory;
    QStringList m_logged;
    int m_writes = 0;
};

#pragma once

#include "core/io/AtomicFile.h"
#include "core/model/UsageSnapshot.h"
#include "core/runtime/SerialQueue.h"
#include "providers/claude/ClaudeCredential.h"
#include "providers/claude/ClaudeEndpoints.h"
#include "providers/claude/ClaudeOAuthStatus.h"
#include "providers/claude/ClaudeUsageAnswer.h"

#include <QDateTime>
#include <QList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

class ClaudeCredentialStore;
class HttpClient;

// Asks Claude's OAuth usage endpoint how much of each quota window is used, with Claude Code's own
// credential, refreshing that credential first when it is about to expire.
//
// A refresh token is good for one refresh only: a refresh whose result does not reach Claude Code's store
// logs the user out of Claude Code. So a refresh happens only when the store can be written, the write-back
// changes nothing but the three token members, and a new credential that could not be stored is kept here
// (and in a 0600 copy beside the backup, so a restart still has it) and written again on the next fetch
// instead of being refreshed again.
//
// One fetch runs at a time; a fetch asked for while one runs is skipped. Every accessor is safe from any
// thread.
class ClaudeOAuthUsage
{
public:
    using Status = ClaudeOAuthStatus;
    using ExtraUsage = ClaudeExtraUsage;
    using Completion = std::function<void(const QList<UsageSnapshot>&)>;

    struct Result
    {
        Status status;
        QList<UsageSnapshot> snapshots;
    };

    // A refresh that failed blocks the next for this long.
    static constexpr qint64 refreshBackoffSeconds = 900;
    // A credential expiring within this is refreshed before use.
    static constexpr qint64 expiryMarginSeconds = 60;
    // After a 429 without Retry-After; doubled on each further 429 up to the cap.
    static constexpr qint64 rateLimitBackoffSeconds = 300;
    static constexpr qint64 rateLimitBackoffCapSeconds = 1800;
    // No back-off lasts longer, whatever Retry-After asks: a hostile or broken answer must not stop fetches
    // for good.
    static constexpr qint64 maxBackoffSeconds = 3600;

    // `backupPath`: where the credential goes, mode 0600, before a refresh replaces it. A refreshed
    // credential that could not be written waits in "claude-credentials-unsaved.json" in the same folder.
    ClaudeOAuthUsage(std::shared_ptr<ClaudeCredentialStore> store, ClaudeEndpoints endpoints,
                     HttpClient& http, QString backupPath);
    ~ClaudeOAuthUsage();
    ClaudeOAuthUsage(const ClaudeOAuthUsage&) = delete;
    ClaudeOAuthUsage& operator=(const ClaudeOAuthUsage&) = delete;

    // The process's instance: Claude Code's credential file, the endpoints with their environment
    // overrides, the data folder's "claude-credentials-backup.json".
    static ClaudeOAuthUsage& shared();
    // The instance of another account's credential file (`key`: the account's, AccountFolders::key): its own
    // back-off and refreshes, its backup under the data folder's "accounts/<key>/".
    static ClaudeOAuthUsage& forAccount(const QString& credentialsPath, const QString& key);
    // Before the process ends (while the application object still stands): lets a refresh of every
    // account's instance that has already spent the old token finish its write-back, bounded by the token
    // time-out, and starts no other.
    static void finishSharedRefresh();

    // Starts one fetch on the background worker and returns at once. `completion` runs later on the
    // application's main thread with the snapshots (empty on any failure, and when the fetch was skipped).
    void fetch(const QDateTime& now, Completion completion);
    // The same work on the calling thread; nothing when another fetch is running.
    std::optional<Result> fetchNow(const QDateTime& now);

    std::optional<ClaudeCredential> readCredential() const;
    QString credentialLocation() const;

    std::optional<Status> lastStatus() const;
    std::optional<ExtraUsage> lastExtra() const;
    std::optional<QDateTime> lastRefreshFailure() const;
    // Fetches before this are skipped after a 429.
    std::optional<QDateTime> rateLimitedUntil() const;
    // A refreshed credential that is still waiting to be written back.
    bool holdsUnsavedCredential() const;
    // Why the last refresh due was not sent (the new token could not have been kept), while that lasts.
    std::optional<QString> refreshHeldBack() const;
    // From now on no refresh starts (the process is ending); returns once none is in flight, or after
    // `bound`.
    void endRefreshes(std::chrono::milliseconds bound);

private:
    struct Unsaved
    {
        ClaudeCredential credential;
        // The refresh token the store still holds until the write succeeds: the one the first unsaved
        // refresh consumed.
        QString consumedRefreshToken;
    };

    // Counts a refresh in flight for endRefreshes; none is admitted once they have ended.
    class InFlight
    {
    public:
        explicit InFlight(ClaudeOAuthUsage& usage);
        ~InFlight();
        InFlight(const InFlight&) = delete;
        InFlight& operator=(const InFlight&) = delete;
        bool admitted() const { return m_admitted; }

    private:
        ClaudeOAuthUsage& m_usage;
        bool m_admitted = false;
    };

    Result run(const QDateTime& now);
    Result finish(Status status, QList<UsageSnapshot> snapshots = {});
    std::optional<ClaudeCredential> currentCredential();
    std::variant<ClaudeCredential, Status> refresh(const ClaudeCredential& credential, const QDateTime& now);
    bool writeBack(const ClaudeCredential& credential, QString* error);
    void keepUnsaved(Unsaved unsaved);
    void forgetUnsaved();
    void noteRateLimit(const QByteArray& retryAfter, const QDateTime& now);

    std::shared_ptr<ClaudeCredentialStore> m_store;
    const ClaudeEndpoints m_endpoints;
    HttpClient& m_http;
    const QString m_backupPath;
    const QString m_unsavedPath;
    std::atomic<bool> m_busy{false};

    mutable std::mutex m_mutex;
    std::optional<Status> m_lastStatus;
    std::optional<ExtraUsage> m_lastExtra;
    std::optional<QDateTime> m_lastRefreshFailure;
    std::optional<QDateTime> m_rateLimitedUntil;
    int m_rateLimitStreak = 0;
    std::optional<Unsaved> m_unsaved;
    bool m_unsavedLoaded = false;
    QString m_lastRefusal;
    int m_refreshing = 0;
    bool m_refreshesEnded = false;
    std::condition_variable m_refreshDone;
    // Room for the unsaved copy, taken before a refresh is sent.
    AtomicFile::Reservation m_unsavedRoom;

    // Last, so it finishes a running fetch before the rest goes.
    SerialQueue m_queue{QStringLiteral("tallyvane.claude.oauth")};
};

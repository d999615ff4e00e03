#pragma once

#include "core/runtime/Clock.h"
#include "core/runtime/SerialQueue.h"
#include "history/HistoryCache.h"
#include "history/ModelLookup.h"
#include "history/TranscriptWatch.h"
#include "history/UsageQueries.h"
#include "history/UsageTotals.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

// Token volumes and estimated spend from the assistants' own transcripts. A scan reads only what changed
// since the cache was written: grown files cost the bytes they gained, and between full listings only the
// files the transcript watch reported are stat-ed. Scans, the
// cache and the transcript-reading queries belong to the serial queue "tallyvane.usagehistory"; the
// published totals may be read from any thread.
class UsageHistory
{
public:
    // The transcript folders of an account other than the default one, all of whose files count to it.
    struct AccountRoots
    {
        Provider provider = Provider::claude;
        QString account;
        QStringList roots;
        bool operator==(const AccountRoots&) const = default;
    };

    struct Options
    {
        QString cachePath;       // default: usage-history-cache.json in the data folder
        QStringList claudeRoots; // the default account's; default: TranscriptFiles::claudeRoots()
        QStringList codexRoots;  // the default account's; default: TranscriptFiles::codexRoots()
        // The other accounts' (the caller knows them); Claude's estimates and model read none of these.
        std::vector<AccountRoots> accountRoots;
        const Clock* clock = nullptr;
        int lookbackDays = 16; // files last modified earlier are not kept
        int threads = 2;       // for a scan with much to read
        qint64 rollTtlSeconds = 120;
        qint64 rollRetainSeconds = 86400;
        qint64 modelTtlSeconds = 60;
        // A full listing at least this often even while the watch reports changes: what it might miss
        // (a write through a hard link elsewhere, say) is found within this time.
        qint64 relistSeconds = 600;
        // A refresh saves a changed cache at most this often; what is held back goes out with a later
        // refresh or when the history goes. Rolling counts never save.
        qint64 saveSeconds = 300;
        TranscriptWatch::Limits watch;
        // Never writes the cache file (a report that must leave the disk as it found it).
        bool readOnly = false;
        // Rolling counts are made while the caller waits instead of in the background (one-shot reports).
        bool countInline = false;
        // Runs a callback on the main thread; default: queued to the application object.
        std::function<void(std::function<void()>)> postToMain;
    };
    static Options defaults();

    struct ScanStats
    {
        int listed = 0;  // transcript files within the lookback
        int statted = 0; // files stat-ed: all of them for a full listing, else those the watch reported
        bool fullListing = false;
        int read = 0;          // of which were read (new or changed)
        qint64 bytesRead = 0;  // bytes handed to the line reader
        qint64 scanMicros = 0; // listing, reading and publishing
        // The cache file is written after the scan's answer has gone out: these are filled in then, so
        // lastScan() shows them and a refresh's own stats do not.
        bool saved = false;
        qint64 saveMicros = 0;
    };

    // Loads the cache; totals reflect it at once. No scan yet.
    explicit UsageHistory(Options options = defaults());
    ~UsageHistory();
    UsageHistory(const UsageHistory&) = delete;
    UsageHistory& operator=(const UsageHistory&) = delete;

    // Scan and publish on the history queue, then `completion` on the main thread; the changed cache is
    // saved after that, on the queue, at most every saveSeconds (a history being destroyed still writes it).
    void refresh(std::function<void()> completion = {});
    // The same while the caller waits (for the scan, not for the save).
    ScanStats refreshSync();

    std::shared_ptr<const UsageTotals> totals() const;
    // Usage made elsewhere (other machines' mirrored rows), summed into every answer from now on; this
    // machine's own scan and cache stay as they are.
    void setElsewhere(const UsageTotals& elsewhere);

    qint64 tokens(Provider provider, const QDateTime& since) const;
    double costUSD(Provider provider, const QDateTime& since) const;
    std::vector<UsageQueries::DayTokens> recentSeries(Provider provider, int days,
                                                      const QDateTime& now) const;
    double averageDailyTokens(Provider provider, int lastDays, const QDateTime& now) const;
    std::vector<qint64> weeklyTotals(Provider provider, int weeks, const QDateTime& now) const;
    std::optional<UsageQueries::HourSpan> peakWindow(int blockHours) const;
    double effectiveDays(const QDateTime& from, const QDateTime& to, Provider provider) const;

    // Claude tokens in lines stamped at or after `since` (duplicates counted once), from a count at most
    // rollTtl old. A new moment answers at once, with the older count, the count of a moment up to
    // standInMinutes earlier, or 0, and counts in the background; onCacheUpdated announces the result. Not to
    // be called from the history queue.
    qint64 rollingClaudeTokens(const QDateTime& since);
    // The same, but nothing while no stand-in count exists yet (instead of a provisional 0).
    // `account`: another Claude account's key, counting only its own transcripts; empty: the default one's.
    std::optional<qint64> countedClaudeTokens(const QDateTime& since, const QString& account = {});
    static constexpr qint64 standInMinutes = 5;
    // The model of the newest Claude reply, cached for modelTtl. Not to be called from the history queue.
    std::optional<ModelSighting> latestClaudeModel();
    void setOnCacheUpdated(std::function<void()> callback);
    // What the latest scan (a refresh's or a rolling count's) did.
    ScanStats lastScan();

    // Totals for a report from local day `sinceDay` on: the scanned history plus, when that day lies before
    // the lookback, the older files read for this answer only (the cache neither keeps nor loses anything).
    UsageTotals reportSince(qint64 sinceDay);

private:
    ScanStats scan(bool saveChanges = true);
    void publish();
    bool save();
    void scheduleSave();
    // A count's key: the account, and the minute counted from.
    using RollKey = std::pair<QString, qint64>;
    void performRollingScan(qint64 sinceMs, const RollKey& key);
    void scanFiles(std::vector<std::pair<TranscriptFiles::File, FileEntry*>>& jobs, const QTimeZone& zone,
                   ScanStats& stats);
    std::vector<TranscriptFiles::File> listAll() const;
    // The totals of `cache`, each file counted to the account whose roots hold it.
    UsageTotals totalsOf(const HistoryCache& cache) const;
    // Whether a file belongs to an account other than the default one.
    const AccountRoots* accountOf(const QByteArray& path) const;
    bool applyListing(std::vector<TranscriptFiles::File> files, double cutoff,
                      std::vector<std::pair<TranscriptFiles::File, FileEntry*>>& jobs, ScanStats& stats);
    bool applyChanges(TranscriptWatch::Changes changes, double cutoff,
                      std::vector<std::pair<TranscriptFiles::File, FileEntry*>>& jobs, ScanStats& stats);

    Options m_options;
    const Clock& m_clock;
    // "<root>/" of every other account's root, with the index of its account in the options.
    std::vector<std::pair<QByteArray, std::size_t>> m_accountPrefixes;

    mutable std::mutex m_publishedMutex;
    std::shared_ptr<const UsageTotals> m_published;
    // What this machine's scan made, before m_elsewhere was added.
    std::shared_ptr<const UsageTotals> m_local;
    UsageTotals m_elsewhere;

    // Touched on the queue only.
    HistoryCache m_cache;
    struct RollCount
    {
        QDateTime at;
        qint64 value = 0;
    };
    std::map<RollKey, RollCount> m_rollCache;
    std::set<RollKey> m_rollScanning;
    std::optional<std::pair<QDateTime, std::optional<ModelSighting>>> m_modelCache;
    std::function<void()> m_onCacheUpdated;
    ScanStats m_lastScan;
    bool m_unsaved = false;
    bool m_saveQueued = false;
    std::optional<qint64> m_savedAtMs; // when the last save was queued, by m_clock
    quint64 m_scanGeneration = 0;
    TranscriptWatch m_watch;
    std::optional<qint64> m_listedAtMs; // when the last full listing was made, by m_clock
    double m_scanCutoff = 0;            // where the last scan's lookback began (seconds since 1970)
    // What the last scan's full listing found before the lookback: a report reaching further back reads
    // these without listing every file again.
    std::vector<TranscriptFiles::File> m_olderListed;

    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
    // Last, so it is destroyed first: work still queued runs while everything above is intact.
    SerialQueue m_queue{QStringLiteral("tallyvane.usagehistory")};
};

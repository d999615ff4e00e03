#include "history/UsageHistory.h"

#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "history/SaturatingMath.h"
#include "history/TranscriptScanner.h"
#include "history/TranscriptTime.h"
#include "history/ZoneCalendar.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <thread>

namespace {

constexpr qint64 parallelThreshold = 8ll << 20; // bytes to read before a second thread pays off

void addFile(UsageTotals::Series& series, const FileEntry& entry)
{
    for (const auto& [day, day_totals] : entry.days) {
        series.dayTokens[day] = SaturatingMath::add(series.dayTokens[day], day_totals.tokens);
        series.dayCostNanos[day] = SaturatingMath::add(series.dayCostNanos[day], day_totals.costNanos);
        auto& hours = series.dayHourTokens[day];
        for (std::size_t h = 0; h < 24; ++h) {
            hours[h] = SaturatingMath::add(hours[h], day_totals.hours[h]);
            series.hourTokens[h] = SaturatingMath::add(series.hourTokens[h], day_totals.hours[h]);
        }
    }
}

void addSeries(UsageTotals::Series& into, const UsageTotals::Series& from)
{
    for (const auto& [d, value] : from.dayTokens)
        into.dayTokens[d] = SaturatingMath::add(into.dayTokens[d], value);
    for (const auto& [d, value] : from.dayCostNanos)
        into.dayCostNanos[d] = SaturatingMath::add(into.dayCostNanos[d], value);
    for (const auto& [d, hours] : from.dayHourTokens)
        for (std::size_t h = 0; h < 24; ++h) {
            into.dayHourTokens[d][h] = SaturatingMath::add(into.dayHourTokens[d][h], hours[h]);
            into.hourTokens[h] = SaturatingMath::add(into.hourTokens[h], hours[h]);
        }
}

} // namespace

UsageHistory::Options UsageHistory::defaults()
{
    Options options;
    options.cachePath = LocalFileStore::path(QStringLiteral("usage-history-cache.json"));
    options.claudeRoots = TranscriptFiles::claudeRoots();
    options.codexRoots = TranscriptFiles::codexRoots();
    return options;
}

namespace {

// The roots of one provider's every account, the default one's first: the watch follows them all.
QStringList everyRoot(const UsageHistory::Options& options, Provider provider)
{
    QStringList roots = provider == Provider::claude ? options.claudeRoots : options.codexRoots;
    for (const UsageHistory::AccountRoots& account : options.accountRoots)
        if (account.provider == provider)
            roots += account.roots;
    return roots;
}

} // namespace

UsageHistory::UsageHistory(Options options)
    : m_options(std::move(options)), m_clock(m_options.clock ? *m_options.clock : Clock::system()),
      m_watch(everyRoot(m_options, Provider::codex), everyRoot(m_options, Provider::claude), m_options.watch)
{
    if (!m_options.postToMain) {
        m_options.postToMain = [](std::function<void()> callback) {
            if (QCoreApplication* app = QCoreApplication::instance())
                QMetaObject::invokeMethod(app, std::move(callback), Qt::QueuedConnection);
        };
    }
    for (std::size_t i = 0; i < m_options.accountRoots.size(); ++i)
        for (const QString& root : m_options.accountRoots[i].roots)
            m_accountPrefixes.emplace_back(QFile::encodeName(QDir::cleanPath(root)) + '/', i);
    m_cache = HistoryCache::load(m_options.cachePath);
    // Days counted in another zone are other days: such a cache is read anew by the first scan.
    if (m_cache.zone != ZoneCalendar::currentZone().id())
        m_cache = HistoryCache{};
    publish();
}

UsageHistory::~UsageHistory()
{
    m_alive->store(false);
    // What the save interval held back goes out now.
    m_queue.async([this] {
        if (m_unsaved && !m_options.readOnly)
            save();
    });
}

std::vector<TranscriptFiles::File> UsageHistory::listAll() const
{
    auto files = TranscriptFiles::list(everyRoot(m_options, Provider::codex), Provider::codex);
    auto claude = TranscriptFiles::list(everyRoot(m_options, Provider::claude), Provider::claude);
    files.insert(files.end(), std::make_move_iterator(claude.begin()), std::make_move_iterator(claude.end()));
    return files;
}

const UsageHistory::AccountRoots* UsageHistory::accountOf(const QByteArray& path) const
{
    for (const auto& [prefix, index] : m_accountPrefixes)
        if (path.startsWith(prefix))
            return &m_options.accountRoots[index];
    return nullptr;
}

UsageTotals UsageHistory::totalsOf(const HistoryCache& cache) const
{
    UsageTotals totals;
    totals.zone = cache.zone;
    for (const auto& [path, entry] : cache.files) {
        const AccountRoots* account = accountOf(path);
        addFile(account ? totals.accounts[{account->provider, account->account}] : totals.of(entry.provider),
                entry);
    }
    return totals;
}

void UsageHistory::refresh(std::function<void()> completion)
{
    m_queue.async([this, alive = m_alive, completion = std::move(completion)] {
        if (!alive->load())
            return;
        scan();
        if (completion)
            m_options.postToMain(completion);
    });
}

UsageHistory::ScanStats UsageHistory::refreshSync()
{
    return m_queue.syncResult([this] { return scan(); });
}

UsageHistory::ScanStats UsageHistory::scan(bool saveChanges)
{
    QElapsedTimer timer;
    timer.start();
    ScanStats stats;
    saveChanges = saveChanges && !m_options.readOnly;
    const QTimeZone zone = ZoneCalendar::currentZone();
    bool changed = false;
    if (m_cache.zone != zone.id()) {
        m_cache.files.clear();
        m_cache.zone = zone.id();
        changed = true;
    }
    const qint64 nowMs = m_clock.now().toMSecsSinceEpoch();
    const double cutoff = static_cast<double>(nowMs) / 1000.0 - m_options.lookbackDays * 86400.0;
    m_scanCutoff = cutoff;

    std::vector<std::pair<TranscriptFiles::File, FileEntry*>> jobs;
    std::optional<TranscriptWatch::Changes> reported;
    if (!changed && m_listedAtMs && nowMs >= *m_listedAtMs &&
        nowMs - *m_listedAtMs < m_options.relistSeconds * 1000)
        reported = m_watch.changes();
    if (reported) {
        m_olderListed.clear();
        changed = applyChanges(std::move(*reported), cutoff, jobs, stats) || changed;
    } else {
        m_listedAtMs = nowMs;
        stats.fullListing = true;
        changed = applyListing(m_watch.listAll(), cutoff, jobs, stats) || changed;
    }
    scanFiles(jobs, zone, stats);
    changed = changed || !jobs.empty();

    const bool failed = std::ranges::any_of(
        jobs, [](const auto& job) { return job.second->size == 0 && job.second->mtime == 0; });
    if (failed || (stats.fullListing && m_cache.files.size() != static_cast<std::size_t>(stats.listed))) {
        // Unlisted by a full listing (gone, unreadable, out of the lookback) or failed to open in this scan.
        changed =
            std::erase_if(m_cache.files,
                          [&](const auto& item) {
                              return (stats.fullListing && item.second.listedInScan != m_scanGeneration) ||
                                     (item.second.size == 0 && item.second.mtime == 0);
                          }) > 0 ||
            changed;
    }
    stats.listed = static_cast<int>(m_cache.files.size());
    if (changed)
        publish();
    stats.scanMicros = timer.nsecsElapsed() / 1000;
    m_unsaved = m_unsaved || changed;
    m_lastScan = stats;
    if (saveChanges)
        scheduleSave();
    return stats;
}

bool UsageHistory::applyListing(std::vector<TranscriptFiles::File> files, double cutoff,
                                std::vector<std::pair<TranscriptFiles::File, FileEntry*>>& jobs,
                                ScanStats& stats)
{
    // Entries this listing names carry its number, so that neither a path listed twice nor the search for
    // entries no longer listed needs a set of paths.
    const quint64 generation = ++m_scanGeneration;
    stats.statted = static_cast<int>(files.size());
    m_olderListed.clear();
    for (TranscriptFiles::File& file : files) {
        if (file.mtime < cutoff) {
            m_olderListed.push_back(std::move(file));
            continue;
        }
        FileEntry& entry = m_cache.files[file.path];
        if (entry.listedInScan == generation)
            continue;
        entry.listedInScan = generation;
        ++stats.listed;
        if (entry.size == file.size && entry.mtime == file.mtime && (entry.size != 0 || entry.mtime != 0))
            continue;
        if (entry.provider != file.provider) {
            entry = FileEntry{};
            entry.provider = file.provider;
            entry.listedInScan = generation; // else a new Codex file is dropped below as unlisted
        }
        jobs.emplace_back(std::move(file), &entry);
    }
    return false;
}

bool UsageHistory::applyChanges(TranscriptWatch::Changes changes, double cutoff,
                                std::vector<std::pair<TranscriptFiles::File, FileEntry*>>& jobs,
                                ScanStats& stats)
{
    stats.statted = changes.stats;
    // What a listing would no longer name: files the lookback has passed, and those gone.
    bool changed =
        std::erase_if(m_cache.files, [&](const auto& item) { return item.second.mtime < cutoff; }) > 0;
    for (const QByteArray& path : changes.gone)
        changed = m_cache.files.erase(path) > 0 || changed;
    for (TranscriptFiles::File& file : changes.present) {
        if (file.mtime < cutoff) {
            changed = m_cache.files.erase(file.path) > 0 || changed;
            continue;
        }
        FileEntry& entry = m_cache.files[file.path];
        if (entry.size == file.size && entry.mtime == file.mtime && (entry.size != 0 || entry.mtime != 0))
            continue;
        if (entry.provider != file.provider) {
            entry = FileEntry{};
            entry.provider = file.provider;
        }
        jobs.emplace_back(std::move(file), &entry);
    }
    return changed;
}

void UsageHistory::scheduleSave()
{
    if (m_options.readOnly || !m_unsaved || m_saveQueued)
        return;
    // The whole cache is rewritten each time (megabytes on a large history): a busy Claude Code changes it
    // every minute, and what a crash loses is cheap to read again.
    const qint64 nowMs = m_clock.now().toMSecsSinceEpoch();
    if (m_savedAtMs && nowMs >= *m_savedAtMs && nowMs - *m_savedAtMs < m_options.saveSeconds * 1000)
        return;
    // Counted from the scan that asks, so refreshes exactly five minutes apart each save.
    m_savedAtMs = nowMs;
    m_saveQueued = true;
    // Behind the work already queued, so that the scan's answer goes out first and scans queued meanwhile
    // share one write. Not skipped when the history is going away: the queue drains with the cache intact.
    m_queue.async([this] {
        m_saveQueued = false;
        if (!m_unsaved)
            return;
        QElapsedTimer timer;
        timer.start();
        m_lastScan.saved = save();
        m_unsaved = !m_lastScan.saved;
        m_lastScan.saveMicros = timer.nsecsElapsed() / 1000;
    });
}

UsageHistory::ScanStats UsageHistory::lastScan()
{
    return m_queue.syncResult([this] { return m_lastScan; });
}

void UsageHistory::scanFiles(std::vector<std::pair<TranscriptFiles::File, FileEntry*>>& jobs,
                             const QTimeZone& zone, ScanStats& stats)
{
    qint64 toRead = 0;
    for (const auto& [file, entry] : jobs)
        toRead += std::max<qint64>(0, file.size - (entry->resume ? entry->resume->offset : 0));
    // Largest first, so the two threads finish together.
    std::sort(jobs.begin(), jobs.end(),
              [](const auto& a, const auto& b) { return a.first.size > b.first.size; });

    std::atomic<std::size_t> next{0};
    std::atomic<qint64> bytes{0};
    const auto work = [&] {
        TranscriptScanner scanner(zone);
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            const auto& [file, entry] = jobs[i];
            const qint64 read = scanner.scanFile(QFile::decodeName(file.path), file.size, *entry);
            if (read >= 0) {
                entry->size = file.size;
                entry->mtime = file.mtime;
                bytes += read;
            } else {
                *entry = FileEntry{}; // dropped below
            }
        }
    };
    const int threads = toRead >= parallelThreshold ? std::max(1, m_options.threads) : 1;
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    stats.read = static_cast<int>(jobs.size());
    stats.bytesRead = bytes;
}

void UsageHistory::publish()
{
    auto totals = std::make_shared<const UsageTotals>(totalsOf(m_cache));
    std::lock_guard lock(m_publishedMutex);
    m_local = std::move(totals);
    m_published = m_local;
    if (m_elsewhere != UsageTotals{}) {
        auto sum = std::make_shared<UsageTotals>(*m_local);
        sum->add(m_elsewhere);
        m_published = std::move(sum);
    }
}

void UsageHistory::setElsewhere(const UsageTotals& elsewhere)
{
    std::lock_guard lock(m_publishedMutex);
    if (elsewhere == m_elsewhere)
        return;
    m_elsewhere = elsewhere;
    if (!m_local)
        return;
    if (m_elsewhere == UsageTotals{}) {
        m_published = m_local;
        return;
    }
    auto sum = std::make_shared<UsageTotals>(*m_local);
    sum->add(m_elsewhere);
    m_published = std::move(sum);
}

bool UsageHistory::save()
{
    LocalFileStore::makeFolder(QFileInfo(m_options.cachePath).absolutePath());
    // Replaced whole: a second process saving at the same moment leaves one complete cache or the other.
    // Not waited onto the disk: a crash that tears it fails its checksum and costs one rescan.
    // Private whatever an older version left: it names the projects worked in.
    AtomicFile::Options options{.mode = LocalFileStore::privateFileMode, .durable = false};
    return AtomicFile::write(
        m_options.cachePath,
        [this](int fd) {
            return m_cache.encode([fd](QByteArrayView piece) { return FileIo::writeFully(fd, piece); });
        },
        nullptr, options);
}

std::shared_ptr<const UsageTotals> UsageHistory::totals() const
{
    std::lock_guard lock(m_publishedMutex);
    return m_published;
}

qint64 UsageHistory::tokens(Provider provider, const QDateTime& since) const
{
    return UsageQueries::tokens(*totals(), provider, since);
}

double UsageHistory::costUSD(Provider provider, const QDateTime& since) const
{
    return UsageQueries::costUSD(*totals(), provider, since);
}

std::vector<UsageQueries::DayTokens> UsageHistory::recentSeries(Provider provider, int days,
                                                                const QDateTime& now) const
{
    return UsageQueries::recentSeries(*totals(), provider, days, now);
}

double UsageHistory::averageDailyTokens(Provider provider, int lastDays, const QDateTime& now) const
{
    return UsageQueries::averageDailyTokens(*totals(), provider, lastDays, now);
}

std::vector<qint64> UsageHistory::weeklyTotals(Provider provider, int weeks, const QDateTime& now) const
{
    return UsageQueries::weeklyTotals(*totals(), provider, weeks, now);
}

std::optional<UsageQueries::HourSpan> UsageHistory::peakWindow(int blockHours) const
{
    return UsageQueries::peakWindow(*totals(), blockHours);
}

double UsageHistory::effectiveDays(const QDateTime& from, const QDateTime& to, Provider provider) const
{
    return UsageQueries::effectiveDays(*totals(), from, to, provider);
}

void UsageHistory::setOnCacheUpdated(std::function<void()> callback)
{
    m_queue.sync([&] { m_onCacheUpdated = std::move(callback); });
}

qint64 UsageHistory::rollingClaudeTokens(const QDateTime& since)
{
    return countedClaudeTokens(since).value_or(0);
}

std::optional<qint64> UsageHistory::countedClaudeTokens(const QDateTime& since, const QString& account)
{
    const qint64 sinceMs = since.toMSecsSinceEpoch();
    const RollKey key{account, sinceMs / 60000};
    return m_queue.syncResult([&]() -> std::optional<qint64> {
        const QDateTime now = m_clock.now();
        const auto cached = m_rollCache.find(key);
        if (cached != m_rollCache.end() && cached->second.at.msecsTo(now) < m_options.rollTtlSeconds * 1000)
            return cached->second.value;
        if (m_options.countInline) {
            performRollingScan(sinceMs, key);
            return m_rollCache[key].value;
        }
        if (m_rollScanning.insert(key).second) {
            m_queue.async([this, alive = m_alive, sinceMs, key] {
                if (alive->load())
                    performRollingScan(sinceMs, key);
            });
        }
        if (cached != m_rollCache.end())
            return cached->second.value;
        // A window rolling back from now asks for a new minute every minute: the count of a moment a few
        // minutes before stands in (a little more, never a drop to nothing) while this one is made.
        for (qint64 earlier = key.second - 1; earlier >= key.second - standInMinutes; --earlier) {
            if (const auto near = m_rollCache.find({account, earlier}); near != m_rollCache.end())
                return near->second.value;
        }
        return std::nullopt;
    });
}

void UsageHistory::performRollingScan(qint64 sinceMs, const RollKey& key)
{
    // The same incremental scan as a refresh: a grown transcript costs the bytes it gained, and only the
    // files the watch reported are stat-ed. The cache file is written after the count has gone out.
    scan(false);
    const double oldest = static_cast<double>(sinceMs) / 1000.0 - 3600.0;
    qint64 total = 0;
    for (const auto& [path, entry] : m_cache.files) {
        const AccountRoots* owner = accountOf(path);
        if (entry.provider == Provider::claude && entry.mtime >= oldest && entry.resume &&
            (owner ? owner->account : QString()) == key.first)
            total = SaturatingMath::add(total, ClaudeLineLog::tokensSince(*entry.resume, sinceMs));
    }
    // Files from before the scan's lookback are not in the cache; a count reaching back that far reads them.
    const double cutoff = m_scanCutoff;
    if (oldest < cutoff) {
        TranscriptScanner scanner(ZoneCalendar::currentZone());
        QStringList roots = key.first.isEmpty() ? m_options.claudeRoots : QStringList();
        for (const AccountRoots& account : m_options.accountRoots)
            if (account.provider == Provider::claude && account.account == key.first)
                roots += account.roots;
        for (const auto& file : TranscriptFiles::list(roots, Provider::claude)) {
            if (file.mtime >= cutoff || file.mtime < oldest)
                continue;
            FileEntry entry;
            if (scanner.scanFile(QFile::decodeName(file.path), file.size, entry) >= 0)
                total = SaturatingMath::add(total, ClaudeLineLog::tokensSince(*entry.resume, sinceMs));
        }
    }
    const QDateTime now = m_clock.now();
    m_rollCache[key] = {now, total};
    std::erase_if(m_rollCache, [&](const auto& item) {
        return item.second.at.msecsTo(now) >= m_options.rollRetainSeconds * 1000;
    });
    m_rollScanning.erase(key);
    if (m_onCacheUpdated && !m_options.countInline)
        m_options.postToMain(m_onCacheUpdated);
}

std::optional<ModelSighting> UsageHistory::latestClaudeModel()
{
    return m_queue.syncResult([&]() -> std::optional<ModelSighting> {
        const QDateTime now = m_clock.now();
        if (m_modelCache && m_modelCache->first.msecsTo(now) < m_options.modelTtlSeconds * 1000)
            return m_modelCache->second;
        auto answer = ModelLookup::latest(TranscriptFiles::list(m_options.claudeRoots, Provider::claude));
        m_modelCache.emplace(now, answer);
        return answer;
    });
}

UsageTotals UsageHistory::reportSince(qint64 sinceDay)
{
    return m_queue.syncResult([&] {
        scan();
        UsageTotals totals = totalsOf(m_cache);
        const QTimeZone zone(m_cache.zone);
        int year = 0, month = 0, day = 0;
        TranscriptTime::civilFromDays(sinceDay, year, month, day);
        // A file last written before the day began holds nothing from it; a day's margin covers clock skew.
        const double oldest =
            static_cast<double>(QDateTime(QDate(year, month, day), QTime(0, 0), zone).toMSecsSinceEpoch()) /
                1000.0 -
            86400.0;
        // The cache holds the files from the scan's lookback on, and its listing, where it made one, names
        // those before: the older ones are exactly the rest, none counted twice.
        const double cutoff = m_scanCutoff;
        const bool listed = m_lastScan.fullListing;
        if (oldest >= cutoff)
            return totals;
        HistoryCache older;
        older.zone = m_cache.zone;
        TranscriptScanner scanner(zone);
        for (const auto& file : listed ? m_olderListed : listAll()) {
            if (file.mtime >= cutoff || file.mtime < oldest || older.files.contains(file.path))
                continue;
            FileEntry entry;
            entry.provider = file.provider;
            if (scanner.scanFile(QFile::decodeName(file.path), file.size, entry) >= 0)
                older.files.emplace(file.path, std::move(entry));
        }
        const UsageTotals extra = totalsOf(older);
        for (const Provider provider : {Provider::codex, Provider::claude})
            addSeries(totals.of(provider), extra.of(provider));
        for (const auto& [account, series] : extra.accounts)
            addSeries(totals.accounts[account], series);
        return totals;
    });
}

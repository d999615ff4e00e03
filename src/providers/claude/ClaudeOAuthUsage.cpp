#include "providers/claude/ClaudeOAuthUsage.h"

#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "providers/HttpClient.h"
#include "providers/claude/ClaudeCredentialFile.h"
#include "providers/claude/ClaudeTokenAnswer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QStringList>
#include <QTimeZone>

#include <charconv>
#include <cmath>

namespace {

// Two fetches of any instance never refresh at once: the second would spend a refresh token the first has
// already used.
std::mutex& refreshMutex()
{
    static std::mutex mutex;
    return mutex;
}

// The answer's member names are logged once per process, after the first fetch, if it found windows.
std::atomic<bool> anyFetchFinished{false};

void onMainThread(std::function<void()> task)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    else
        task();
}

// Retry-After: whole seconds, or an HTTP date.
qint64 retryAfterSeconds(const QByteArray& value, const QDateTime& now)
{
    const QByteArray text = value.trimmed();
    qint64 seconds = 0;
    const auto [end, error] = std::from_chars(text.constData(), text.constData() + text.size(), seconds);
    if (error == std::errc() && end == text.constData() + text.size())
        return std::max<qint64>(seconds, 0);
    // An HTTP date ends in "GMT", which Qt's RFC 2822 reader does not take for a zone.
    QString spelled = QString::fromLatin1(text);
    if (spelled.endsWith(QLatin1String(" GMT")))
        spelled = spelled.chopped(4) + QLatin1String(" +0000");
    const QDateTime date = QDateTime::fromString(spelled, Qt::RFC2822Date);
    return date.isValid() ? std::max<qint64>(now.secsTo(date), 0) : 0;
}

QByteArray serialised(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

constexpr QLatin1StringView unsavedCredentialKey("credential");
constexpr QLatin1StringView unsavedConsumedKey("consumedRefreshToken");

// The process's instance once made; a process that never fetched has nothing to wait for at the end.
std::atomic<ClaudeOAuthUsage*> sharedInstance{nullptr};

// The other accounts' instances by credential file, made on first use and, like the shared one, never
// destroyed.
QMutex accountsLock;
QHash<QString, ClaudeOAuthUsage*> accountInstances;

// How long a quit waits beyond the token time-out for the write-back.
constexpr std::chrono::milliseconds writeBackGrace{3000};

// Room taken beyond the stored credential's size for the new one, whose tokens may be longer.
constexpr qint64 reservedSlackBytes = 16 * 1024;

} // namespace

ClaudeOAuthUsage::ClaudeOAuthUsage(std::shared_ptr<ClaudeCredentialStore> store, ClaudeEndpoints endpoints,
                                   HttpClient& http, QString backupPath)
    : m_store(std::move(store)), m_endpoints(std::move(endpoints)), m_http(http),
      m_backupPath(std::move(backupPath)),
      m_unsavedPath(QFileInfo(m_backupPath).dir().filePath(QStringLiteral("claude-credentials-unsaved.json")))
{}

ClaudeOAuthUsage::~ClaudeOAuthUsage() = default;

ClaudeOAuthUsage& ClaudeOAuthUsage::shared()
{
    // Never destroyed: a fetch may still be running while the process ends.
    static ClaudeOAuthUsage* usage = new ClaudeOAuthUsage(
        std::make_shared<ClaudeCredentialFile>(), ClaudeEndpoints::fromEnvironment(), HttpClient::shared(),
        LocalFileStore::path(QStringLiteral("claude-credentials-backup.json")));
    sharedInstance = usage;
    return *usage;
}

ClaudeOAuthUsage& ClaudeOAuthUsage::forAccount(const QString& credentialsPath, const QString& key)
{
    const QMutexLocker locker(&accountsLock);
    ClaudeOAuthUsage*& usage = accountInstances[credentialsPath];
    if (!usage)
        usage = new ClaudeOAuthUsage(
            std::make_shared<ClaudeCredentialFile>(credentialsPath), ClaudeEndpoints::fromEnvironment(),
            HttpClient::shared(),
            LocalFileStore::path(QStringLiteral("accounts/%1/claude-credentials-backup.json").arg(key)));
    return *usage;
}

void ClaudeOAuthUsage::finishSharedRefresh()
{
    QList<ClaudeOAuthUsage*> all;
    if (ClaudeOAuthUsage* usage = sharedInstance.load())
        all.append(usage);
    {
        const QMutexLocker locker(&accountsLock);
        all += accountInstances.values();
    }
    // One bound for all: they refresh on queues of their own, side by side.
    const auto start = std::chrono::steady_clock::now();
    for (ClaudeOAuthUsage* usage : std::as_const(all)) {
        const auto left =
            usage->m_endpoints.tokenTimeout + writeBackGrace -
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        usage->endRefreshes(std::max(std::chrono::milliseconds(0), left));
    }
}

void ClaudeOAuthUsage::fetch(const QDateTime& now, Completion completion)
{
    if (m_busy.exchange(true)) {
        onMainThread([completion = std::move(completion)] {
            if (completion)
                completion({});
        });
        return;
    }
    m_queue.async([this, now, completion = std::move(completion)] {
        Result result = run(now);
        m_busy = false;
        onMainThread([completion, snapshots = std::move(result.snapshots)] {
            if (completion)
                completion(snapshots);
        });
    });
}

std::optional<ClaudeOAuthUsage::Result> ClaudeOAuthUsage::fetchNow(const QDateTime& now)
{
    if (m_busy.exchange(true))
        return std::nullopt;
    Result result = run(now);
    m_busy = false;
    return result;
}

std::optional<ClaudeCredential> ClaudeOAuthUsage::readCredential() const
{
    const std::optional<QByteArray> document = m_store->read();
    return document ? ClaudeCredential::parse(*document) : std::nullopt;
}

QString ClaudeOAuthUsage::credentialLocation() const
{
    return m_store->location();
}

std::optional<ClaudeOAuthUsage::Status> ClaudeOAuthUsage::lastStatus() const
{
    std::lock_guard lock(m_mutex);
    return m_lastStatus;
}

std::optional<ClaudeOAuthUsage::ExtraUsage> ClaudeOAuthUsage::lastExtra() const
{
    std::lock_guard lock(m_mutex);
    return m_lastExtra;
}

std::optional<QDateTime> ClaudeOAuthUsage::lastRefreshFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_lastRefreshFailure;
}

std::optional<QDateTime> ClaudeOAuthUsage::rateLimitedUntil() const
{
    std::lock_guard lock(m_mutex);
    return m_rateLimitedUntil;
}

bool ClaudeOAuthUsage::holdsUnsavedCredential() const
{
    std::lock_guard lock(m_mutex);
    return m_unsaved.has_value();
}

ClaudeOAuthUsage::Result ClaudeOAuthUsage::run(const QDateTime& now)
{
    {
        std::lock_guard lock(m_mutex);
        // Inside a 429 back-off nothing is sent and the last status (the 429) stands.
        if (m_rateLimitedUntil && now < *m_rateLimitedUntil)
            return {m_lastStatus.value_or(Status::httpError(429)), {}};
    }

    ClaudeCredential credential;
    {
        // Expiry is judged on what the store holds now, after any other refresh has finished.
        std::lock_guard refreshing(refreshMutex());
        std::optional<ClaudeCredential> current = currentCredential();
        if (!current)
            return finish(Status::noCredential());
        if (current->expiresAt <= now.addSecs(expiryMarginSeconds)) {
            auto refreshed = refresh(*current, now);
            if (const Status* failed = std::get_if<Status>(&refreshed))
                return finish(*failed);
            current = std::get<ClaudeCredential>(std::move(refreshed));
        }
        credential = std::move(*current);
    }

    HttpRequest request;
    request.url = m_endpoints.usageUrl;
    request.timeout = m_endpoints.usageTimeout;
    request.headers = {{"Authorization", "Bearer " + credential.accessToken.toUtf8()},
                       {"anthropic-beta", "oauth-2025-04-20"},
                       {"Content-Type", "application/json"},
                       {"User-Agent", m_endpoints.userAgent}};
    const HttpResponse response = m_http.send(request);
    if (response.status == 0)
        return finish(
            Status::networkError(response.error.isEmpty() ? QStringLiteral("no response") : response.error));
    if (response.status == 429)
        noteRateLimit(response.header("Retry-After").value_or(QByteArray()), now);
    if (response.status != 200)
        return finish(Status::httpError(response.status));
    {
        std::lock_guard lock(m_mutex);
        m_rateLimitStreak = 0;
        m_rateLimitedUntil.reset();
    }

    const QJsonDocument json = QJsonDocument::fromJson(response.body);
    if (!json.isObject())
        return finish(Status::parseError());
    const QJsonObject answer = json.object();
    QList<UsageSnapshot> snapshots = ClaudeUsageAnswer::snapshots(answer, now);
    if (const auto extra = ClaudeUsageAnswer::extraUsage(answer)) {
        std::lock_guard lock(m_mutex);
        m_lastExtra = extra;
    }
    if (!anyFetchFinished && !snapshots.isEmpty()) {
        QStringList keys = answer.keys();
        keys.sort();
        AppLogger::shared().info(QStringLiteral("Claude OAuth usage keys: ") + keys.join(QLatin1Char(',')));
    }
    if (snapshots.isEmpty())
        return finish(Status::parseError());
    const auto windows = static_cast<int>(snapshots.size());
    return finish(Status::ok(windows), std::move(snapshots));
}

ClaudeOAuthUsage::Result ClaudeOAuthUsage::finish(Status status, QList<UsageSnapshot> snapshots)
{
    anyFetchFinished = true;
    std::lock_guard lock(m_mutex);
    m_lastStatus = status;
    return {std::move(status), std::move(snapshots)};
}

std::optional<ClaudeCredential> ClaudeOAuthUsage::currentCredential()
{
    std::optional<Unsaved> unsaved;
    {
        std::lock_guard lock(m_mutex);
        if (!m_unsavedLoaded) {
            m_unsavedLoaded = true;
            const QJsonObject kept =
                QJsonDocument::fromJson(FileIo::readOwnFile(m_unsavedPath, 1 << 20).value_or(QByteArray()))
                    .object();
            const auto credential = ClaudeCredential::fromObject(kept.value(unsavedCredentialKey).toObject());
            const QJsonValue consumed = kept.value(unsavedConsumedKey);
            if (credential && consumed.isString())
                m_unsaved = Unsaved{*credential, consumed.toString()};
        }
        unsaved = m_unsaved;
    }
    if (!unsaved)
        return readCredential();

    // A credential file missing or unreadable for a moment (Claude Code rewriting it) changes nothing.
    const std::optional<ClaudeCredential> stored = readCredential();
    if (!stored)
        return unsaved->credential;
    if (stored->accessToken == unsaved->credential.accessToken &&
        stored->refreshToken == unsaved->credential.refreshToken) {
        forgetUnsaved();
        return stored;
    }
    if (stored->refreshToken != unsaved->consumedRefreshToken &&
        stored->refreshToken != unsaved->credential.refreshToken) {
        // Claude Code has signed out or stored a credential of its own since: what it holds now is current.
        AppLogger::shared().info(QStringLiteral("Claude OAuth: the stored credential changed; dropping the "
                                                "refreshed one that could not be written"));
        forgetUnsaved();
        return stored;
    }
    QString error;
    if (writeBack(unsaved->credential, &error)) {
        AppLogger::shared().info(QStringLiteral("Claude OAuth: refreshed credential written back"));
        forgetUnsaved();
    }
    return unsaved->credential;
}

void ClaudeOAuthUsage::keepUnsaved(Unsaved unsaved)
{
    const QByteArray bytes = serialised(
        {{unsavedCredentialKey, unsaved.credential.raw}, {unsavedConsumedKey, unsaved.consumedRefreshToken}});
    LocalFileStore::makeFolder(QFileInfo(m_unsavedPath).absolutePath());
    QString error;
    AtomicFile::Options options;
    options.mode = 0600;
    options.reservation = &m_unsavedRoom;
    if (!AtomicFile::write(m_unsavedPath, bytes, &error, options))
        AppLogger::shared().warn(QStringLiteral("Claude OAuth: the unsaved credential could not be kept on "
                                                "disk either: ") +
                                 error);
    std::lock_guard lock(m_mutex);
    m_unsaved = std::move(unsaved);
}

void ClaudeOAuthUsage::forgetUnsaved()
{
    std::lock_guard lock(m_mutex);
    m_unsaved.reset();
    QFile::remove(m_unsavedPath);
}

std::variant<ClaudeCredential, ClaudeOAuthUsage::Status>
ClaudeOAuthUsage::refresh(const ClaudeCredential& credential, const QDateTime& now)
{
    if (credential.refreshToken.isEmpty())
        return Status::tokenExpired();
    {
        std::lock_guard lock(m_mutex);
        if (m_lastRefreshFailure && m_lastRefreshFailure->secsTo(now) < refreshBackoffSeconds)
            return Status::tokenExpired();
    }
    // Admitted before its room is taken: an exit that begins meanwhile waits for this refresh.
    const InFlight inFlight(*this);
    if (!inFlight.admitted())
        return Status::tokenExpired();
    // Room for both places the new token can go, taken before the old one is spent.
    const qint64 room = m_store->read().value_or(serialised(credential.raw)).size() + reservedSlackBytes;
    LocalFileStore::makeFolder(QFileInfo(m_unsavedPath).absolutePath());
    QString why;
    AtomicFile::Options unsavedOptions;
    unsavedOptions.mode = 0600;
    if (!m_store->reserve(room, &why) || !m_unsavedRoom.take(m_unsavedPath, 2 * room, &why, unsavedOptions)) {
        m_store->release();
        std::lock_guard lock(m_mutex);
        if (why != m_lastRefusal)
            AppLogger::shared().warn(QStringLiteral("Claude OAuth refresh held back: the new token could not "
                                                    "be kept (") +
                                     why + QLatin1Char(')'));
        m_lastRefusal = why;
        return Status::tokenExpired();
    }
    {
        std::lock_guard lock(m_mutex);
        m_lastRefusal.clear();
    }
    const auto failed = [&](const QString& reason) {
        m_store->release();
        m_unsavedRoom.release();
        std::lock_guard lock(m_mutex);
        m_lastRefreshFailure = now;
        return Status::refreshFailed(reason);
    };

    const QByteArray body =
        serialised({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
                    {QStringLiteral("refresh_token"), credential.refreshToken},
                    {QStringLiteral("client_id"), QString::fromLatin1(m_endpoints.clientId)}});
    std::optional<HttpResponse> answered;
    QString reason = QStringLiteral("no response");
    for (const QUrl& url : m_endpoints.tokenUrls) {
        HttpRequest request;
        request.method = "POST";
        request.url = url;
        request.body = body;
        request.timeout = m_endpoints.tokenTimeout;
        request.headers = {{"Content-Type", "application/json"}, {"User-Agent", m_endpoints.userAgent}};
        HttpResponse response = m_http.send(request);
        if (response.status == 0) {
            reason = response.error.isEmpty() ? QStringLiteral("no response") : response.error;
            // Only a refused connection proves the token never left; after anything else the first
            // endpoint may have spent it, and a second use of a spent token can revoke the sign-in.
            if (!response.refused)
                break;
            continue;
        }
        // A missing path, a wrong method or a redirect: no endpoint took the token. Any other answer, empty
        // or not, may come after it was spent.
        if (response.status == 404 || response.status == 405 || (response.status / 100 == 3)) {
            reason = QStringLiteral("HTTP %1").arg(response.status);
            continue;
        }
        answered = std::move(response);
        break;
    }
    if (!answered)
        return failed(reason);
    if (answered->status != 200) {
        AppLogger::shared().error(
            QStringLiteral("Claude OAuth refresh failed: HTTP %1").arg(answered->status));
        return failed(QStringLiteral("HTTP %1").arg(answered->status));
    }
    const std::optional<ClaudeTokenAnswer> token = ClaudeTokenAnswer::parse(answered->body);
    const bool rotated = token && !token->refreshToken.isEmpty();
    // An answer already expired, or inside the margin, would be refreshed again at once on every fetch.
    const bool usable = token && !token->accessToken.isEmpty() && token->expiresInSeconds &&
                        *token->expiresInSeconds > double(expiryMarginSeconds);
    // Unrotated, the old refresh token is still good and nothing is lost by dropping the answer.
    if (!usable && !rotated)
        return failed(QStringLiteral("unexpected token response"));

    // A rotated token is kept whatever the rest says; an unknown expiry counts as already due.
    ClaudeCredential fresh;
    fresh.refreshToken = rotated ? token->refreshToken : credential.refreshToken;
    qint64 expiresAtMs = credential.expiresAt.toMSecsSinceEpoch();
    fresh.accessToken = credential.accessToken;
    if (!token->accessToken.isEmpty()) {
        fresh.accessToken = token->accessToken;
        const double seconds = std::max(token->expiresInSeconds.value_or(0.0), 0.0);
        expiresAtMs = now.toMSecsSinceEpoch() + std::llround(seconds * 1000.0);
    }
    fresh.expiresAt = QDateTime::fromMSecsSinceEpoch(expiresAtMs, QTimeZone::utc());
    const auto patched = ClaudeCredential::patched(serialised(credential.raw), fresh.accessToken,
                                                   fresh.refreshToken, expiresAtMs);
    fresh.raw = QJsonDocument::fromJson(patched.value_or(QByteArray())).object();

    // The credential as it was, before anything replaces it.
    const QByteArray before = m_store->read().value_or(serialised(credential.raw));
    LocalFileStore::makeFolder(QFileInfo(m_backupPath).absolutePath());
    QString backupError;
    if (!AtomicFile::write(m_backupPath, before, &backupError, {0600}))
        AppLogger::shared().warn(QStringLiteral("Claude credential backup failed: ") + backupError);

    QString writeError;
    if (!writeBack(fresh, &writeError)) {
        AppLogger::shared().error(QStringLiteral("Claude OAuth refresh: credential write-back FAILED after "
                                                 "retries (") +
                                  writeError +
                                  QStringLiteral("); using the new token and writing it again on the "
                                                 "next fetch"));
        // The store still holds the token the first unsaved refresh consumed, not the one just spent.
        QString consumed = credential.refreshToken;
        {
            std::lock_guard lock(m_mutex);
            if (m_unsaved)
                consumed = m_unsaved->consumedRefreshToken;
        }
        keepUnsaved(Unsaved{fresh, consumed});
    } else {
        forgetUnsaved();
    }
    m_store->release();
    m_unsavedRoom.release();
    AppLogger::shared().info(QStringLiteral("Claude OAuth token refreshed (rotated: %1)")
                                 .arg(rotated ? QStringLiteral("true") : QStringLiteral("false")));
    if (!usable) {
        AppLogger::shared().warn(QStringLiteral("Claude OAuth refresh: unexpected token response (no usable "
                                                "access token or expiry); the rotated refresh token was "
                                                "kept"));
        return failed(QStringLiteral("unexpected token response"));
    }
    std::lock_guard lock(m_mutex);
    m_lastRefreshFailure.reset();
    return fresh;
}

void ClaudeOAuthUsage::endRefreshes(std::chrono::milliseconds bound)
{
    std::unique_lock lock(m_mutex);
    m_refreshesEnded = true;
    m_refreshDone.wait_for(lock, bound, [this] { return m_refreshing == 0; });
}

std::optional<QString> ClaudeOAuthUsage::refreshHeldBack() const
{
    std::lock_guard lock(m_mutex);
    return m_lastRefusal.isEmpty() ? std::nullopt : std::optional(m_lastRefusal);
}

ClaudeOAuthUsage::InFlight::InFlight(ClaudeOAuthUsage& usage) : m_usage(usage)
{
    std::lock_guard lock(m_usage.m_mutex);
    m_admitted = !m_usage.m_refreshesEnded;
    if (m_admitted)
        ++m_usage.m_refreshing;
}

ClaudeOAuthUsage::InFlight::~InFlight()
{
    if (!m_admitted)
        return;
    std::lock_guard lock(m_usage.m_mutex);
    --m_usage.m_refreshing;
    m_usage.m_refreshDone.notify_all();
}

bool ClaudeOAuthUsage::writeBack(const ClaudeCredential& credential, QString* error)
{
    const qint64 expiresAtMs = credential.expiresAt.toMSecsSinceEpoch();
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Whatever the store holds now is the base, so members written since our read survive.
        const std::optional<QByteArray> stored = m_store->read();
        std::optional<QByteArray> document;
        if (stored)
            document = ClaudeCredential::patched(*stored, credential.accessToken, credential.refreshToken,
                                                 expiresAtMs);
        if (!document)
            document = ClaudeCredential::patched(serialised(credential.raw), credential.accessToken,
                                                 credential.refreshToken, expiresAtMs);
        if (!document || !m_store->write(*document, error))
            continue;
        const std::optional<ClaudeCredential> check = readCredential();
        if (check && check->accessToken == credential.accessToken &&
            check->refreshToken == credential.refreshToken)
            return true;
        if (error)
            *error = QStringLiteral("the written credential did not read back");
    }
    return false;
}

void ClaudeOAuthUsage::noteRateLimit(const QByteArray& retryAfter, const QDateTime& now)
{
    const qint64 asked = std::min(retryAfterSeconds(retryAfter, now), maxBackoffSeconds);
    const qint64 base = asked > 0 ? asked : rateLimitBackoffSeconds;
    const qint64 cap = std::max(base, rateLimitBackoffCapSeconds);
    std::lock_guard lock(m_mutex);
    ++m_rateLimitStreak;
    qint64 delay = base;
    for (int i = 1; i < m_rateLimitStreak && delay < cap; ++i)
        delay *= 2;
    delay = std::min(delay, cap);
    m_rateLimitedUntil = now.addSecs(delay);
    AppLogger::shared().warn(
        QStringLiteral("Claude OAuth usage answered HTTP 429; next try in %1 s").arg(delay));
}

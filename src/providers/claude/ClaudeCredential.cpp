#include "providers/claude/ClaudeCredential.h"
#include "core/text/Zone.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

namespace {

const QLatin1StringView oauthKey("claudeAiOauth");

} // namespace

std::optional<ClaudeCredential> ClaudeCredential::parse(QByteArrayView document)
{
    const QJsonDocument json = QJsonDocument::fromJson(document.toByteArray());
    if (!json.isObject())
        return std::nullopt;
    return fromObject(json.object());
}

std::optional<ClaudeCredential> ClaudeCredential::fromObject(const QJsonObject& document)
{
    const QJsonValue oauthValue = document.value(oauthKey);
    if (!oauthValue.isObject())
        return std::nullopt;
    const QJsonObject oauth = oauthValue.toObject();
    const QJsonValue access = oauth.value(QLatin1StringView("accessToken"));
    const QJsonValue expires = oauth.value(QLatin1StringView("expiresAt"));
    if (!access.isString() || !expires.isDouble())
        return std::nullopt;
    const double ms = expires.toDouble();
    // Years 1 to 9999 either side of 1970, as far as a date can be written back.
    if (!std::isfinite(ms) || std::fabs(ms) > 2.5e14)
        return std::nullopt;
    ClaudeCredential credential;
    credential.accessToken = access.toString();
    credential.refreshToken = oauth.value(QLatin1StringView("refreshToken")).toString();
    credential.expiresAt = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(ms)), Zone::utc());
    credential.raw = document;
    return credential;
}

std::optional<QByteArray> ClaudeCredential::patched(QByteArrayView document, const QString& accessToken,
                                                    const QString& refreshToken, qint64 expiresAtMs)
{
    const QJsonDocument json = QJsonDocument::fromJson(document.toByteArray());
    if (!json.isObject())
        return std::nullopt;
    QJsonObject top = json.object();
    QJsonObject oauth = top.value(oauthKey).toObject();
    oauth.insert(QLatin1StringView("accessToken"), accessToken);
    oauth.insert(QLatin1StringView("refreshToken"), refreshToken);
    oauth.insert(QLatin1StringView("expiresAt"), expiresAtMs);
    top.insert(oauthKey, oauth);
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

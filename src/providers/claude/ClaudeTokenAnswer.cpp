#include "providers/claude/ClaudeTokenAnswer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

std::optional<ClaudeTokenAnswer> ClaudeTokenAnswer::parse(QByteArrayView body)
{
    const QJsonDocument json = QJsonDocument::fromJson(body.toByteArray());
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.object();
    const QJsonValue access = object.value(QLatin1StringView("access_token"));
    const QJsonValue expiresIn = object.value(QLatin1StringView("expires_in"));
    if (!access.isString() || access.toString().isEmpty() || !expiresIn.isDouble())
        return std::nullopt;
    const double seconds = expiresIn.toDouble();
    // Up to a century ahead; anything beyond is not an expiry.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 3.2e9)
        return std::nullopt;
    ClaudeTokenAnswer answer;
    answer.accessToken = access.toString();
    answer.expiresInSeconds = seconds;
    answer.refreshToken = object.value(QLatin1StringView("refresh_token")).toString();
    return answer;
}

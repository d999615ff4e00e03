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
    ClaudeTokenAnswer answer;
    answer.accessToken = object.value(QLatin1StringView("access_token")).toString();
    answer.refreshToken = object.value(QLatin1StringView("refresh_token")).toString();
    const QJsonValue expiresIn = object.value(QLatin1StringView("expires_in"));
    const double seconds = expiresIn.toDouble();
    // Up to a century ahead; anything beyond is not an expiry.
    if (expiresIn.isDouble() && std::isfinite(seconds) && std::fabs(seconds) <= 3.2e9)
        answer.expiresInSeconds = seconds;
    return answer;
}

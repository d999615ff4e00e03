#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// What the OAuth token endpoint answers to a refresh.
struct ClaudeTokenAnswer
{
    QString accessToken;
    double expiresInSeconds = 0;
    // Empty when the endpoint did not rotate the refresh token.
    QString refreshToken;

    // Needs a JSON object with a non-empty string "access_token" and a number "expires_in" that keeps the
    // expiry a calendar date.
    static std::optional<ClaudeTokenAnswer> parse(QByteArrayView body);
};

#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// What the OAuth token endpoint answers to a refresh. Every member may be missing: a rotated refresh token
// must be kept even from an answer that is otherwise unusable, since the old one is spent.
struct ClaudeTokenAnswer
{
    // Empty when the answer has none.
    QString accessToken;
    // Missing when absent, not a number, or too far off to be a calendar date ("expires_in" is optional).
    std::optional<double> expiresInSeconds;
    // Empty when the endpoint did not rotate the refresh token.
    QString refreshToken;

    // Nothing unless the body is a JSON object.
    static std::optional<ClaudeTokenAnswer> parse(QByteArrayView body);
};

#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// Claude Code's OAuth credential: the "claudeAiOauth" member of its credential document.
struct ClaudeCredential
{
    QString accessToken;
    // Empty when the document holds none.
    QString refreshToken;
    QDateTime expiresAt;
    // The whole top-level document, so a write-back keeps every member we do not know.
    QJsonObject raw;

    // Needs an object whose "claudeAiOauth" object has a string "accessToken" and a number "expiresAt"
    // (milliseconds since 1970) that is a calendar date.
    static std::optional<ClaudeCredential> parse(QByteArrayView document);
    static std::optional<ClaudeCredential> fromObject(const QJsonObject& document);

    // `document` (a credential document as stored) with only the three token members replaced; every other
    // member at either level stays. A document that is not a JSON object gives nothing.
    static std::optional<QByteArray> patched(QByteArrayView document, const QString& accessToken,
                                             const QString& refreshToken, qint64 expiresAtMs);
};

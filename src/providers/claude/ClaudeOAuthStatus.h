#pragma once

#include <QString>

// The outcome of one Claude OAuth usage fetch or token refresh, with its one-line label.
struct ClaudeOAuthStatus
{
    enum class Kind
    {
        ok,
        httpError,
        networkError,
        refreshFailed,
        tokenExpired,
        noCredential,
        parseError
    };

    Kind kind = Kind::parseError;
    // ok: the number of windows; httpError: the HTTP status.
    int number = 0;
    // networkError: the transport's description; refreshFailed: the reason.
    QString text;

    static ClaudeOAuthStatus ok(int windows) { return {Kind::ok, windows, {}}; }
    static ClaudeOAuthStatus httpError(int status) { return {Kind::httpError, status, {}}; }
    static ClaudeOAuthStatus networkError(QString description)
    {
        return {Kind::networkError, 0, description};
    }
    static ClaudeOAuthStatus refreshFailed(QString reason) { return {Kind::refreshFailed, 0, reason}; }
    static ClaudeOAuthStatus tokenExpired() { return {Kind::tokenExpired, 0, {}}; }
    static ClaudeOAuthStatus noCredential() { return {Kind::noCredential, 0, {}}; }
    static ClaudeOAuthStatus parseError() { return {Kind::parseError, 0, {}}; }

    // "ok (2 windows)", "HTTP 429", "network: …", "token refresh failed: …", …
    QString label() const;

    friend bool operator==(const ClaudeOAuthStatus&, const ClaudeOAuthStatus&) = default;
};

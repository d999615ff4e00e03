#pragma once

#include <QByteArray>
#include <QList>
#include <QProcessEnvironment>
#include <QUrl>

#include <chrono>

// Where and how Tallyvane talks to Claude's OAuth service.
struct ClaudeEndpoints
{
    QUrl usageUrl{QStringLiteral("https://api.anthropic.com/api/oauth/usage")};
    // Tried in this order.
    QList<QUrl> tokenUrls{QUrl(QStringLiteral("https://console.anthropic.com/v1/oauth/token")),
                          QUrl(QStringLiteral("https://platform.claude.com/v1/oauth/token"))};
    // The usage endpoint refuses (429) clients that do not look like Claude Code.
    QByteArray userAgent = "claude-code/2.1";
    // Claude Code's public OAuth client.
    QByteArray clientId = "9d1c250a-e61b-44d9-88ed-5944d1962f5e";
    std::chrono::milliseconds usageTimeout{10'000};
    std::chrono::milliseconds tokenTimeout{15'000};

    // The defaults with the overrides of TALLYVANE_CLAUDE_API_URL (scheme, host and port of the usage
    // endpoint), TALLYVANE_CLAUDE_TOKEN_URLS (space-separated, in order), TALLYVANE_CLAUDE_USER_AGENT and
    // TALLYVANE_CLAUDE_CLIENT_ID. An override that is not an http or https URL (a user agent with control
    // characters, a client id of other characters than letters, digits and dashes) is ignored.
    static ClaudeEndpoints fromEnvironment(const QProcessEnvironment& environment);
    static ClaudeEndpoints fromEnvironment()
    {
        return fromEnvironment(QProcessEnvironment::systemEnvironment());
    }
};

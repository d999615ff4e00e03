#include "providers/claude/ClaudeEndpoints.h"

#include "core/io/AppLogger.h"

#include <QHostAddress>

#include <algorithm>

namespace {

// An https URL, or an http one to this machine: plain http elsewhere would carry the tokens in clear.
std::optional<QUrl> webUrl(const QString& text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    if (url.scheme() == QLatin1String("https"))
        return url;
    const bool loopback = QHostAddress(url.host()).isLoopback() ||
                          url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
    if (url.scheme() == QLatin1String("http") && loopback)
        return url;
    return std::nullopt;
}

void ignored(const char* variable, const QString& value)
{
    AppLogger::shared().warn(
        QStringLiteral("Ignoring %1=%2: not an https URL (plain http only to a loopback address)")
            .arg(QLatin1StringView(variable), value.left(200)));
}

} // namespace

ClaudeEndpoints ClaudeEndpoints::fromEnvironment(const QProcessEnvironment& environment)
{
    ClaudeEndpoints endpoints;
    const QString api = environment.value(QStringLiteral("TALLYVANE_CLAUDE_API_URL")).trimmed();
    if (!api.isEmpty()) {
        if (const auto base = webUrl(api)) {
            endpoints.usageUrl.setScheme(base->scheme());
            endpoints.usageUrl.setHost(base->host());
            endpoints.usageUrl.setPort(base->port());
        } else {
            ignored("TALLYVANE_CLAUDE_API_URL", api);
        }
    }

    const QString tokens = environment.value(QStringLiteral("TALLYVANE_CLAUDE_TOKEN_URLS")).trimmed();
    if (!tokens.isEmpty()) {
        QList<QUrl> urls;
        for (const QString& part : tokens.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (const auto url = webUrl(part))
                urls.append(*url);
            else
                ignored("TALLYVANE_CLAUDE_TOKEN_URLS", part);
        }
        if (!urls.isEmpty())
            endpoints.tokenUrls = urls;
    }

    const QByteArray agent = environment.value(QStringLiteral("TALLYVANE_CLAUDE_USER_AGENT")).toUtf8();
    const bool printable = std::all_of(agent.cbegin(), agent.cend(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && c != 0x7f;
    });
    if (!agent.trimmed().isEmpty() && printable)
        endpoints.userAgent = agent.trimmed();

    // Client ids are UUIDs: letters, digits and dashes.
    const QByteArray client =
        environment.value(QStringLiteral("TALLYVANE_CLAUDE_CLIENT_ID")).toUtf8().trimmed();
    const bool plainId =
        client.size() <= 100 && std::all_of(client.cbegin(), client.cend(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
        });
    if (!client.isEmpty() && plainId)
        endpoints.clientId = client;
    else if (!client.isEmpty())
        AppLogger::shared().warn(
            QStringLiteral("Ignoring TALLYVANE_CLAUDE_CLIENT_ID: not an OAuth client id"));
    return endpoints;
}

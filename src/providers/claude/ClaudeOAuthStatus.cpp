#include "providers/claude/ClaudeOAuthStatus.h"

QString ClaudeOAuthStatus::label() const
{
    switch (kind) {
    case Kind::ok:
        return QStringLiteral("ok (%1 windows)").arg(number);
    case Kind::httpError:
        return QStringLiteral("HTTP %1").arg(number);
    case Kind::networkError:
        return QStringLiteral("network: ") + text;
    case Kind::refreshFailed:
        return QStringLiteral("token refresh failed: ") + text;
    case Kind::tokenExpired:
        return QStringLiteral("token expired \u2014 waiting for Claude to refresh it");
    case Kind::noCredential:
        return QStringLiteral("no Claude Code credential found");
    case Kind::parseError:
        return QStringLiteral("unrecognised response shape");
    }
    return {};
}

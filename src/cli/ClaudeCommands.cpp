#include "cli/ClaudeCommands.h"

#include "core/text/JsonLines.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TerminalText.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include <QFile>
#include <QStandardPaths>

#include <charconv>

namespace {

QString number(double value, std::optional<int> decimals = std::nullopt)
{
    char buffer[64];
    const auto [end, error] =
        decimals ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, *decimals)
                 : std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc() ? QString::fromLatin1(buffer, end - buffer) : NumberFormatting::dash;
}

QString extraUsageLine(const ClaudeExtraUsage& extra)
{
    QString line = QStringLiteral("extra usage: ") +
                   (extra.enabled ? QStringLiteral("on, ") : QStringLiteral("off, ")) +
                   number(extra.usedGBP, 2);
    if (extra.limitGBP)
        line += QStringLiteral(" of ") + number(*extra.limitGBP, 2);
    return line + QLatin1Char(' ') + TerminalText::clean(extra.currency) + QStringLiteral(" used this month");
}

int printOutcome(const ClaudeStatusLineBridgeInstaller::Outcome& outcome, QTextStream& out)
{
    out << outcome.message << '\n' << "state: " << rawValue(outcome.bridgeStatus.state) << '\n';
    out.flush();
    return outcome.failed ? 1 : 0;
}

} // namespace

namespace ClaudeCommands {

int oauthTest(ClaudeOAuthUsage& usage, const QDateTime& now, QTextStream& out)
{
    if (const std::optional<ClaudeCredential> credential = usage.readCredential())
        out << "credential: " << usage.credentialLocation() << " (expires "
            << JsonLines::formatDate(credential->expiresAt) << ")\n";
    else
        out << "credential: none\n";
    out.flush();

    const std::optional<ClaudeOAuthUsage::Result> result = usage.fetchNow(now);
    if (!result) {
        out << "status: another fetch is running\n";
        return 1;
    }
    out << "status: " << TerminalText::clean(result->status.label()) << '\n';
    if (const std::optional<QString> heldBack = usage.refreshHeldBack())
        out << "token refresh held back: " << TerminalText::clean(*heldBack) << '\n';
    for (const UsageSnapshot& s : result->snapshots) {
        out << rawValue(s.windowKind) << ' ' << number(s.usedPercent) << "% resets "
            << (s.resetAt ? JsonLines::formatDate(*s.resetAt) : NumberFormatting::dash) << '\n';
    }
    if (const std::optional<ClaudeExtraUsage> extra = usage.lastExtra())
        out << extraUsageLine(*extra) << '\n';
    out.flush();
    return result->status.kind == ClaudeOAuthStatus::Kind::ok ? 0 : 1;
}

int installBridge(QTextStream& out)
{
    return printOutcome(ClaudeStatusLineBridgeInstaller::install(), out);
}

int uninstallBridge(QTextStream& out)
{
    return printOutcome(ClaudeStatusLineBridgeInstaller::uninstall(), out);
}

int bundleTest(QTextStream& out)
{
    QFile script(ClaudeStatusLineBridgeInstaller::resourcePath);
    const QByteArray bytes = script.open(QIODevice::ReadOnly) ? script.readAll() : QByteArray();
    const bool present = bytes.contains(QByteArrayView(ClaudeStatusLineBridgeInstaller::marker.data(),
                                                       ClaudeStatusLineBridgeInstaller::marker.size()));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    out << "bridge script: "
        << (present ? QStringLiteral("present (%1 bytes)").arg(bytes.size()) : QStringLiteral("MISSING"))
        << '\n'
        << "python3: " << (python.isEmpty() ? QStringLiteral("not found (the bridge needs it)") : python)
        << '\n';
    out.flush();
    return present ? 0 : 1;
}

} // namespace ClaudeCommands

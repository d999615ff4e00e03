#include "cli/SelfTest.h"

#include "app/StateReports.h"
#include "cli/LogicTest.h"
#include "core/io/FileIo.h"
#include "core/io/LocalFileStore.h"
#include "core/io/SettingsStore.h"
#include "core/io/Shell.h"
#include "core/io/SnapshotStore.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TerminalText.h"
#include "core/text/TimeFormatting.h"
#include "history/ClaudeEffortCalibration.h"
#include "history/ClaudeEstimator.h"
#include "history/ClaudeFiles.h"
#include "history/UsageHistory.h"
#include "providers/claude/ClaudeCredential.h"
#include "providers/claude/ClaudeCredentialFile.h"
#include "providers/claude/ClaudeOAuthUsage.h"
#include "providers/claude/ClaudeStatusLineBridgeInstaller.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace SelfTest {

namespace {

using Verdict = Check::Verdict;

QString ago(const QDateTime& at, const QDateTime& now)
{
    return TimeFormatting::countdown(double(at.msecsTo(now)) / 1000) + QStringLiteral(" ago");
}

Check dataFolder()
{
    const QString folder = LocalFileStore::baseDirectory();
    const QFileInfo info(folder);
    if (!info.exists())
        return {Verdict::note, QStringLiteral("data folder"), folder + QStringLiteral(" (not created yet)")};
    if (!info.isDir() || ::access(QFile::encodeName(folder).constData(), W_OK) != 0)
        return {Verdict::fail, QStringLiteral("data folder"),
                folder + QStringLiteral(" is not a writable folder")};
    return {Verdict::ok, QStringLiteral("data folder"), folder};
}

Check settings()
{
    bool missing = false;
    const auto bytes = FileIo::readOwnFile(LocalFileStore::settingsPath(), 1 << 20, &missing);
    if (missing)
        return {Verdict::note, QStringLiteral("settings"), QStringLiteral("no settings.json yet (defaults)")};
    if (!bytes || !SettingsStore::decode(*bytes))
        return {Verdict::fail, QStringLiteral("settings"),
                QStringLiteral("settings.json cannot be read; the application starts from defaults")};
    return {Verdict::ok, QStringLiteral("settings"), QStringLiteral("settings.json reads")};
}

Check engines()
{
    const LogicTest::Outcome outcome = LogicTest::runChecks();
    if (outcome.failures > 0)
        return {Verdict::fail, QStringLiteral("engines"),
                QString::number(outcome.failures) + QStringLiteral(" of ") +
                    QString::number(outcome.lines.size()) + QStringLiteral(" checks fail (see --logictest)")};
    return {Verdict::ok, QStringLiteral("engines"),
            QString::number(outcome.lines.size()) + QStringLiteral(" checks pass")};
}

QList<Check> snapshotLog(const SnapshotLog& log, const QDateTime& now)
{
    QList<Check> checks;
    checks.append({Verdict::ok, QStringLiteral("snapshot log"),
                   QString::number(log.size()) + QStringLiteral(" snapshots")});
    std::optional<QDateTime> newestOAuth;
    for (const UsageSnapshot& s : log)
        if (s.provider == Provider::claude && s.source == QLatin1StringView("claude.oauth") &&
            (!newestOAuth || s.timestamp > *newestOAuth))
            newestOAuth = s.timestamp;
    const auto status = ClaudeOAuthUsage::shared().lastStatus();
    QString detail = QStringLiteral("last status ") +
                     (status ? status->label() : QStringLiteral("none (no fetch in this process)"));
    detail += newestOAuth ? QStringLiteral(", last reading ") + ago(*newestOAuth, now)
                          : QStringLiteral(", no reading stored");
    checks.append({newestOAuth ? Verdict::ok : Verdict::note, QStringLiteral("claude oauth"), detail});
    return checks;
}

Check codex()
{
    const QString path = Shell::which(QStringLiteral("codex"));
    if (path.isEmpty())
        return {Verdict::note, QStringLiteral("codex"), QStringLiteral("not found in PATH")};
    return {Verdict::ok, QStringLiteral("codex"), path};
}

Check credential(const QDateTime& now)
{
    const ClaudeCredentialFile file;
    bool missing = false;
    (void)FileIo::readRegularFile(file.location(), 1 << 20, &missing);
    if (missing)
        return {Verdict::note, QStringLiteral("claude credential"),
                QStringLiteral("none (Claude Code not signed in)")};
    const auto document = file.read();
    const auto parsed = document ? ClaudeCredential::parse(*document) : std::nullopt;
    if (!parsed)
        return {Verdict::fail, QStringLiteral("claude credential"), QStringLiteral("present but unreadable")};
    if (parsed->expiresAt <= now)
        return {Verdict::note, QStringLiteral("claude credential"),
                QStringLiteral("expired ") + ago(parsed->expiresAt, now) +
                    QStringLiteral(" (refreshed on the next fetch)")};
    return {Verdict::ok, QStringLiteral("claude credential"),
            QStringLiteral("valid for ") +
                TimeFormatting::countdown(double(now.msecsTo(parsed->expiresAt)) / 1000)};
}

Check bridge()
{
    const ClaudeBridgeStatus status = ClaudeStatusLineBridgeInstaller::currentStatus();
    QString detail = rawValue(status.state);
    if (status.state == ClaudeBridgeStatus::State::error)
        return {Verdict::fail, QStringLiteral("claude bridge"),
                detail + QStringLiteral(": ") + status.reason};
    const bool ours = status.state == ClaudeBridgeStatus::State::installed ||
                      status.state == ClaudeBridgeStatus::State::wrapping;
    return {ours ? Verdict::ok : Verdict::note, QStringLiteral("claude bridge"), detail};
}

QList<Check> history(const QDateTime& now)
{
    ManualClock clock(now);
    UsageHistory::Options options = UsageHistory::defaults();
    options.clock = &clock;
    options.readOnly = true;
    options.countInline = true;
    UsageHistory usage(options);
    const UsageHistory::ScanStats scan = usage.refreshSync();
    QStringList totals;
    for (Provider provider : allProviders)
        totals.append(displayName(provider) + QLatin1Char(' ') +
                      NumberFormatting::tokens(usage.tokens(provider, now.addDays(-7))) +
                      QStringLiteral(" tokens"));
    QList<Check> checks{{Verdict::ok, QStringLiteral("history"),
                         QString::number(scan.listed) + QStringLiteral(" transcripts; last 7 days: ") +
                             totals.join(QStringLiteral(", "))}};

    const ClaudeFiles files(LocalFileStore::baseDirectory(), true);
    const ClaudeEstimator::Anchor anchor = ClaudeEstimator::loadAnchor(files);
    QStringList anchored;
    if (anchor.fiveHour)
        anchored.append(QStringLiteral("fiveHour since ") + ago(anchor.fiveHour->capturedAt, now));
    if (anchor.sevenDay)
        anchored.append(QStringLiteral("sevenDay since ") + ago(anchor.sevenDay->capturedAt, now));
    const auto current =
        ClaudeEstimator::mergingCurrentModel(ClaudeEstimator::loadMeta(files), usage.latestClaudeModel());
    QString detail = anchored.isEmpty() ? QStringLiteral("no anchors yet")
                                        : QStringLiteral("anchors ") + anchored.join(QStringLiteral(", "));
    if (current && current->modelDisplayName)
        detail += QStringLiteral("; model ") + *current->modelDisplayName;
    if (current && current->effortLevel)
        detail += QStringLiteral(", effort ") + *current->effortLevel;
    if (const auto store = ClaudeEffortCalibration::load(files))
        detail += QStringLiteral("; effort rates for ") + QString::number(store->byEffort.size()) +
                  QStringLiteral(" levels");
    checks.append(
        {anchored.isEmpty() ? Verdict::note : Verdict::ok, QStringLiteral("claude estimator"), detail});
    return checks;
}

} // namespace

QList<Check> runChecks(const QDateTime& now)
{
    QList<Check> checks{dataFolder(), settings(), engines()};
    SnapshotStore store(LocalFileStore::snapshotsPath(), SnapshotStore::ReadOnly{});
    checks.append(snapshotLog(store.log(), now));
    checks.append(codex());
    checks.append(credential(now));
    checks.append(bridge());
    checks.append(history(now));
    return checks;
}

QString line(const Check& check)
{
    const QString verdict = check.verdict == Verdict::ok     ? QStringLiteral("ok  ")
                            : check.verdict == Verdict::note ? QStringLiteral("note")
                                                             : QStringLiteral("FAIL");
    return StateReports::scrubbed(
        verdict + QStringLiteral("  ") + check.name + QStringLiteral(": ") + check.detail, QDir::homePath());
}

int run(const QDateTime& now, QTextStream& out)
{
    int failures = 0;
    const QList<Check> checks = runChecks(now);
    for (const Check& check : checks) {
        out << TerminalText::clean(line(check)) << '\n';
        failures += check.verdict == Verdict::fail ? 1 : 0;
    }
    out << (failures == 0 ? QStringLiteral("self-test passed")
                          : QString::number(failures) + QStringLiteral(" checks failed"))
        << '\n';
    out.flush();
    return failures == 0 ? 0 : 1;
}

} // namespace SelfTest

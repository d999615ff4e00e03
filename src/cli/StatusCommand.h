#pragma once

#include "app/MachineMirrors.h"

#include "app/PublishedState.h"
#include "core/model/AppSettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

#include <optional>
#include <variant>

class ClaudeFiles;
class ManualClock;
class SeriesCache;
class SnapshotStore;
class UsageHistory;

// `tallyvane status`: one compute cycle over the stored log (or demo data), printed. It starts no provider
// and writes nothing: not the settings, not the log, not the data folder.
namespace StatusCommand {

enum class Format
{
    text,
    json,
    waybar
};

struct Options
{
    Format format = Format::text;
    bool watch = false;
    bool demo = false;
    std::optional<QDateTime> at;
    std::optional<MenuBarDisplayMode> mode;
    std::optional<ForecastBasis> basis;
};

// The options after "status"; or the one-line reason they are wrong.
[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);

// What one run reports: the state the application would publish from the stored log at that instant (the
// settings with the overrides applied in memory).
using Report = PublishedState;

// What one run reads, kept between the polls of --watch. Nothing here writes: the history cache, the
// anchor, effort and meta files are read, and whatever the cycle learns stays in memory.
struct Sources
{
    std::shared_ptr<SnapshotStore> store;
    std::shared_ptr<SeriesCache> cache;
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<UsageHistory> history;
    std::shared_ptr<ClaudeFiles> claudeFiles;
    std::shared_ptr<MachineMirrors> mirrors = std::make_shared<MachineMirrors>();
    std::optional<qint64> lastScanMs;
};

// The settings file as it is, without creating, moving or logging anything; defaults when unreadable.
[[nodiscard]] AppSettings readSettings();
[[nodiscard]] Report evaluate(const Options& options, const QDateTime& now);
// The same on sources kept between runs (the store opened on first use, once the log exists).
[[nodiscard]] Report evaluate(const Options& options, const QDateTime& now, Sources& sources);

[[nodiscard]] QString renderText(const Report& report);
[[nodiscard]] QByteArray renderJson(const Report& report, bool indented);
[[nodiscard]] QByteArray renderWaybar(const Report& report);
// One line per card row: provider and window, what is left or used, reset, status and confidence, outlook.
[[nodiscard]] QStringList forecastLines(const Report& report);
// The freshness, headroom and spend lines of the text report.
[[nodiscard]] QStringList reportLines(const Report& report);

// What `--watch` prints, poll by poll: the output when anything but the clock-driven figures
// (generatedAt, timeUntilReset) changed since the last printed one, or when the heartbeat has passed.
class Watch
{
public:
    explicit Watch(Format format, qint64 heartbeatMs = 30'000);
    [[nodiscard]] std::optional<QByteArray> poll(const Report& report, qint64 monotonicMs);

private:
    Format m_format;
    qint64 m_heartbeatMs;
    QByteArray m_lastKey;
    std::optional<qint64> m_lastPrintedMs;
};

// Runs the command; the process exit status.
int run(const Options& options);

} // namespace StatusCommand

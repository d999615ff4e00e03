#include "app/StatusSummary.h"

#include "app/AppState.h"
#include "app/MenuBarTitleBuilder.h"
#include "app/StateQueries.h"
#include "core/io/AppLogger.h"
#include "core/io/AtomicFile.h"
#include "core/io/LocalFileStore.h"
#include "core/text/JsonLines.h"
#include "core/text/NumberFormatting.h"
#include "core/text/TimeFormatting.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>

namespace StatusSummary {

namespace {

// Each shown window of `forecasts` keyed by its id: the figure, the status and a run-out before the reset.
template <typename Forecasts>
QJsonObject windowsOf(const Forecasts& forecasts, const AppSettings& settings, const QDateTime& now)
{
    QJsonObject windows;
    for (const ForecastResult& forecast : forecasts) {
        if (forecast.status == ForecastStatus::noData ||
            !settings.enabledProviders.contains(forecast.provider))
            continue;
        const double shown = MenuBarTitleBuilder::shownValue(forecast, settings.showRemaining);
        QJsonObject window{
            {QStringLiteral("usedPercent"), forecast.currentUsedPercent},
            {QStringLiteral("shown"),
             NumberFormatting::percent(shown) +
                 (settings.showRemaining ? QStringLiteral(" left") : QStringLiteral(" used"))},
            {QStringLiteral("status"), rawValue(forecast.status)},
        };
        if (forecast.limitBeforeReset && forecast.runOutAt && *forecast.runOutAt > now) {
            window.insert(QStringLiteral("runsOutAt"), JsonLines::formatDate(*forecast.runOutAt));
            window.insert(QStringLiteral("runsOut"), TimeFormatting::clock(forecast.runOutAt, now));
        }
        windows.insert(forecast.id(), window);
    }
    return windows;
}

} // namespace

QJsonObject content(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                    const QDateTime& now, const QList<AccountForecasts>& accounts)
{
    const ForecastStatus global = StateQueries::globalStatus(forecasts);
    QJsonObject summary{
        {QStringLiteral("showRemaining"), settings.showRemaining},
        {QStringLiteral("status"), rawValue(global)},
        {QStringLiteral("statusWord"), MenuBarTitleBuilder::statusWord(global)},
        {QStringLiteral("windows"), windowsOf(forecasts, settings, now)},
    };
    // Only the status line of a session in a watched folder can use an entry: Claude's, with its folder.
    QJsonArray others;
    for (const AccountForecasts& account : accounts) {
        if (account.isDefault || account.provider != Provider::claude || account.folder.isEmpty())
            continue;
        others.append(QJsonObject{
            {QStringLiteral("folder"), account.folder},
            {QStringLiteral("key"), account.key},
            {QStringLiteral("label"), account.labelFromEmail ? account.key : account.label},
            {QStringLiteral("windows"), windowsOf(account.forecasts, settings, now)},
        });
    }
    if (!others.isEmpty())
        summary.insert(QStringLiteral("accounts"), others);
    return summary;
}

} // namespace StatusSummary

StatusSummaryPublisher::StatusSummaryPublisher(QString path, QObject* parent)
    : QObject(parent),
      m_path(path.isEmpty() ? LocalFileStore::path(QLatin1StringView(StatusSummary::fileName))
                            : std::move(path))
{}

StatusSummaryPublisher::~StatusSummaryPublisher()
{
    // Only a summary this wrote: one that never published leaves another collector's file alone.
    if (!m_written.isEmpty())
        QFile::remove(m_path);
}

void StatusSummaryPublisher::follow(const AppState& state)
{
    connect(&state, &AppState::cycleFinished, this, [this, &state] {
        publish(state.forecasts(), state.settings(), state.now(), state.published().accounts);
    });
}

void StatusSummaryPublisher::publish(const QMap<QString, ForecastResult>& forecasts,
                                     const AppSettings& settings, const QDateTime& now,
                                     const QList<AccountForecasts>& accounts)
{
    const QByteArray path = QFile::encodeName(m_path);
    // Demo figures have no place in the real Claude Code's status line, and a demo beside a real collector
    // leaves that collector's summary alone: it takes back only what it wrote itself.
    if (settings.demoMode || !settings.statusLineForecast) {
        if (!m_written.isEmpty() || (!settings.demoMode && QFileInfo::exists(m_path)))
            QFile::remove(m_path);
        m_written = {};
        return;
    }
    const QJsonObject content = StatusSummary::content(forecasts, settings, now, accounts);
    // Unchanged and still there: a new modification time says the summary is current, without a write.
    if (content == m_written && ::utimensat(AT_FDCWD, path.constData(), nullptr, 0) == 0)
        return;
    QJsonObject document = content;
    document.insert(QStringLiteral("writtenAt"), JsonLines::formatDate(now));
    QString error;
    // A torn summary reads as none, and the next cycle writes it again: no need to wait for the disk.
    if (!AtomicFile::write(m_path, QJsonDocument(document).toJson(QJsonDocument::Compact), &error,
                           AtomicFile::Options{.mode = 0600, .durable = false})) {
        AppLogger::shared().warn(QStringLiteral("Status-line summary not written: ") + error);
        m_written = {};
        return;
    }
    m_written = content;
}

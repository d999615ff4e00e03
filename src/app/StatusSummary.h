#pragma once

#include "app/ForecastBundle.h"
#include "core/model/AppSettings.h"
#include "core/model/ForecastModels.h"

#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

class AppState;

// The few words of the published state that Claude Code's status line shows through the bridge: per window
// the figure the tray shows, its status and the run-out time when that comes before the reset. The bridge
// reads the file on every redraw, so it stays one small object.
namespace StatusSummary {

inline constexpr auto fileName = "statusline-summary.json";

// Everything the file says except when it was written: equal content means there is nothing to write.
// Windows are keyed by ForecastResult::id() ("claude-fiveHour"). Beside another watched Claude account,
// `accounts` lists each such one with its folder, key, label (the key instead of one made from an e-mail
// address) and windows, for a session run in that folder.
[[nodiscard]] QJsonObject content(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                                  const QDateTime& now, const QList<AccountForecasts>& accounts = {});

} // namespace StatusSummary

// Keeps the summary file in step with the state after every cycle: written whole when its content changed,
// otherwise only its modification time renewed, so the bridge can tell a summary that is still being kept
// from one a Tallyvane that quit left behind. Turned off in the settings, the file is removed, and so is
// the one this kept when it goes (a clean exit).
class StatusSummaryPublisher : public QObject
{
    Q_OBJECT

public:
    // `path` empty: the data folder's file.
    explicit StatusSummaryPublisher(QString path = {}, QObject* parent = nullptr);
    ~StatusSummaryPublisher() override;

    // Publishes after every cycle of `state`, which outlives this.
    void follow(const AppState& state);
    void publish(const QMap<QString, ForecastResult>& forecasts, const AppSettings& settings,
                 const QDateTime& now, const QList<AccountForecasts>& accounts = {});

private:
    QString m_path;
    QJsonObject m_written;
};

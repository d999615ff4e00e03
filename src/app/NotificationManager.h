#pragma once

#include "app/NotificationRules.h"
#include "core/runtime/Clock.h"
#include "core/runtime/NotificationSender.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QTimeZone>

#include <optional>

// Turns each compute cycle's results into desktop notifications: every alert has a key and a cooldown, so
// one condition does not repeat on every refresh. What fired when is kept in memory only; after a restart
// an alert may fire once more.
//
// Delivery: the first alert asks the sender whether a notification service answers (alerts wait for the
// answer). With none, the reason is logged once, alerts keep being decided but are not posted, and the
// service is asked again at most every `recheckSeconds`. Main thread only.
class NotificationManager : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 defaultRecheckSeconds = 600;

    // Without a zone, local times (run-out weekday, recap evening) follow the system's zone as it is then.
    NotificationManager(NotificationSender& sender, const Clock& clock = Clock::system(),
                        std::optional<QTimeZone> zone = std::nullopt, QObject* parent = nullptr);

    // The four evaluations of one cycle, in this order. `evaluate` reads the time from the clock.
    void evaluate(const QList<ForecastResult>& forecasts, const QList<std::pair<Provider, PaceResult>>& paces,
                  const AppSettings& settings, const QList<AccountForecasts>& accounts = {});
    void evaluateRunOut(const QMap<Provider, CalibratedProjection>& calibrated, const AppSettings& settings,
                        const QDateTime& now);
    void evaluateBudget(const std::optional<ClaudeExtraUsage>& extra, const AppSettings& settings,
                        const QDateTime& now);
    void weeklyRecap(const QString& text, const AppSettings& settings, const QDateTime& now);

    // Asks the service when its answer is unknown, or when it was missing and the re-check is due.
    void requestAuthorizationIfNeeded();
    // A notification service answered the last check.
    [[nodiscard]] bool authorized() const { return m_state == State::available; }

    [[nodiscard]] const QHash<QString, QDateTime>& lastFired() const { return m_lastFired; }

Q_SIGNALS:
    // The user clicked a notification; `identifier` is the one its request carried.
    void activated(const QString& identifier);
    // A check finished: the service's description, or none with the reason.
    void serviceChecked(const NotificationSender::CheckResult& result);

private:
    enum class State
    {
        unknown,
        checking,
        available,
        unavailable
    };

    void fire(const NotificationRules::Alert& alert, const QDateTime& now);
    void deliver(const NotificationRequest& request);
    void post(const NotificationRequest& request);
    void check();
    bool recheckDue() const;
    void markUnavailable(const QString& reason);
    QTimeZone zone() const { return m_zone ? *m_zone : QTimeZone::systemTimeZone(); }

    NotificationSender& m_sender;
    const Clock& m_clock;
    std::optional<QTimeZone> m_zone;
    QHash<QString, QDateTime> m_lastFired;
    State m_state = State::unknown;
    // Since the last "unavailable" log line; cleared when a service answers.
    bool m_reportedUnavailable = false;
    std::optional<QDateTime> m_lastCheck;
    qint64 m_recheckSeconds = defaultRecheckSeconds;
    // Alerts decided while a check runs; posted when a service answers, dropped when none does.
    QList<NotificationRequest> m_waiting;
};

#include "app/NotificationManager.h"

#include "core/io/AppLogger.h"

#include <QPointer>
#include <QUuid>

namespace {

// Alerts held while the service is being asked; more than this in one check means a loop gone wrong.
constexpr qsizetype maxWaiting = 16;

} // namespace

NotificationManager::NotificationManager(NotificationSender& sender, const Clock& clock,
                                         std::optional<QTimeZone> zone, QObject* parent)
    : QObject(parent), m_sender(sender), m_clock(clock), m_zone(std::move(zone))
{
    QPointer<NotificationManager> guard(this);
    m_sender.setActivationHandler([guard](const QString& identifier) {
        if (guard)
            Q_EMIT guard->activated(identifier);
    });
}

void NotificationManager::evaluate(const QList<ForecastResult>& forecasts,
                                   const QList<std::pair<Provider, PaceResult>>& paces,
                                   const AppSettings& settings, const QList<AccountForecasts>& accounts)
{
    const QDateTime now = m_clock.now();
    if (NotificationRules::silenced(settings, now))
        return;
    for (const NotificationRules::Alert& alert :
         NotificationRules::forecastAlerts(forecasts, paces, settings, accounts))
        fire(alert, now);
}

void NotificationManager::evaluateRunOut(const QMap<Provider, CalibratedProjection>& calibrated,
                                         const AppSettings& settings, const QDateTime& now)
{
    if (NotificationRules::silenced(settings, now))
        return;
    for (const NotificationRules::Alert& alert : NotificationRules::runOutAlerts(calibrated, now, zone()))
        fire(alert, now);
}

void NotificationManager::evaluateBudget(const std::optional<ClaudeExtraUsage>& extra,
                                         const AppSettings& settings, const QDateTime& now)
{
    if (NotificationRules::silenced(settings, now))
        return;
    if (const auto alert = NotificationRules::budgetAlert(extra, settings, now))
        fire(*alert, now);
}

void NotificationManager::weeklyRecap(const QString& text, const AppSettings& settings, const QDateTime& now)
{
    if (NotificationRules::silenced(settings, now))
        return;
    if (const auto alert = NotificationRules::recapAlert(text, now, zone()))
        fire(*alert, now);
}

void NotificationManager::fire(const NotificationRules::Alert& alert, const QDateTime& now)
{
    const auto last = m_lastFired.constFind(alert.key);
    if (last != m_lastFired.cend() && double(last.value().msecsTo(now)) / 1000 < alert.cooldownSeconds)
        return;
    m_lastFired.insert(alert.key, now);
    deliver({alert.key, alert.key + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces),
             alert.title, alert.body, alert.critical});
}

void NotificationManager::deliver(const NotificationRequest& request)
{
    switch (m_state) {
    case State::available:
        post(request);
        return;
    case State::unavailable:
        if (!recheckDue())
            return; // decided, not shown: nothing answers
        break;
    case State::unknown:
    case State::checking:
        break;
    }
    if (m_waiting.size() < maxWaiting)
        m_waiting.append(request);
    if (m_state != State::checking)
        check();
}

void NotificationManager::post(const NotificationRequest& request)
{
    QPointer<NotificationManager> guard(this);
    m_sender.post(request, [guard](const NotificationSender::PostResult& result) {
        if (guard && !result.serviceId)
            guard->markUnavailable(result.error);
    });
}

void NotificationManager::requestAuthorizationIfNeeded()
{
    if (m_state == State::unknown || (m_state == State::unavailable && recheckDue()))
        check();
}

bool NotificationManager::recheckDue() const
{
    return !m_lastCheck || m_lastCheck->secsTo(m_clock.now()) >= m_recheckSeconds;
}

void NotificationManager::check()
{
    m_state = State::checking;
    m_lastCheck = m_clock.now();
    QPointer<NotificationManager> guard(this);
    m_sender.checkService([guard](const NotificationSender::CheckResult& result) {
        if (!guard)
            return;
        if (!result.server) {
            guard->markUnavailable(result.error);
        } else {
            if (guard->m_state != State::available)
                AppLogger::shared().info(QStringLiteral("Notifications go to ") + result.server->name +
                                         QLatin1Char(' ') + result.server->version);
            guard->m_state = State::available;
            guard->m_reportedUnavailable = false;
            const QList<NotificationRequest> waiting = std::exchange(guard->m_waiting, {});
            for (const NotificationRequest& request : waiting)
                guard->post(request);
        }
        Q_EMIT guard->serviceChecked(result);
    });
}

void NotificationManager::markUnavailable(const QString& reason)
{
    m_state = State::unavailable;
    m_lastCheck = m_clock.now();
    m_waiting.clear();
    if (m_reportedUnavailable)
        return;
    m_reportedUnavailable = true;
    AppLogger::shared().warn(QStringLiteral("Notifications unavailable: ") + reason);
}

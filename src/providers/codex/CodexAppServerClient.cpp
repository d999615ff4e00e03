#include "providers/codex/CodexAppServerClient.h"

#include "core/text/JsonLines.h"

#include <QJsonDocument>

namespace {

const QString initializeMethod = QStringLiteral("initialize");
const QString initializedMethod = QStringLiteral("initialized");
const QString rateLimitsReadMethod = QStringLiteral("account/rateLimits/read");
const QString accountReadMethod = QStringLiteral("account/read");
const QString rateLimitsUpdatedMethod = QStringLiteral("account/rateLimits/updated");
const QString loginCompletedMethod = QStringLiteral("account/login/completed");

} // namespace

std::shared_ptr<CodexAppServerClient>
CodexAppServerClient::create(std::shared_ptr<CodexProcessManager> manager)
{
    std::shared_ptr<CodexAppServerClient> client(new CodexAppServerClient(std::move(manager)));
    std::weak_ptr<CodexAppServerClient> weak = client;
    client->m_manager->setOnLine([weak](const QString& line) {
        if (const auto strong = weak.lock())
            strong->handleLine(line);
    });
    return client;
}

CodexAppServerClient::CodexAppServerClient(std::shared_ptr<CodexProcessManager> manager)
    : m_manager(std::move(manager))
{}

bool CodexAppServerClient::start()
{
    // A child started again after an end shakes hands afresh.
    if (!m_manager->isRunning())
        m_initialized.store(false);
    if (!m_manager->start())
        return false;
    const qint64 id = takeId();
    m_initializeId.store(id);
    const QJsonObject clientInfo{{QStringLiteral("name"), QStringLiteral("Tallyvane")},
                                 {QStringLiteral("version"), QStringLiteral("0.1.0")}};
    send(QJsonObject{{QStringLiteral("id"), id},
                     {QStringLiteral("method"), initializeMethod},
                     {QStringLiteral("params"), QJsonObject{{QStringLiteral("clientInfo"), clientInfo}}}});
    return true;
}

void CodexAppServerClient::requestRateLimits()
{
    if (!m_initialized.load())
        return;
    qint64 id = 0;
    {
        // Taking and recording under one lock keeps rateLimitsId on the newest read when two threads ask.
        std::lock_guard lock(m_lock);
        id = m_nextId++;
        m_rateLimitsId.store(id);
    }
    send(QJsonObject{{QStringLiteral("id"), id},
                     {QStringLiteral("method"), rateLimitsReadMethod},
                     {QStringLiteral("params"), QJsonObject{}}});
}

qint64 CodexAppServerClient::sendRequest(const QString& method, const QJsonObject& params)
{
    const qint64 id = takeId();
    send(QJsonObject{
        {QStringLiteral("id"), id}, {QStringLiteral("method"), method}, {QStringLiteral("params"), params}});
    return id;
}

void CodexAppServerClient::sendNotification(const QString& method, const QJsonObject& params)
{
    send(QJsonObject{{QStringLiteral("method"), method}, {QStringLiteral("params"), params}});
}

void CodexAppServerClient::handleLine(const QString& line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8());
    if (!document.isObject())
        return;
    const QJsonObject message = document.object();

    if (const auto id = JsonLines::integer(message.value(QLatin1StringView("id")))) {
        // Our identifiers start at 1; 0 means "nothing asked yet" and never matches.
        if (*id == 0)
            return;
        if (*id == m_initializeId.load() && message.contains(QLatin1StringView("result"))) {
            m_initialized.store(true);
            sendNotification(initializedMethod);
            requestRateLimits();
            if (m_initialized.load())
                sendRequest(accountReadMethod);
            return;
        }
        if (*id != m_rateLimitsId.load())
            return;
        deliver(message.value(QLatin1StringView("result")));
        return;
    }

    const QJsonValue method = message.value(QLatin1StringView("method"));
    if (!method.isString())
        return;
    const QString name = method.toString();
    if (name == rateLimitsUpdatedMethod) {
        deliver(message.value(QLatin1StringView("params")));
    } else if (name == loginCompletedMethod) {
        if (onLoginCompleted)
            onLoginCompleted();
    }
}

qint64 CodexAppServerClient::takeId()
{
    std::lock_guard lock(m_lock);
    return m_nextId++;
}

void CodexAppServerClient::send(const QJsonObject& message)
{
    const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
    if (json.isEmpty())
        return;
    m_manager->send(QString::fromUtf8(json));
}

void CodexAppServerClient::deliver(const QJsonValue& value)
{
    if (value.isUndefined())
        return;
    const auto payload = CodexRateLimitsPayload::fromJson(value);
    if (payload && onRateLimits)
        onRateLimits(*payload);
}

#pragma once

#include "providers/codex/CodexProcessManager.h"
#include "providers/codex/CodexRateLimitsPayload.h"

#include <QJsonObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

// Speaks the line-delimited JSON-RPC of `codex app-server` over a CodexProcessManager: the handshake,
// rate-limit reads, and the pushed rate-limit and login notifications.
class CodexAppServerClient : public std::enable_shared_from_this<CodexAppServerClient>
{
public:
    using RateLimitsHandler = std::function<void(const CodexRateLimitsPayload&)>;
    using LoginCompletedHandler = std::function<void()>;

    // Installs the client as the manager's line handler; lines arriving after the client is gone are dropped.
    static std::shared_ptr<CodexAppServerClient> create(std::shared_ptr<CodexProcessManager> manager);

    // Set before start; called on the manager's reader thread.
    RateLimitsHandler onRateLimits;
    LoginCompletedHandler onLoginCompleted;

    // Starts the child and sends "initialize"; false (and nothing sent) when the child did not start.
    bool start();
    // Asks for the rate limits once the handshake is done; does nothing before.
    void requestRateLimits();
    // Sends a request with a fresh identifier and returns that identifier.
    qint64 sendRequest(const QString& method, const QJsonObject& params = {});
    void sendNotification(const QString& method, const QJsonObject& params = {});

    bool isInitialized() const { return m_initialized.load(); }
    qint64 rateLimitsId() const { return m_rateLimitsId.load(); }

    // Handles one line the child printed (the manager's line handler).
    void handleLine(const QString& line);

    const std::shared_ptr<CodexProcessManager>& manager() const { return m_manager; }

private:
    explicit CodexAppServerClient(std::shared_ptr<CodexProcessManager> manager);

    qint64 takeId();
    void send(const QJsonObject& message);
    void deliver(const QJsonValue& value);

    std::shared_ptr<CodexProcessManager> m_manager;
    std::mutex m_lock; // guards m_nextId, and orders recording rateLimitsId with taking it
    qint64 m_nextId = 1;
    // Written and read on both the reader thread and the caller's thread.
    std::atomic<qint64> m_initializeId{0};
    std::atomic<qint64> m_rateLimitsId{0};
    std::atomic<bool> m_initialized{false};
};

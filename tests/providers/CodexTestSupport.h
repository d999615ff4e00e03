#pragma once

#include "providers/codex/CodexAppServerClient.h"
#include "providers/codex/CodexProcessManager.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <optional>

namespace CodexTestSupport {

// Launch options that find only the scripted fake, playing `scenario` and logging what it receives.
struct FakeCodex
{
    QTemporaryDir dir;
    QString wirePath = dir.filePath(QStringLiteral("wire.log"));

    CodexLaunchOptions options(const QString& scenario) const
    {
        CodexLaunchOptions launch;
        launch.searchFolders = {QStringLiteral(TALLYVANE_FAKE_CODEX_DIR)};
        launch.fallbackWhich.clear();
        launch.arguments = {QStringLiteral("app-server"), scenario, wirePath};
        return launch;
    }

    // Every line the fake has received so far.
    QStringList wireLines() const
    {
        return QString::fromUtf8(TestSupport::readFile(wirePath))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    QList<QJsonObject> wireMessages() const
    {
        QList<QJsonObject> messages;
        for (const QString& line : wireLines())
            messages.append(QJsonDocument::fromJson(line.toUtf8()).object());
        return messages;
    }

    QStringList wireMethods() const
    {
        QStringList methods;
        for (const QJsonObject& message : wireMessages())
            methods.append(message.value(QLatin1StringView("method")).toString());
        return methods;
    }
};

// A thread-safe list that callbacks on other threads append to.
template <typename T> class Collected
{
public:
    void add(const T& value)
    {
        std::lock_guard lock(m_mutex);
        m_values.append(value);
    }
    // An unshared copy: a shared one would be detached later, outside the lock, while appends go on.
    QList<T> values() const
    {
        std::lock_guard lock(m_mutex);
        QList<T> copy;
        copy.reserve(m_values.size());
        for (const T& value : m_values)
            copy.append(value);
        return copy;
    }
    qsizetype size() const { return values().size(); }

private:
    mutable std::mutex m_mutex;
    QList<T> m_values;
};

// Every line the child printed, recorded after the client has handled it.
inline std::shared_ptr<Collected<QString>> recordLines(const std::shared_ptr<CodexAppServerClient>& client)
{
    auto lines = std::make_shared<Collected<QString>>();
    std::weak_ptr<CodexAppServerClient> weak = client;
    client->manager()->setOnLine([lines, weak](const QString& line) {
        if (const auto strong = weak.lock())
            strong->handleLine(line);
        lines->add(line);
    });
    return lines;
}

// The answer (not a request of the server's own) carrying this identifier, once it has arrived.
inline std::optional<QJsonObject> answerTo(const Collected<QString>& lines, qint64 id)
{
    for (const QString& line : lines.values()) {
        const QJsonObject message = QJsonDocument::fromJson(line.toUtf8()).object();
        if (message.value(QLatin1StringView("id")).toInteger(-1) == id &&
            !message.contains(QLatin1StringView("method")))
            return message;
    }
    return std::nullopt;
}

// A request the child answers after everything it was sent before: once its answer has been handled, so has
// every earlier line. The fakes answer an unknown method with an error.
inline bool settle(CodexAppServerClient& client, const Collected<QString>& lines)
{
    const qint64 id = client.sendRequest(QStringLiteral("test/sentinel"));
    return TestSupport::waitFor([&] { return answerTo(lines, id).has_value(); });
}

} // namespace CodexTestSupport

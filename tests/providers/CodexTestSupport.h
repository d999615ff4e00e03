#pragma once

#include "providers/codex/CodexProcessManager.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QTemporaryDir>

#include <mutex>

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
        QFile file(wirePath);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return lines;
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

} // namespace CodexTestSupport

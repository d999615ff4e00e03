#pragma once

#include "core/runtime/SerialQueue.h"

#include <QString>

#include <mutex>
#include <optional>

// Appends scrubbed, human-readable lines to the data folder's "logs/app.log".
class AppLogger
{
public:
    static AppLogger& shared();

    void info(const QString& message);
    void warn(const QString& message);
    // Also remembered, scrubbed, as lastError() for the diagnostics report.
    void error(const QString& message);

    std::optional<QString> lastError() const;

    // Waits until every entry submitted so far is on disk.
    void flush();

    // Replaces e-mail addresses, key-like words and authorisation links.
    static QString redact(const QString& text);

private:
    AppLogger();
    void write(QLatin1StringView level, const QString& message);

    QString m_fileName;
    mutable std::mutex m_lastErrorMutex;
    std::optional<QString> m_lastError;
    SerialQueue m_queue{QStringLiteral("tallyvane.logger")};
};

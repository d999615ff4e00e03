#pragma once

#include "core/io/SettingsStore.h"
#include "core/model/AppSettings.h"
#include "core/runtime/SerialQueue.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <optional>

// Debounced settings save: only the last change within any half-second burst reaches the disk, written on a
// background queue. Lives on the thread that creates it (normally the main thread) and is used from there.
class SettingsSaver : public QObject
{
    Q_OBJECT

public:
    static constexpr int delayMs = 500;

    SettingsSaver(SettingsStore store, bool demoRequested, QObject* parent = nullptr);
    // Writes a pending save before going.
    ~SettingsSaver() override;

    // Cancels the pending save and schedules this copy (with the "--demo" rule applied) for 0.5 s from now.
    void schedule(const AppSettings& settings);
    // Writes a pending save now and waits for every save handed to the queue (used at shutdown).
    void flush();

    // Saves that reached the store so far, from any thread.
    int writeCount() const { return m_writes.load(); }

private:
    void writePending();

    SettingsStore m_store;
    bool m_demoRequested;
    std::optional<AppSettings> m_pending;
    QTimer m_timer;
    std::atomic<int> m_writes{0};
    SerialQueue m_queue{QStringLiteral("tallyvane.settings.save")};
};

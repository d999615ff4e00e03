#include "core/io/SettingsSaver.h"

SettingsSaver::SettingsSaver(SettingsStore store, bool demoRequested, QObject* parent)
    : QObject(parent), m_store(std::move(store)), m_demoRequested(demoRequested)
{
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5% early; the debounce promises the full half second.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(delayMs);
    connect(&m_timer, &QTimer::timeout, this, &SettingsSaver::writePending);
}

SettingsSaver::~SettingsSaver()
{
    flush();
}

void SettingsSaver::schedule(const AppSettings& settings)
{
    m_pending = SettingsStore::appliedDemoOnSave(settings, m_demoRequested);
    m_timer.start(); // restarting cancels the save scheduled before
}

void SettingsSaver::flush()
{
    m_timer.stop();
    writePending();
    m_queue.sync([] {});
}

void SettingsSaver::writePending()
{
    if (!m_pending)
        return;
    // The queue gets its own copy; failures are silent and the next change tries again.
    m_queue.async([this, store = m_store, settings = std::move(*m_pending)] {
        store.save(settings);
        m_writes.fetch_add(1);
    });
    m_pending.reset();
}

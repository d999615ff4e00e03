#pragma once

#include "app/AppState.h"
#include "app/AppTestSupport.h"
#include "core/io/SnapshotStore.h"
#include "support/Reading.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QPalette>
#include <QUuid>

#include <memory>

#include <ostream>

// Readable failure messages for dates.
inline void PrintTo(const QDateTime& date, std::ostream* os)
{
    *os << date.toString(Qt::ISODateWithMs).toStdString();
}

namespace UiTest {

using AppTest::kNow;
using TestSupport::reading;

using AppTest::forecast;
using AppTest::keyed;

// Past the welcome.
inline AppSettings onboarded()
{
    AppSettings settings;
    settings.hasOnboarded = true;
    return settings;
}

// An application state on a private snapshot log holding `stored`, with the given settings and no live
// providers.
inline std::unique_ptr<AppState>
makeState(AppSettings settings, const QList<UsageSnapshot>& stored = {}, bool codexFound = false,
          ClaudeBridgeStatus::State bridge = ClaudeBridgeStatus::State::notInstalled)
{
    AppStateEnvironment environment = AppTest::environment(settings);
    environment.codexFound = [codexFound] { return codexFound; };
    environment.bridgeStatus = [bridge] { return ClaudeBridgeStatus{bridge, {}, {}}; };
    const QString folder = TestSupport::homePath() + "/store-" + QUuid::createUuid().toString(QUuid::Id128);
    QDir().mkpath(folder);
    environment.store = std::make_shared<SnapshotStore>(folder + "/snapshots.ndjson");
    if (!stored.isEmpty())
        environment.store->append(stored);
    auto state = std::make_unique<AppState>(std::move(environment));
    state->init();
    // Let the first cycle land, so that what a test publishes is not overwritten by it.
    TestSupport::waitFor([&] { return state->lastRefresh().has_value(); }, 10000);
    return state;
}

// The moment `minutes` before kNow, where the UI tests place their readings.
inline QDateTime ago(double minutes)
{
    return kNow.addSecs(-static_cast<qint64>(minutes * 60));
}

// A dark desktop scheme, every role set.
inline QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x24, 0x26, 0x2b));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::Base, QColor(0x1c, 0x1d, 0x21));
    p.setColor(QPalette::AlternateBase, QColor(0x2a, 0x2c, 0x31));
    p.setColor(QPalette::Text, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::PlaceholderText, QColor(0x9a, 0xa0, 0xa8));
    p.setColor(QPalette::Button, QColor(0x31, 0x34, 0x3a));
    p.setColor(QPalette::ButtonText, QColor(0xe8, 0xea, 0xed));
    p.setColor(QPalette::Mid, QColor(0x4a, 0x4e, 0x55));
    p.setColor(QPalette::Dark, QColor(0x15, 0x16, 0x19));
    p.setColor(QPalette::Light, QColor(0x3a, 0x3d, 0x44));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7b, 0xd9));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::ToolTipBase, QColor(0x31, 0x34, 0x3a));
    p.setColor(QPalette::ToolTipText, QColor(0xe8, 0xea, 0xed));
    return p;
}

// Publishes forecasts as if a compute cycle had produced them.
inline void publish(AppState& state, const QMap<QString, ForecastResult>& results, int snapshots = 1)
{
    ForecastBundle bundle;
    bundle.forecasts = results;
    for (int i = 0; i < snapshots; ++i) {
        UsageSnapshot snapshot;
        snapshot.timestamp = kNow.addSecs(-60 * i);
        bundle.snapshots.append(snapshot);
    }
    state.apply(bundle, state.settings(), kNow);
}

} // namespace UiTest

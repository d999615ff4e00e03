// How long the panel takes from "open" to painted over a 200,000-line snapshot log, on the offscreen
// platform: the first open (which builds the panel) and then reopenings after the state changed while it was
// hidden (a hidden panel defers its redraw to the next show). Then the process's CPU time while the open
// panel sits idle through the state's 30-second refresh cycles, and its resident memory.
//   bench_panel_open [idle-seconds]   (default 60)
#include "app/AppState.h"
#include "core/io/SnapshotStore.h"
#include "core/text/JsonLines.h"
#include "ui/ForecastCardInput.h"
#include "ui/PanelView.h"
#include "ui/PanelWindow.h"
#include "ui/ProviderSummary.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int logLines = 200'000;
constexpr qint64 spacingSeconds = 12; // 200,000 lines span 28 days: all inside the 30-day retention

// Four series (two providers, two windows) interleaved, each filling up and resetting on schedule; the last
// line is stamped a few seconds ago, so the panel shows live windows.
UsageSnapshot sample(qint64 index, const QDateTime& end)
{
    UsageSnapshot s;
    s.provider = (index / 2) % 2 ? Provider::claude : Provider::codex;
    s.windowKind = index % 2 ? WindowKind::sevenDay : WindowKind::fiveHour;
    s.timestamp = end.addSecs(-(logLines - index) * spacingSeconds);
    const qint64 window = s.windowKind == WindowKind::fiveHour ? 18'000 : 604'800;
    const qint64 elapsed = s.timestamp.toSecsSinceEpoch() % window;
    s.resetAt = s.timestamp.addSecs(window - elapsed);
    s.windowDurationMins = double(window) / 60;
    s.usedPercent = std::round(90.0 * double(elapsed) / double(window) * 10) / 10;
    s.remainingPercent = 100 - s.usedPercent;
    s.modelId = s.provider == Provider::codex ? QStringLiteral("gpt-5.5") : QStringLiteral("claude-opus-4-8");
    s.effortLevel = QStringLiteral("medium");
    s.source =
        s.provider == Provider::codex ? QStringLiteral("codex.app-server") : QStringLiteral("claude.oauth");
    s.sourceConfidence = SourceConfidence::high;
    return s;
}

double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// CPU time of the calling (GUI) thread: what opening costs, whatever else the machine is doing.
double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Shows the panel and runs the event loop until its window has painted; milliseconds.
double openAndPaint(PanelWindow& panel, double* cpuMs = nullptr)
{
    struct PaintSpy : QObject
    {
        bool painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Paint)
                painted = true;
            return false;
        }
    } spy;
    panel.installEventFilter(&spy);
    QElapsedTimer timer;
    timer.start();
    const double cpuStart = threadCpuMs();
    panel.present(QRect(100, 100, 460, 720));
    while (!spy.painted)
        QCoreApplication::processEvents();
    // The paint of the whole window is one pass: once the event loop returns, every child has painted.
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (cpuMs)
        *cpuMs = threadCpuMs() - cpuStart;
    panel.removeEventFilter(&spy);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 60;
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("snapshots.ndjson"));
    {
        const QDateTime end = QDateTime::currentDateTimeUtc().addSecs(-5);
        QByteArray text;
        text.reserve(qsizetype(logLines) * 400);
        for (int i = 0; i < logLines; ++i)
            text += JsonLines::encodeLine(sample(i, end).toJson()) + '\n';
        QFile file(logPath);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return 1;
        out << "log: " << logLines << " lines, " << text.size() / (1024 * 1024) << " MB\n";
    }

    AppStateEnvironment environment;
    environment.providerFactory = [](Provider, const std::shared_ptr<SnapshotStore>&) {
        return std::shared_ptr<UsageProvider>();
    };
    environment.store = std::make_shared<SnapshotStore>(logPath);
    environment.loadSettings = [] {
        AppSettings settings;
        settings.hasOnboarded = true;
        settings.retentionDays = 60;
        return settings;
    };
    environment.scheduleSave = [](const AppSettings&) {};
    environment.flushSave = [] {};
    AppState state(environment);
    state.init();
    while (!state.lastRefresh())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    out << "working snapshots: " << state.workingSnapshots().size()
        << ", forecasts: " << state.forecasts().size() << "\n";

    QElapsedTimer build;
    build.start();
    auto* view = new PanelView(state, {});
    PanelWindow panel(view, view->dragHandle());
    const double built = double(build.nsecsElapsed()) / 1e6;
    double firstCpu = 0;
    const double first = openAndPaint(panel, &firstCpu);
    out << "first open: " << QString::number(built, 'f', 1) << " ms to build + "
        << QString::number(first, 'f', 1) << " ms to painted (GUI thread CPU "
        << QString::number(firstCpu, 'f', 1) << " ms)\n";

    std::vector<double> reopen;
    std::vector<double> reopenCpu;
    for (int i = 0; i < 20; ++i) {
        panel.dismiss();
        const int cycles = state.requestedCycles();
        state.refresh();
        // The cycle lands while the panel is hidden: the panel only notes that it must redraw.
        while (state.requestedCycles() == cycles || !state.lastRefresh())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::processEvents();
        double cpu = 0;
        reopen.push_back(openAndPaint(panel, &cpu));
        reopenCpu.push_back(cpu);
    }
    std::sort(reopen.begin(), reopen.end());
    std::sort(reopenCpu.begin(), reopenCpu.end());
    out << "reopen after a change, 20 times: median " << QString::number(reopen[reopen.size() / 2], 'f', 1)
        << " ms, max " << QString::number(reopen.back(), 'f', 1) << " ms wall; GUI thread CPU median "
        << QString::number(reopenCpu[reopenCpu.size() / 2], 'f', 1) << " ms, max "
        << QString::number(reopenCpu.back(), 'f', 1) << " ms\n";
    // Where a redraw goes.
    const auto cpuOf = [](const std::function<void()>& work) {
        const double start = threadCpuMs();
        for (int i = 0; i < 10; ++i)
            work();
        return QString::number((threadCpuMs() - start) / 10, 'f', 2);
    };
    const PanelFeeds feeds = PanelFeeds::fromState(state);
    out << "per redraw (GUI thread CPU): whole " << cpuOf([&] { view->redraw(); }) << " ms, provider inputs "
        << cpuOf([&] {
               ProviderSummaryInput::fromState(state, feeds, Provider::codex);
               ProviderSummaryInput::fromState(state, feeds, Provider::claude);
           })
        << " ms, forecast input " << cpuOf([&] { ForecastCardInput::fromState(state); }) << " ms\n";
    out.flush();

    const double cpuBefore = cpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double used = cpuSeconds() - cpuBefore;
    out << "idle with the panel open for " << idleSeconds << " s: " << QString::number(used, 'f', 3)
        << " s of CPU = " << QString::number(100 * used / idleSeconds, 'f', 3) << " % of one core\n";
    out << "resident memory: " << residentKiB() / 1024 << " MB\n";
    return 0;
}

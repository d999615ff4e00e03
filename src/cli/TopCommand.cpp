#include "cli/TopCommand.h"

#include "app/AppState.h"
#include "app/NotificationManager.h"
#include "app/SeriesCache.h"
#include "app/StatusSummary.h"
#include "cli/CommandLineOptions.h"
#include "cli/StatusCommand.h"
#include "core/io/AppLogger.h"
#include "core/io/CollectorLock.h"
#include "core/io/LocalFileStore.h"
#include "core/io/Shell.h"
#include "history/UsageHistory.h"
#include "platform/DBusNotificationSender.h"
#include "tui/Terminal.h"
#include "tui/TopLayout.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

namespace TopCommand {

namespace {

// Between changes of the log the forecasts still move with the clock: a new cycle at least this often.
constexpr qint64 kCycleEveryMs = 30'000;

// The log's size and change time: a new cycle when either moved (a cheap stat each second).
struct LogStamp
{
    qint64 size = -1;
    qint64 changedNs = -1;
    friend bool operator==(const LogStamp&, const LogStamp&) = default;
};

LogStamp stampOf(const QByteArray& path)
{
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return {};
    return {static_cast<qint64>(info.st_size),
            static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

// How often a view without the collector lock asks for it again.
constexpr qint64 kLockRetryMs = 5'000;

// The providers, run as `--headless` runs them (notifications and the status-line summary included), while
// this view holds the collector lock. The view then shows this state, the one the summary and the
// notifications are made from, rather than working the log out a second time.
class Collection
{
public:
    explicit Collection(std::shared_ptr<CollectorLock> lock)
    {
        AppStateEnvironment environment;
        environment.notifications = &m_notifications;
        environment.collectorLock = std::move(lock);
        environment.watchLog = true;
        m_state = std::make_unique<AppState>(environment);
        m_summary.follow(*m_state);
        QObject::connect(m_state.get(), &AppState::cycleFinished, &m_loop, [this] {
            ++m_cycles;
            m_loop.quit();
        });
        for (QSocketNotifier* notifier : {&m_keys, &m_signals})
            QObject::connect(notifier, &QSocketNotifier::activated, &m_loop, &QEventLoop::quit);
        m_wake.setSingleShot(true);
        QObject::connect(&m_wake, &QTimer::timeout, &m_loop, &QEventLoop::quit);
        m_state->init();
        AppLogger::shared().info(QStringLiteral("Collecting in tallyvane top"));
    }
    ~Collection() { m_state->flushSettings(); }
    Collection(const Collection&) = delete;
    Collection& operator=(const Collection&) = delete;

    AppState& state() { return *m_state; }
    // Runs the providers' hand-offs and timers until a key, a signal, a cycle or `timeoutMs`: no polling.
    void waitForAnything(int timeoutMs)
    {
        m_wake.start(timeoutMs);
        m_loop.exec();
        m_wake.stop();
    }
    // Cycles applied so far: the view takes the state again when this moves.
    int cycles() const { return m_cycles; }

private:
    int m_cycles = 0;
    QEventLoop m_loop;
    QTimer m_wake;
    QSocketNotifier m_keys{STDIN_FILENO, QSocketNotifier::Read};
    QSocketNotifier m_signals{Terminal::signalFd(), QSocketNotifier::Read};
    DBusNotificationSender m_sender{DBusNotificationSender::Options{.openOnClick = false}};
    NotificationManager m_notifications{m_sender};
    std::unique_ptr<AppState> m_state;
    StatusSummaryPublisher m_summary;
};

} // namespace

std::variant<Options, QString> parse(const QStringList& arguments)
{
    Options options;
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--demo"))
            options.demo = true;
        else if (argument == QLatin1String("--no-collect"))
            options.noCollect = true;
        else
            return QStringLiteral("top: ") +
                   CommandLineOptions::unknownOption(argument, {CommandLineOptions::Group::top});
    }
    return options;
}

int run(const Options& options)
{
    if (!::isatty(STDOUT_FILENO) || !::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s\n", notATerminal);
        return 2;
    }
    if (const char* term = std::getenv("TERM"); !term || !*term || std::strcmp(term, "dumb") == 0) {
        const QString message = QString::fromLatin1(dumbTerminal).arg(term && *term ? "dumb" : "not set");
        std::fprintf(stderr, "%s\n", qPrintable(message));
        return 2;
    }
    const Glyphs glyphs = Terminal::localeGlyphs();
    StatusCommand::Options statusOptions;
    statusOptions.demo = options.demo;
    StatusCommand::Sources sources;
    sources.cache = std::make_shared<SeriesCache>();
    const QByteArray logPath = QFile::encodeName(LocalFileStore::snapshotsPath());

    Terminal terminal;
    if (!terminal.isActive()) {
        std::fprintf(stderr, "%s\n", notATerminal);
        return 2;
    }

    // Nobody else collecting: this view runs the providers, and takes over when the collector exits.
    const bool mayCollect = !options.demo && !options.noCollect;
    const auto lock = std::make_shared<CollectorLock>();
    std::unique_ptr<Collection> collection;
    qint64 lockAskedAt = -kLockRetryMs;

    // The frame drawn, and the last reading of another collector's log it is made from.
    PublishedState input;
    PublishedState read;
    TopView view;
    LogStamp stamp = stampOf(logPath);
    bool cycleDue = true;
    bool pullDue = false;
    std::optional<bool> codexFound;
    for (;;) {
        if (mayCollect && !collection && QDateTime::currentMSecsSinceEpoch() - lockAskedAt >= kLockRetryMs) {
            lockAskedAt = QDateTime::currentMSecsSinceEpoch();
            if (lock->tryAcquire())
                collection = std::make_unique<Collection>(lock);
        }
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (collection && collection->cycles() > 0) {
            // The state refreshes on its own timer and on appends to the log; a key asks for one more.
            AppState& state = collection->state();
            if (pullDue)
                state.refreshAll();
            else if (cycleDue)
                state.refresh();
            cycleDue = false;
            pullDue = false;
            input = state.publishedState();
        } else {
            if (const LogStamp current = options.demo ? LogStamp{} : stampOf(logPath);
                cycleDue || current != stamp || !read.lastRefresh ||
                read.lastRefresh->msecsTo(now) >= kCycleEveryMs) {
                // Reading another collector's log (or this one's before its first cycle lands).
                read = StatusCommand::evaluate(statusOptions, now, sources);
                stamp = current;
                cycleDue = false;
            }
            // Only the empty state asks, and its answer does not change while we look.
            if (read.bundle.snapshots.isEmpty() && !codexFound)
                codexFound =
                    !Shell::which(QStringLiteral("codex"), Shell::defaultSearchFolders(), {}).isEmpty();
            read.codexFound = codexFound.value_or(false);
            input = read.at(now);
        }
        view.collects = collection != nullptr;
        const Terminal::Size size = terminal.size();
        terminal.draw(TopLayout::render(input, view, size.columns, size.rows, glyphs));

        // Wake on the next whole second, for the countdowns.
        const int timeoutMs = 1000 - static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000);
        if (collection)
            collection->waitForAnything(timeoutMs);
        const Terminal::Event event = terminal.wait(collection ? 0 : timeoutMs);
        if (event.interrupted)
            return 0;
        if (event.resumed)
            terminal.resume();
        for (const Terminal::Key key : event.keys) {
            if (key == Terminal::Key::quit)
                return 0;
            if (key == Terminal::Key::redraw) {
                terminal.redrawAll();
                continue;
            }
            if (view.help) {
                view.help = false; // any other key closes the help, Esc too
                continue;
            }
            switch (key) {
            case Terminal::Key::nextProvider:
                view = TopLayout::nextProvider(input, view, 1);
                break;
            case Terminal::Key::previousProvider:
                view = TopLayout::nextProvider(input, view, -1);
                break;
            case Terminal::Key::nextWindow:
                view = TopLayout::nextWindow(input, view);
                break;
            case Terminal::Key::nextBasis:
                statusOptions.basis = TopLayout::nextBasis(input.settings.forecastBasis);
                if (collection)
                    collection->state().setBasis(*statusOptions.basis);
                else
                    cycleDue = true;
                break;
            case Terminal::Key::refresh:
                cycleDue = true;
                pullDue = true;
                break;
            case Terminal::Key::help:
                view.help = true;
                break;
            case Terminal::Key::escape:
                return 0;
            case Terminal::Key::quit:
            case Terminal::Key::redraw:
            case Terminal::Key::other:
                break;
            }
        }
    }
}

} // namespace TopCommand

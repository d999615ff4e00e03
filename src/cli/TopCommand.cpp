#include "cli/TopCommand.h"

#include "app/SeriesCache.h"
#include "cli/StatusCommand.h"
#include "core/LocalFileStore.h"
#include "providers/codex/Shell.h"
#include "tui/Terminal.h"
#include "tui/TopLayout.h"

#include <QDateTime>
#include <QFile>

#include <cstdio>
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
    struct stat info
    {};
    if (::stat(path.constData(), &info) != 0)
        return {};
    return {static_cast<qint64>(info.st_size),
            static_cast<qint64>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

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
            return QStringLiteral("top: unknown option '%1'").arg(argument);
    }
    return options;
}

int run(const Options& options)
{
    if (!::isatty(STDOUT_FILENO) || !::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s\n", notATerminal);
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

    TopInput input;
    TopView view;
    LogStamp stamp = stampOf(logPath);
    bool cycleDue = true;
    bool codexSearched = false;
    for (;;) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const LogStamp current = options.demo ? LogStamp{} : stampOf(logPath);
        if (current != stamp || !input.computedAt || input.computedAt->msecsTo(now) >= kCycleEveryMs)
            cycleDue = true;
        if (cycleDue) {
            StatusCommand::Report report = StatusCommand::evaluate(statusOptions, now, sources);
            input.bundle = std::move(report.bundle);
            input.settings = std::move(report.settings);
            input.history = std::move(report.history);
            input.computedAt = now;
            stamp = current;
            cycleDue = false;
            // Only the empty state asks, and its answer does not change while we look.
            if (input.bundle.snapshots.isEmpty() && !codexSearched) {
                input.codexFound =
                    !Shell::which(QStringLiteral("codex"), Shell::defaultSearchFolders(), {}).isEmpty();
                codexSearched = true;
            }
        }
        input.now = now;
        const Terminal::Size size = terminal.size();
        terminal.draw(TopLayout::render(input, view, size.columns, size.rows, glyphs));

        // Wake on the next whole second, for the countdowns.
        const int timeoutMs = 1000 - static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000);
        const Terminal::Event event = terminal.wait(timeoutMs);
        if (event.interrupted)
            return 0;
        for (const Terminal::Key key : event.keys) {
            if (key == Terminal::Key::quit)
                return 0;
            if (view.help) {
                view.help = false; // any other key closes the help
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
                cycleDue = true;
                break;
            case Terminal::Key::refresh:
                cycleDue = true;
                break;
            case Terminal::Key::help:
                view.help = true;
                break;
            case Terminal::Key::quit:
            case Terminal::Key::other:
                break;
            }
        }
    }
}

} // namespace TopCommand

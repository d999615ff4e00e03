#pragma once

#include "core/runtime/SerialQueue.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/types.h>
#include <thread>

// How the Codex child is found and launched. Tests point the search at a folder of their own.
struct CodexLaunchOptions
{
    QStringList searchFolders;
    // Asked when no folder holds "codex"; empty skips it.
    QString fallbackWhich = QString(QLatin1StringView("/usr/bin/which"));
    // When set, used as is instead of searching.
    QString executable;
    QStringList arguments{QStringLiteral("app-server")};
    // Another account's Codex home, given to the child as CODEX_HOME; empty leaves the inherited one.
    QString codexHome;
    // That account's key, carried by every reading of it; empty for the default account.
    QString account;

    // The usual folders and /usr/bin/which.
    static CodexLaunchOptions standard();
};

// Splits a byte stream into complete lines. Pieces of a line that arrive in several reads are joined;
// a line that is not valid UTF-8 is dropped on its own; a line longer than the limit is dropped whole.
class LineAssembler
{
public:
    // The largest real answer (every rate-limit bucket of a busy account) is a few kilobytes.
    static constexpr qsizetype defaultMaxLineBytes = 1024 * 1024;

    explicit LineAssembler(qsizetype maxLineBytes = defaultMaxLineBytes) : m_maxLineBytes(maxLineBytes) {}

    // Calls `deliver` with every line that `chunk` completes, in order; empty lines are skipped.
    void feed(const char* data, qsizetype size, const std::function<void(const QString&)>& deliver);
    // End of input: whatever is left without a final line feed is delivered as a last line.
    void finish(const std::function<void(const QString&)>& deliver);

    qsizetype pendingBytes() const { return m_buffer.size(); }

private:
    void emitLine(QByteArrayView line, const std::function<void(const QString&)>& deliver);

    qsizetype m_maxLineBytes;
    QByteArray m_buffer;
    // Set while skipping the rest of an over-long line up to its line feed.
    bool m_discarding = false;
};

// How a child ended.
struct CodexExit
{
    // Ended by stop() (or the manager's end), not by itself.
    bool requested = false;
    // "exit status 3", "killed by SIGABRT".
    QString reason;
};

// Owns the long-lived `codex app-server` child: launches it on pipes, delivers each line it prints to
// `onLine` (on the manager's reader thread) and writes lines to its standard input on a serial queue.
class CodexProcessManager
{
public:
    using LineHandler = std::function<void(const QString&)>;
    using TerminateHandler = std::function<void(const CodexExit&)>;

    explicit CodexProcessManager(CodexLaunchOptions options = CodexLaunchOptions::standard());
    const CodexLaunchOptions& options() const { return m_options; }
    // Stops the child (terminating it, then killing it if it lingers) and waits for the helper threads.
    ~CodexProcessManager();
    CodexProcessManager(const CodexProcessManager&) = delete;
    CodexProcessManager& operator=(const CodexProcessManager&) = delete;

    // Handlers are set before start; they run on the reader thread (onLine) and the exit watcher
    // (onTerminate, after the reader has delivered what the child printed, or has waited for it in vain).
    void setOnLine(LineHandler handler);
    void setOnTerminate(TerminateHandler handler);

    // The executable start would launch, or empty.
    QString locateExecutable() const;
    // What the last start found (empty before one, or when it found nothing); no search is run.
    QString lastLocated() const;

    // True when the child was launched.
    bool start();
    // No line is delivered once this returns (unless called from within onLine itself).
    void stop();
    // Queues `line` plus a line feed for the child's standard input; quietly dropped when nobody reads.
    void send(const QString& line);

    bool isRunning() const { return m_isRunning.load(); }
    // Waits until every send queued so far has been written or dropped.
    void flush();

private:
    void readLoop(int readFd, int wakeFd);
    mutable std::mutex m_locatedMutex;
    QString m_lastLocated;
    void joinReader();
    void watchExit(pid_t pid);
    void writeLine(const QByteArray& bytes);
    void closeStdin();
    // Waits for an earlier child to end (killing it when it lingers) and joins the helper threads.
    void reapPrevious();

    CodexLaunchOptions m_options;
    LineHandler m_onLine;
    TerminateHandler m_onTerminate;

    std::mutex m_mutex; // guards m_pid and the wake pipe
    // The child's id until it has ended; it is reaped only after this is cleared, so it is never reused
    // while set.
    pid_t m_pid = 0;
    // Wakes the reader on stop; both ends stay open until the reader has been joined.
    int m_wakeReadFd = -1;
    int m_wakeWriteFd = -1;
    std::thread m_reader;      // touched only by start, stop and the destructor (one caller thread)
    std::thread m_exitWatcher; // likewise
    std::mutex m_readerMutex;
    std::condition_variable m_readerEnded;
    bool m_readerRunning = false; // guarded by m_readerMutex
    // Cleared by stop(): also tells the exit watcher that the end was asked for.
    std::atomic<bool> m_deliver{false};
    std::atomic<bool> m_isRunning{false};

    int m_stdinFd = -1;     // touched only on m_queue
    bool m_stalled = false; // likewise: the child let a write wait out its time; later ones do not wait
    SerialQueue m_queue{QStringLiteral("tallyvane.codex.process")};
};

#include "providers/codex/CodexProcessManager.h"

#include "core/io/AppLogger.h"
#include "core/io/Shell.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int writeStallTimeoutMs = 5000;
constexpr auto terminateGrace = std::chrono::seconds(3);
// How long an ended child's last lines may take to be delivered; a grandchild holding the pipe keeps it open.
constexpr auto drainGrace = std::chrono::seconds(2);

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool makePipe(int fds[2])
{
    return ::pipe2(fds, O_CLOEXEC) == 0;
}

// Writes to a pipe whose reader has gone raise SIGPIPE in the writing thread; keep it blocked on the
// writer's thread and swallow any that is pending, so the write just fails with EPIPE.
void blockSigpipeOnThisThread()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void discardPendingSigpipe()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec zero{0, 0};
    while (sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
    }
}

} // namespace

CodexLaunchOptions CodexLaunchOptions::standard()
{
    CodexLaunchOptions options;
    options.searchFolders = Shell::defaultSearchFolders();
    return options;
}

void LineAssembler::feed(const char* data, qsizetype size, const std::function<void(const QString&)>& deliver)
{
    qsizetype start = 0;
    while (start < size) {
        const void* found = std::memchr(data + start, '\n', static_cast<size_t>(size - start));
        if (!found) {
            if (m_discarding)
                return;
            m_buffer.append(data + start, size - start);
            if (m_buffer.size() > m_maxLineBytes) {
                m_buffer.clear();
                m_buffer.squeeze();
                m_discarding = true;
            }
            return;
        }
        const qsizetype end = static_cast<const char*>(found) - data;
        const QByteArrayView piece(data + start, end - start);
        if (m_discarding) {
            m_discarding = false;
        } else if (!m_buffer.isEmpty()) {
            if (m_buffer.size() + piece.size() <= m_maxLineBytes) {
                m_buffer.append(piece);
                emitLine(m_buffer, deliver);
            }
            m_buffer.clear();
        } else if (piece.size() <= m_maxLineBytes) {
            emitLine(piece, deliver);
        }
        start = end + 1;
    }
}

void LineAssembler::finish(const std::function<void(const QString&)>& deliver)
{
    if (!m_discarding && !m_buffer.isEmpty())
        emitLine(m_buffer, deliver);
    m_buffer.clear();
    m_discarding = false;
}

void LineAssembler::emitLine(QByteArrayView line, const std::function<void(const QString&)>& deliver)
{
    if (line.isEmpty())
        return;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(line);
    if (decoder.hasError())
        return;
    deliver(text);
}

CodexProcessManager::CodexProcessManager(CodexLaunchOptions options) : m_options(std::move(options))
{
    m_queue.async([] { blockSigpipeOnThisThread(); });
}

CodexProcessManager::~CodexProcessManager()
{
    stop();
    reapPrevious();
    m_queue.sync([this] { closeStdin(); });
}

void CodexProcessManager::setOnLine(LineHandler handler)
{
    m_onLine = std::move(handler);
}

void CodexProcessManager::setOnTerminate(TerminateHandler handler)
{
    m_onTerminate = std::move(handler);
}

QString CodexProcessManager::locateExecutable() const
{
    if (!m_options.executable.isEmpty())
        return m_options.executable;
    return Shell::which(QStringLiteral("codex"), m_options.searchFolders, m_options.fallbackWhich);
}

QString CodexProcessManager::lastLocated() const
{
    std::lock_guard lock(m_locatedMutex);
    return m_lastLocated;
}

bool CodexProcessManager::start()
{
    if (m_isRunning.load())
        return true;
    reapPrevious();

    const QString path = locateExecutable();
    {
        std::lock_guard lock(m_locatedMutex);
        m_lastLocated = path;
    }
    if (path.isEmpty()) {
        AppLogger::shared().warn(QStringLiteral("Codex not found in PATH"));
        return false;
    }

    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    int wake[2] = {-1, -1};
    const auto closeAll = [&] {
        for (int* fds : {input, output, wake}) {
            closeFd(fds[0]);
            closeFd(fds[1]);
        }
    };
    if (!makePipe(input) || !makePipe(output) || !makePipe(wake)) {
        const int error = errno;
        closeAll();
        AppLogger::shared().error(QStringLiteral("Failed to start codex app-server: ") +
                                  QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    // The child starts with default signal handling and an empty mask whatever this process does.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t empty;
    sigemptyset(&empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &empty);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const QByteArray program = path.toLocal8Bit();
    std::vector<QByteArray> argumentBytes;
    argumentBytes.push_back(program);
    for (const QString& argument : m_options.arguments)
        argumentBytes.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The inherited environment, with the account's home in place of any CODEX_HOME.
    std::vector<QByteArray> environmentBytes;
    std::vector<char*> environment;
    if (!m_options.codexHome.isEmpty()) {
        for (char** entry = environ; *entry; ++entry) {
            if (std::strncmp(*entry, "CODEX_HOME=", 11) != 0)
                environmentBytes.emplace_back(*entry);
        }
        environmentBytes.push_back("CODEX_HOME=" + QFile::encodeName(m_options.codexHome));
        for (QByteArray& entry : environmentBytes)
            environment.push_back(entry.data());
        environment.push_back(nullptr);
    }

    pid_t pid = 0;
    const int result = posix_spawn(&pid, program.constData(), &actions, &attributes, argv.data(),
                                   environment.empty() ? environ : environment.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        closeAll();
        AppLogger::shared().error(QStringLiteral("Failed to start codex app-server: ") +
                                  QString::fromLocal8Bit(std::strerror(result)));
        return false;
    }

    closeFd(input[0]);
    closeFd(output[1]);
    // A child that stops reading must not block the writer queue for good.
    ::fcntl(input[1], F_SETFL, ::fcntl(input[1], F_GETFL) | O_NONBLOCK);
    const int stdinFd = input[1];
    m_queue.async([this, stdinFd] {
        closeStdin();
        m_stdinFd = stdinFd;
    });

    {
        std::lock_guard lock(m_mutex);
        m_pid = pid;
        m_wakeReadFd = wake[0];
        m_wakeWriteFd = wake[1];
    }
    m_deliver.store(true);
    m_isRunning.store(true);
    const int readFd = output[0];
    const int wakeReadFd = wake[0];
    {
        std::lock_guard lock(m_readerMutex);
        m_readerRunning = true;
    }
    m_reader = std::thread([this, readFd, wakeReadFd] { readLoop(readFd, wakeReadFd); });
    m_exitWatcher = std::thread([this, pid] { watchExit(pid); });

    AppLogger::shared().info(QStringLiteral("codex app-server started"));
    return true;
}

void CodexProcessManager::stop()
{
    m_deliver.store(false);
    {
        std::lock_guard lock(m_mutex);
        if (m_pid > 0)
            ::kill(m_pid, SIGTERM);
        if (m_wakeWriteFd >= 0) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(m_wakeWriteFd, &byte, 1);
        }
    }
    m_isRunning.store(false);
    m_queue.async([this] { closeStdin(); });
    if (m_reader.joinable() && m_reader.get_id() != std::this_thread::get_id())
        joinReader();
}

void CodexProcessManager::joinReader()
{
    if (m_reader.get_id() == std::this_thread::get_id())
        m_reader.detach(); // torn down from inside a line handler: the loop ends on its own
    else if (m_reader.joinable())
        m_reader.join();
    std::lock_guard lock(m_mutex);
    closeFd(m_wakeReadFd);
    closeFd(m_wakeWriteFd);
}

void CodexProcessManager::send(const QString& line)
{
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    m_queue.async([this, bytes = std::move(bytes)] { writeLine(bytes); });
}

void CodexProcessManager::flush()
{
    m_queue.sync([] {});
}

void CodexProcessManager::readLoop(int readFd, int wakeFd)
{
    pthread_setname_np(pthread_self(), "codex.reader");
    LineAssembler assembler;
    const auto deliver = [this](const QString& line) {
        if (m_deliver.load() && m_onLine)
            m_onLine(line);
    };
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        pollfd fds[2] = {{readFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents != 0)
            break; // stopped: whatever is still buffered is not delivered
        if (fds[0].revents == 0)
            continue;
        const ssize_t count = ::read(readFd, chunk.data(), chunk.size());
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;
        }
        if (count == 0) {
            assembler.finish(deliver);
            break;
        }
        assembler.feed(chunk.data(), count, deliver);
    }
    ::close(readFd);
    std::lock_guard lock(m_readerMutex);
    m_readerRunning = false;
    m_readerEnded.notify_all();
}

void CodexProcessManager::watchExit(pid_t pid)
{
    pthread_setname_np(pthread_self(), "codex.exit");
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_pid == pid)
            m_pid = 0;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_isRunning.store(false);
    {
        // What the child printed before it ended is handled before its end is reported.
        std::unique_lock lock(m_readerMutex);
        m_readerEnded.wait_for(lock, drainGrace, [this] { return !m_readerRunning; });
    }
    CodexExit exit;
    exit.requested = !m_deliver.load();
    if (WIFSIGNALED(status)) {
        const char* name = sigabbrev_np(WTERMSIG(status));
        exit.reason = name ? QStringLiteral("killed by SIG") + QString::fromLatin1(name)
                           : QStringLiteral("killed by signal ") + QString::number(WTERMSIG(status));
    } else {
        exit.reason = QStringLiteral("exit status ") + QString::number(WEXITSTATUS(status));
    }
    if (m_onTerminate)
        m_onTerminate(exit);
}

void CodexProcessManager::writeLine(const QByteArray& bytes)
{
    if (m_stdinFd < 0)
        return;
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(m_stdinFd, data, static_cast<size_t>(left));
        if (written > 0) {
            m_stalled = false;
            data += written;
            left -= written;
            continue;
        }
        const int error = written < 0 ? errno : 0;
        if (error == EINTR)
            continue;
        if (error == EAGAIN && !m_stalled) {
            pollfd fd{m_stdinFd, POLLOUT, 0};
            if (::poll(&fd, 1, writeStallTimeoutMs) > 0 && (fd.revents & POLLOUT))
                continue;
            m_stalled = true;
        }
        // The child has gone or stopped reading: the rest of this line is dropped.
        if (error == EPIPE)
            discardPendingSigpipe();
        return;
    }
}

void CodexProcessManager::closeStdin()
{
    closeFd(m_stdinFd);
    m_stalled = false;
}

void CodexProcessManager::reapPrevious()
{
    if (m_exitWatcher.joinable()) {
        const auto deadline = std::chrono::steady_clock::now() + terminateGrace;
        for (;;) {
            {
                std::lock_guard lock(m_mutex);
                if (m_pid == 0)
                    break;
                if (std::chrono::steady_clock::now() >= deadline) {
                    ::kill(m_pid, SIGKILL);
                    break;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_exitWatcher.join();
    }
    if (m_reader.joinable())
        joinReader();
}

#include "tui/Terminal.h"

#include <array>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Shared with the signal handlers, which may only use async-signal-safe calls.
termios g_saved{};
termios g_raw{};
volatile sig_atomic_t g_restoreNeeded = 0;
int g_signalPipe[2] = {-1, -1};

constexpr char kEnter[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";
constexpr char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

void restoreTerminal()
{
    if (!g_restoreNeeded)
        return;
    g_restoreNeeded = 0;
    [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, kLeave, sizeof kLeave - 1);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
}

void onTermination(int signal)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// Ctrl+Z: the shell gets its terminal back as it left it, then the process stops as it would without a
// handler (SIGTSTP is blocked while this runs, so it stops once that is lifted). SIGCONT brings resume().
void onSuspend(int signal)
{
    const int saved = errno;
    restoreTerminal();
    struct sigaction stop = {};
    stop.sa_handler = SIG_DFL;
    sigemptyset(&stop.sa_mask);
    ::sigaction(signal, &stop, nullptr);
    ::raise(signal);
    sigset_t pending;
    sigemptyset(&pending);
    sigaddset(&pending, signal);
    ::sigprocmask(SIG_UNBLOCK, &pending, nullptr);
    struct sigaction again = {};
    again.sa_handler = onSuspend;
    sigemptyset(&again.sa_mask);
    again.sa_flags = SA_RESTART;
    ::sigaction(signal, &again, nullptr);
    errno = saved;
}

void onCrash(int signal)
{
    restoreTerminal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The signals reported through the pipe: the terminating ones, a resize and a continue after a stop.
constexpr std::array kTerminationSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGWINCH, SIGCONT};
constexpr std::array kCrashSignals{SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};

void install(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

bool writeAll(const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::write(STDOUT_FILENO, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

Terminal::Terminal() : m_colour(colourWanted())
{
    if (::tcgetattr(STDIN_FILENO, &g_saved) != 0 || ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_raw = g_saved;
    // Keys arrive one by one and unechoed; Ctrl+C still raises SIGINT, which ends the view cleanly.
    g_raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    g_raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    g_raw.c_cc[VMIN] = 0;
    g_raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_raw) != 0)
        return;
    g_restoreNeeded = 1;
    for (const int signal : kTerminationSignals)
        install(signal, onTermination);
    for (const int signal : kCrashSignals)
        install(signal, onCrash);
    install(SIGTSTP, onSuspend);
    std::atexit(restoreTerminal);
    writeAll(QByteArray(kEnter));
    m_active = true;
}

Terminal::~Terminal()
{
    std::signal(SIGTSTP, SIG_DFL);
    restoreTerminal();
    for (const int signal : kTerminationSignals)
        std::signal(signal, SIG_DFL);
}

void Terminal::resume()
{
    if (!m_active)
        return;
    // Also after a stop that was no Ctrl+Z (SIGSTOP): the shell may have reset the modes meanwhile.
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_raw);
    g_restoreNeeded = 1;
    writeAll(QByteArray(kEnter));
    redrawAll();
}

Terminal::Size Terminal::size() const
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return {};
    return {size.ws_col, size.ws_row};
}

int Terminal::signalFd()
{
    return g_signalPipe[0];
}

Terminal::Event Terminal::wait(int timeoutMs)
{
    Event event;
    std::array<pollfd, 2> fds{pollfd{STDIN_FILENO, POLLIN, 0}, pollfd{g_signalPipe[0], POLLIN, 0}};
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
        return event;
    if (fds[1].revents & POLLIN) {
        unsigned char signals[16];
        ssize_t n = 0;
        while ((n = ::read(g_signalPipe[0], signals, sizeof signals)) > 0) {
            for (ssize_t i = 0; i < n; ++i) {
                if (signals[i] == SIGWINCH)
                    event.resized = true;
                else if (signals[i] == SIGCONT)
                    event.resumed = true;
                else
                    event.interrupted = true;
            }
        }
    }
    if (fds[0].revents & POLLIN) {
        event.keys = readKeys(STDIN_FILENO);
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
        event.interrupted = true; // the terminal went away
    }
    return event;
}

void Terminal::draw(const QList<ScreenLine>& lines)
{
    const Size now = size();
    QByteArray out;
    if (now != m_drawnSize) {
        out += "\x1b[H\x1b[2J";
        m_drawn.clear();
        m_drawnSize = now;
    }
    m_drawn.resize(lines.size());
    for (qsizetype row = 0; row < lines.size(); ++row) {
        QByteArray encoded = encode(lines[row], m_colour);
        if (encoded == m_drawn[row])
            continue;
        out += "\x1b[" + QByteArray::number(row + 1) + ";1H" + encoded;
        m_drawn[row] = std::move(encoded);
    }
    if (!out.isEmpty())
        writeAll(out);
}

bool Terminal::colourWanted()
{
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return !(noColour && *noColour) && !(term && std::strcmp(term, "dumb") == 0);
}

Glyphs Terminal::localeGlyphs()
{
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    return codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)
               ? Glyphs::utf8
               : Glyphs::ascii;
}

namespace {

// Whether `input` stops inside an escape sequence: after a lone Esc, or a CSI or SS3 without its final byte.
bool endsInsideEscape(const QByteArray& input)
{
    const qsizetype esc = input.lastIndexOf('\x1b');
    if (esc < 0)
        return false;
    if (esc + 1 == input.size())
        return true;
    if (input[esc + 1] != '[' && input[esc + 1] != 'O')
        return false;
    for (qsizetype i = esc + 2; i < input.size(); ++i)
        if (input[i] >= 0x40 && input[i] <= 0x7e)
            return false;
    return true;
}

} // namespace

QList<Terminal::Key> Terminal::readKeys(int fd)
{
    QByteArray input;
    // Bounded: a stream of unfinished sequences cannot keep the view from drawing.
    for (int reads = 0; reads < 8; ++reads) {
        char buffer[64];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            input.append(buffer, n);
        pollfd more{fd, POLLIN, 0};
        if (n <= 0 || !endsInsideEscape(input) || ::poll(&more, 1, kEscapeWaitMs) <= 0)
            break;
    }
    return keysOf(input);
}

QList<Terminal::Key> Terminal::keysOf(const QByteArray& input)
{
    QList<Key> keys;
    for (qsizetype i = 0; i < input.size(); ++i) {
        const char c = input[i];
        if (c == '\x1b') {
            // CSI or SS3 sequences: the arrows move the focus, anything else is skipped whole.
            if (i + 1 < input.size() && (input[i + 1] == '[' || input[i + 1] == 'O')) {
                qsizetype end = i + 2;
                while (end < input.size() && (input[end] < 0x40 || input[end] > 0x7e))
                    ++end;
                const char final = end < input.size() ? input[end] : '\0';
                keys.append(final == 'C'                   ? Key::nextProvider
                            : final == 'D' || final == 'Z' ? Key::previousProvider
                                                           : Key::other);
                i = end;
            } else if (i + 1 == input.size()) {
                keys.append(Key::escape);
            }
            continue;
        }
        switch (c) {
        case 'q':
        case 'Q':
            keys.append(Key::quit);
            break;
        case '\t':
            keys.append(Key::nextProvider);
            break;
        case 'w':
            keys.append(Key::nextWindow);
            break;
        case 'b':
            keys.append(Key::nextBasis);
            break;
        case 'r':
            keys.append(Key::refresh);
            break;
        case '?':
            keys.append(Key::help);
            break;
        case '\x0c':
            keys.append(Key::redraw);
            break;
        default:
            keys.append(Key::other);
        }
    }
    return keys;
}

QByteArray Terminal::encode(const ScreenLine& line, bool colour)
{
    QByteArray out;
    for (const Span& span : line.spans) {
        const char* sgr = nullptr;
        if (colour) {
            switch (span.role) {
            case ColorRole::safe:
                sgr = "32";
                break;
            case ColorRole::watch:
                sgr = "33";
                break;
            case ColorRole::risky:
            case ColorRole::limited:
                sgr = "31";
                break;
            case ColorRole::neutral:
                break;
            }
        }
        if (sgr || span.bold) {
            out += "\x1b[";
            if (span.bold)
                out += sgr ? "1;" : "1";
            if (sgr)
                out += sgr;
            out += 'm';
            out += span.text.toUtf8();
            out += "\x1b[0m";
        } else {
            out += span.text.toUtf8();
        }
    }
    return out;
}

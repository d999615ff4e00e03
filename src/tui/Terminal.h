#pragma once

#include "tui/ScreenLine.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The terminal of `tallyvane top`, driven with plain escape sequences: raw keys, the alternate screen, a
// hidden cursor, colour by role (the terminal's own background), and redraws of changed rows only. The
// terminal is restored however the process ends: normally, on SIGINT, SIGTERM, SIGHUP or SIGQUIT (reported
// as `interrupted`), and on a crash signal (restored, then the signal's default action). Ctrl+Z (SIGTSTP)
// restores it before the process stops; SIGCONT is reported as `resumed`, for resume().
class Terminal
{
public:
    struct Size
    {
        int columns = 80;
        int rows = 24;
        friend bool operator==(const Size&, const Size&) = default;
    };

    enum class Key
    {
        quit,
        nextProvider,
        previousProvider,
        nextWindow,
        nextBasis,
        refresh,
        help,
        escape, // a lone Esc: quits, or closes the help
        redraw, // Ctrl+L
        other
    };

    struct Event
    {
        QList<Key> keys;
        bool resized = false;
        bool interrupted = false;
        bool resumed = false;
    };

    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // False when the terminal could not be put into raw mode (nothing was changed then).
    [[nodiscard]] bool isActive() const { return m_active; }
    [[nodiscard]] Size size() const;
    // Waits up to `timeoutMs` for keys, a resize or a termination signal.
    [[nodiscard]] Event wait(int timeoutMs);
    // What wait() watches besides the keyboard: readable when a resize or termination signal came in, so an
    // event loop can wait on it and the keyboard together and then take the event with wait(0).
    [[nodiscard]] static int signalFd();
    void draw(const QList<ScreenLine>& lines);
    // The next draw() clears the screen and draws every row, not only the changed ones.
    void redrawAll() { m_drawnSize = {0, 0}; }
    // After a stop: raw keys, the alternate screen and the hidden cursor again, and a whole redraw.
    void resume();

    // Colour unless NO_COLOR is set or TERM is dumb; UTF-8 when the locale's character set is.
    [[nodiscard]] static bool colourWanted();
    [[nodiscard]] static Glyphs localeGlyphs();
    // The keys in a chunk of input; a lone Esc is `escape`, arrow sequences move the focus.
    [[nodiscard]] static QList<Key> keysOf(const QByteArray& input);
    // Reads the keys waiting on `fd`; input that ends inside an escape sequence (a lone Esc included) waits
    // up to kEscapeWaitMs for its rest, so an arrow split over a slow link is not taken for Esc.
    [[nodiscard]] static QList<Key> readKeys(int fd);
    static constexpr int kEscapeWaitMs = 25;
    // One row as bytes: SGR colours by role (none without colour), bold, then the reset.
    [[nodiscard]] static QByteArray encode(const ScreenLine& line, bool colour);

private:
    bool m_active = false;
    bool m_colour = true;
    Size m_drawnSize{0, 0};
    QList<QByteArray> m_drawn;
};

#pragma once

#include <QString>
#include <QStringList>

#include <variant>

// `tallyvane top`: the meter, live, in a terminal. It shows what `status` reads (the snapshot log on
// change, the history through its cache). When no other Tallyvane holds the collector lock it also runs the
// providers, as `--headless` does; with `--no-collect` or `--demo` it writes nothing.
namespace TopCommand {

struct Options
{
    bool demo = false;
    // Only read, even when no other Tallyvane collects.
    bool noCollect = false;
};

// The options after "top"; or the one-line reason they are wrong.
[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);

inline constexpr char notATerminal[] =
    "tallyvane: top needs a terminal; use tallyvane status --json --watch for scripts";
// With TERM dumb or unset the terminal may not move the cursor or have an alternate screen.
inline constexpr char dumbTerminal[] =
    "tallyvane: top needs a terminal that moves the cursor (TERM is %1); use tallyvane status --json --watch "
    "for scripts";

// Runs the view until a quit key or a termination signal; 2 when standard input or output is no terminal,
// or one that cannot move the cursor.
int run(const Options& options);

} // namespace TopCommand

#pragma once

#include <QString>
#include <QStringList>

#include <variant>

// `tallyvane top`: the meter, live, in a terminal. It reads what `status` reads (the snapshot log on
// change, the history through its cache) and writes nothing.
namespace TopCommand {

struct Options
{
    bool demo = false;
    // Accepted for scripts that must never start a provider; today `top` only reads in every case.
    bool noCollect = false;
};

// The options after "top"; or the one-line reason they are wrong.
[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);

inline constexpr char notATerminal[] =
    "tallyvane top needs a terminal; use tallyvane status --watch for scripts";

// Runs the view until a quit key or a termination signal; 2 when standard input or output is no terminal.
int run(const Options& options);

} // namespace TopCommand

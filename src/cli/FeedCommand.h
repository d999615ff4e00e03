#pragma once

#include "core/text/MachineFeed.h"

#include <QStringList>

#include <optional>
#include <variant>

// `tallyvane feed`: what another machine pulls over SSH (plumbing, not in --help): the snapshots this
// machine's log gained since the caller's cursor and its usage rows, as MachineFeed lines. Writes nothing
// but its history cache (and, once, the machine's id).
namespace FeedCommand {

struct Options
{
    std::optional<MachineFeed::Cursor> since;
    // Snapshot bytes sent at most in one run; the rest follows on the next pull.
    qint64 budget = 48 * 1024 * 1024;
};

[[nodiscard]] std::variant<Options, QString> parse(const QStringList& arguments);
int run(const Options& options);

} // namespace FeedCommand

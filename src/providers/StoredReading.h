#pragma once

#include "core/model/UsageSnapshot.h"

#include <optional>

// When a provider's new reading is worth a line in the log: readings repeat every poll, and a child or a
// server that answers in a loop must not fill the disk with copies.
namespace StoredReading {

// An unchanged reading is stored again after this long, so the log still shows the window was watched.
inline constexpr qint64 repeatSeconds = 300;

// Whether `reading` tells something `previous` (the last stored reading of its window) did not: a changed
// figure or reset time, another source, or `repeatSeconds` since.
bool isNews(const UsageSnapshot& reading, const std::optional<UsageSnapshot>& previous);

} // namespace StoredReading

#pragma once

#include <QString>

#include <optional>

// What every Tallyvane process does at its start and at its end, whatever face it shows.
namespace ProcessLife {

// Why this process must not touch the user's files (run as another user than the owner of Claude's folder
// or the data folder); absent when it may.
[[nodiscard]] std::optional<QString> startProblem();
// Lets an in-flight token refresh and the write-back of its new token finish (bounded by the token time-out).
void finishBeforeExit();

} // namespace ProcessLife

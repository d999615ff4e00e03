#pragma once

#include "core/model/Enums.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// Relative burn of each effort level and speed mode ("high" = 1.0); keys are lower-case.
namespace ScenarioMultipliers {

[[nodiscard]] const QHash<QString, double>& claudeEffort();
[[nodiscard]] const QHash<QString, double>& codexEffort();
[[nodiscard]] const QHash<QString, double>& codexSpeed();

// The effort table of the provider.
[[nodiscard]] const QHash<QString, double>& effort(Provider provider);
// Effort levels, lowest first.
[[nodiscard]] const QStringList& effortLadder(Provider provider);

// Case-insensitive look-ups; absent for an unknown key.
[[nodiscard]] std::optional<double> effortMultiplier(Provider provider, const QString& level);
[[nodiscard]] std::optional<double> speedMultiplier(const QString& mode);

} // namespace ScenarioMultipliers

#include "core/model/ScenarioMultipliers.h"

namespace ScenarioMultipliers {

// Function-local statics: built once, thread-safely, on first use.

const QHash<QString, double>& claudeEffort()
{
    static const QHash<QString, double> table{
        {QStringLiteral("low"), 0.55},  {QStringLiteral("medium"), 0.75}, {QStringLiteral("high"), 1.0},
        {QStringLiteral("xhigh"), 1.3}, {QStringLiteral("max"), 1.6},
    };
    return table;
}

const QHash<QString, double>& codexEffort()
{
    static const QHash<QString, double> table{
        {QStringLiteral("minimal"), 0.45}, {QStringLiteral("low"), 0.6},   {QStringLiteral("medium"), 0.8},
        {QStringLiteral("high"), 1.0},     {QStringLiteral("xhigh"), 1.3},
    };
    return table;
}

const QHash<QString, double>& codexSpeed()
{
    static const QHash<QString, double> table{
        {QStringLiteral("standard"), 1.0},
        {QStringLiteral("fast-gpt-5.5"), 2.5},
        {QStringLiteral("fast-gpt-5.4"), 2.0},
        {QStringLiteral("unknown-fast"), 2.0},
    };
    return table;
}

const QHash<QString, double>& effort(Provider provider)
{
    return provider == Provider::claude ? claudeEffort() : codexEffort();
}

const QStringList& effortLadder(Provider provider)
{
    static const QStringList claude{QStringLiteral("low"), QStringLiteral("medium"), QStringLiteral("high"),
                                    QStringLiteral("xhigh"), QStringLiteral("max")};
    // "minimal" has a multiplier but no step on the ladder.
    static const QStringList codex{QStringLiteral("low"), QStringLiteral("medium"), QStringLiteral("high"),
                                   QStringLiteral("xhigh")};
    return provider == Provider::claude ? claude : codex;
}

namespace {

std::optional<double> lookUp(const QHash<QString, double>& table, const QString& key)
{
    const auto it = table.constFind(key.toLower());
    if (it == table.constEnd())
        return std::nullopt;
    return it.value();
}

} // namespace

std::optional<double> effortMultiplier(Provider provider, const QString& level)
{
    return lookUp(effort(provider), level);
}

std::optional<double> speedMultiplier(const QString& mode)
{
    return lookUp(codexSpeed(), mode);
}

} // namespace ScenarioMultipliers

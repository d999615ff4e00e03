#pragma once

#include <QtGlobal>

#include <string_view>

// List prices for the token counts that transcripts record. Amounts are kept in nano-dollars (1e-9 USD):
// every listed price is a whole number of them per token, so sums are exact whatever their order.
namespace Pricing {

// US dollars per million tokens.
struct Rate
{
    double input = 0;
    double output = 0;
    double cacheRead = 0;
    double cacheWrite = 0;
};

// Nano-dollars per token, which is USD per million tokens times 1000.
struct NanoRate
{
    qint64 input;
    qint64 output;
    qint64 cacheRead;
    qint64 cacheWrite;
};

// By the model name: "opus", else "haiku" (case ignored), else Sonnet's prices, also for no name.
Rate claudeRate(std::string_view model);
const NanoRate& claudeNanoRate(std::string_view model);

qint64 claudeCostNanos(std::string_view model, qint64 input, qint64 output, qint64 cacheRead,
                       qint64 cacheCreation);
qint64 claudeCostNanos(const NanoRate& rate, qint64 input, qint64 output, qint64 cacheRead,
                       qint64 cacheCreation);

// Codex's output count already holds its reasoning tokens, so they are not priced a second time.
qint64 codexCostNanos(qint64 input, qint64 cachedInput, qint64 output);

constexpr double nanosToUsd(qint64 nanos)
{
    return static_cast<double>(nanos) / 1e9;
}

} // namespace Pricing

#include "history/Pricing.h"

#include "history/SaturatingMath.h"

#include <QString>

namespace {

using Pricing::NanoRate;

constexpr NanoRate opus{15000, 75000, 1500, 18750};
constexpr NanoRate haiku{800, 4000, 80, 1000};
constexpr NanoRate sonnet{3000, 15000, 300, 3750};

bool containsAsciiFolded(std::string_view text, std::string_view lowerWord)
{
    if (text.size() < lowerWord.size())
        return false;
    for (std::size_t i = 0; i + lowerWord.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < lowerWord.size()) {
            char c = text[i + k];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != lowerWord[k])
                break;
            ++k;
        }
        if (k == lowerWord.size())
            return true;
    }
    return false;
}

} // namespace

namespace Pricing {

const NanoRate& claudeNanoRate(std::string_view model)
{
    bool ascii = true;
    for (const char c : model)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) {
        // Full lower-casing, where a non-ASCII letter can fold into one of the words.
        const QString lower = QString::fromUtf8(model.data(), static_cast<qsizetype>(model.size())).toLower();
        if (lower.contains(QLatin1String("opus")))
            return opus;
        return lower.contains(QLatin1String("haiku")) ? haiku : sonnet;
    }
    if (containsAsciiFolded(model, "opus"))
        return opus;
    return containsAsciiFolded(model, "haiku") ? haiku : sonnet;
}

Rate claudeRate(std::string_view model)
{
    const NanoRate& rate = claudeNanoRate(model);
    return {rate.input / 1000.0, rate.output / 1000.0, rate.cacheRead / 1000.0, rate.cacheWrite / 1000.0};
}

qint64 claudeCostNanos(std::string_view model, qint64 input, qint64 output, qint64 cacheRead,
                       qint64 cacheCreation)
{
    return claudeCostNanos(claudeNanoRate(model), input, output, cacheRead, cacheCreation);
}

qint64 claudeCostNanos(const NanoRate& rate, qint64 input, qint64 output, qint64 cacheRead,
                       qint64 cacheCreation)
{
    using namespace SaturatingMath;
    return add(add(mul(input, rate.input), mul(output, rate.output)),
               add(mul(cacheRead, rate.cacheRead), mul(cacheCreation, rate.cacheWrite)));
}

qint64 codexCostNanos(qint64 input, qint64 cachedInput, qint64 output)
{
    using namespace SaturatingMath;
    const qint64 uncached =
        add(input, cachedInput == std::numeric_limits<qint64>::min() ? std::numeric_limits<qint64>::max()
                                                                     : -cachedInput);
    return add(add(mul(uncached > 0 ? uncached : 0, 1250), mul(output, 10000)), mul(cachedInput, 125));
}

} // namespace Pricing

#include "core/model/StringPool.h"

OptionalText StringPool::intern(const OptionalText& text)
{
    if (!text)
        return text;
    const auto found = m_strings.constFind(*text);
    if (found != m_strings.constEnd())
        return *found;
    if (m_strings.size() >= maxEntries)
        return text;
    return *m_strings.insert(*text, text);
}

QString StringPool::intern(const QString& text)
{
    const auto found = m_strings.constFind(text);
    if (found != m_strings.constEnd())
        return **found;
    if (m_strings.size() >= maxEntries)
        return text;
    return **m_strings.insert(text, OptionalText(text));
}

void StringPool::intern(UsageSnapshot& s)
{
    s.source = intern(s.source);
    for (OptionalText* field : {&s.limitId, &s.limitName, &s.modelId, &s.modelDisplayName, &s.effortLevel,
                                &s.speedMode, &s.planType, &s.rateLimitReachedType, &s.account})
        *field = intern(*field);
}

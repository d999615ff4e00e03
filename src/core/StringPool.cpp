#include "core/StringPool.h"

QString StringPool::intern(const QString& text)
{
    const auto found = m_strings.constFind(text);
    if (found != m_strings.constEnd())
        return *found;
    if (m_strings.size() >= maxEntries)
        return text;
    return *m_strings.insert(text);
}

void StringPool::intern(UsageSnapshot& s)
{
    s.source = intern(s.source);
    for (std::optional<QString>* field : {&s.limitId, &s.limitName, &s.modelId, &s.modelDisplayName,
                                          &s.effortLevel, &s.speedMode, &s.planType, &s.rateLimitReachedType}) {
        if (*field)
            **field = intern(**field);
    }
}

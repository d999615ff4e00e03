#pragma once

#include "core/model/UsageSnapshot.h"

#include <QHash>
#include <QString>

// Lets equal texts share one allocation: a long log repeats a handful of sources, models and plans in
// every snapshot. Holds at most maxEntries different texts; beyond that a text is kept as it is.
class StringPool
{
public:
    static constexpr qsizetype maxEntries = 4096;

    // The pooled copy of `text` (sharing its data with every other pooled copy).
    QString intern(const QString& text);
    OptionalText intern(const OptionalText& text);
    // Pools every text field of the snapshot.
    void intern(UsageSnapshot& snapshot);
    void clear() { m_strings.clear(); }
    qsizetype size() const { return m_strings.size(); }

private:
    QHash<QString, OptionalText> m_strings;
};

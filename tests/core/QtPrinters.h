#pragma once

#include <QString>

#include <optional>
#include <ostream>

// Readable gtest failure messages for Qt strings.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const std::optional<QString>& text, std::ostream* out)
{
    if (text)
        PrintTo(*text, out);
    else
        *out << "(absent)";
}

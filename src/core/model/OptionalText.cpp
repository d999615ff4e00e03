#include "core/model/OptionalText.h"

OptionalText::OptionalText(const QString& text) : m_d(new Data(text)) {}

OptionalText::OptionalText(QString&& text) : m_d(new Data(std::move(text))) {}

OptionalText::OptionalText(const std::optional<QString>& text)
{
    if (text)
        m_d = new Data(*text);
}

const QString& OptionalText::value() const
{
    if (!m_d)
        throw std::bad_optional_access();
    return m_d->text;
}

std::optional<QString> OptionalText::toOptional() const
{
    if (!m_d)
        return std::nullopt;
    return m_d->text;
}

bool operator==(const OptionalText& a, const OptionalText& b)
{
    return a.m_d == b.m_d || (a && b && *a == *b);
}

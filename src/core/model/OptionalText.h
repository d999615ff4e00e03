#pragma once

#include <QExplicitlySharedDataPointer>
#include <QSharedData>
#include <QString>

#include <optional>
#include <type_traits>

// What an OptionalText is made from: whatever a QString is made from, other than a QString itself.
template <typename T>
concept QStringSource =
    std::is_constructible_v<QString, T&&> && !std::is_same_v<std::remove_cvref_t<T>, QString>;

class OptionalText;
// What an OptionalText compares with as text.
template <typename T>
concept ComparableText = std::is_constructible_v<QString, const T&> && !std::is_same_v<T, OptionalText> &&
                         !std::is_same_v<T, std::optional<QString>>;

// An optional text held as one pointer to shared, immutable data; reads like std::optional<QString>.
// A snapshot carries eight optional texts, mostly absent or the same in every snapshot of a log: as
// std::optional<QString> they cost 32 bytes each, as this 8, and the store lets equal texts share one
// allocation (a 350,000-snapshot log then needs about half the memory).
class OptionalText
{
public:
    OptionalText() = default;
    OptionalText(std::nullopt_t) {}                   // NOLINT(google-explicit-constructor)
    OptionalText(const QString& text);                // NOLINT(google-explicit-constructor)
    OptionalText(QString&& text);                     // NOLINT(google-explicit-constructor)
    OptionalText(const std::optional<QString>& text); // NOLINT(google-explicit-constructor)
    // Whatever a QString is made from ("text", QLatin1StringView, ...), as std::optional<QString> takes it.
    template <QStringSource T>
    OptionalText(T&& text)
        : OptionalText(QString(std::forward<T>(text))) // NOLINT(google-explicit-constructor)
    {}

    bool has_value() const { return bool(m_d); }
    explicit operator bool() const { return has_value(); }
    const QString& operator*() const
    {
        Q_ASSERT(m_d);
        return m_d->text;
    }
    const QString* operator->() const { return &**this; }
    // Throws std::bad_optional_access when absent, as std::optional does.
    const QString& value() const;
    QString value_or(const QString& fallback) const { return m_d ? m_d->text : fallback; }
    void reset() { m_d.reset(); }

    std::optional<QString> toOptional() const;
    operator std::optional<QString>() const { return toOptional(); } // NOLINT(google-explicit-constructor)

    friend bool operator==(const OptionalText& a, const OptionalText& b);
    // With anything a QString is made from (QString, "text", QLatin1StringView...).
    template <ComparableText T> friend bool operator==(const OptionalText& a, const T& b)
    {
        return a && *a == QString(b);
    }
    friend bool operator==(const OptionalText& a, const std::optional<QString>& b)
    {
        return a.has_value() == b.has_value() && (!a || *a == *b);
    }
    friend bool operator==(const OptionalText& a, std::nullopt_t) { return !a; }

private:
    struct Data : QSharedData
    {
        explicit Data(QString value) : text(std::move(value)) {}
        QString text;
    };
    QExplicitlySharedDataPointer<Data> m_d;
};

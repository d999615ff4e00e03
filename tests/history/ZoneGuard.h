#pragma once

#include <QByteArray>

#include <cstdlib>
#include <ctime>
#include <optional>

// Runs a test in an explicit time zone and restores the previous one afterwards.
class ZoneGuard
{
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* previous = std::getenv("TZ"))
            m_previous = QByteArray(previous);
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard()
    {
        if (m_previous)
            ::setenv("TZ", m_previous->constData(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ZoneGuard(const ZoneGuard&) = delete;
    ZoneGuard& operator=(const ZoneGuard&) = delete;

private:
    std::optional<QByteArray> m_previous;
};

#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <functional>

namespace TestSupport {

// The throwaway home every test process runs in; HOME and XDG_* point below it.
QString homePath();

// Spins the event loop until the predicate holds or the timeout passes; returns the predicate's last value.
inline bool waitFor(const std::function<bool()>& predicate, int timeoutMs = 5000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace TestSupport

#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into an orderly quit of the event loop, so that a logout, a closed
// terminal or Ctrl+C still saves pending settings and flushes the log. One per process.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    [[nodiscard]] bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void received(int signal);

private:
    QSocketNotifier* m_notifier = nullptr;
};

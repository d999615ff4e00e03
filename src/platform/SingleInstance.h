#pragma once

#include <QObject>
#include <QString>

#include <optional>

class QLocalServer;

// One running Tallyvane per user. The first process listens on an abstract-namespace local socket (nothing
// stale is left behind after a crash, and binding is atomic between two starts); a later start hands its
// request to the first one and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Request
    {
        show,
        toggle
    };
    Q_ENUM(Request)
    enum class Role
    {
        primary,
        secondary,
        failed
    };

    // The default name carries the user id and the data folder, so that two users on one machine never meet.
    explicit SingleInstance(QObject* parent = nullptr, QString name = defaultName());
    ~SingleInstance() override;

    // Becomes the primary instance, or delivers the request to the one already running.
    [[nodiscard]] Role claim(Request request, int timeoutMs = 2000);

    [[nodiscard]] QString name() const { return m_name; }
    [[nodiscard]] static QString defaultName();

    // The only words accepted from the socket; anything else is ignored.
    [[nodiscard]] static QString word(Request request);
    [[nodiscard]] static std::optional<Request> parse(const QByteArray& line);

Q_SIGNALS:
    void requestReceived(SingleInstance::Request request);

private:
    bool deliver(Request request, int timeoutMs);
    void acceptConnections();

    QString m_name;
    QLocalServer* m_server = nullptr;
};

#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class FileLock;
class QLocalServer;

// One running Tallyvane per user. The first process listens on a socket file in a folder only this user can
// enter and holds a lock beside it for its lifetime (so a socket left by a crash is known stale); a later
// start hands its request to the first one and ends. Both ends check the other's user id.
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

    // `name` is the socket file's path; the default follows the data folder in the user's private runtime
    // folder.
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
    enum class Delivery
    {
        delivered,
        nobody,
        foreign
    };
    Delivery deliver(Request request, int timeoutMs);
    void acceptConnections();

    QString m_name;
    QLocalServer* m_server = nullptr;
    std::unique_ptr<FileLock> m_lock;
    int m_open = 0;
};

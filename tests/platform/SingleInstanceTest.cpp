#include "platform/SingleInstance.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QLocalSocket>
#include <QUuid>

#include <unistd.h>

namespace {

// Every request a primary receives, in order.
struct Recorder
{
    explicit Recorder(SingleInstance& instance)
    {
        QObject::connect(&instance, &SingleInstance::requestReceived, &instance,
                         [this](SingleInstance::Request request) { requests.append(request); });
    }
    QList<SingleInstance::Request> requests;
};

QString uniqueName()
{
    return QStringLiteral("tallyvane-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Writes raw bytes to the primary's socket the way a foreign program could.
void sendRaw(const QString& name, const QByteArray& bytes)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    ASSERT_TRUE(socket.waitForBytesWritten(2000));
    // Give the primary's event loop time to read and drop us.
    TestSupport::waitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 500);
}

TEST(SingleInstance, DefaultNameCarriesTheUserIdAndFollowsTheDataFolder)
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QString prefix = QStringLiteral("tallyvane-%1-").arg(::getuid());
    QStringList names;
    for (const QByteArray& folder :
         {QByteArray("/tmp/a"), QByteArray("/tmp/b"), QByteArray("/tmp/a/"), QByteArray("/tmp/a/../a")}) {
        qputenv("XDG_DATA_HOME", folder);
        names.append(SingleInstance::defaultName());
    }
    qputenv("XDG_DATA_HOME", saved);
    for (const QString& name : names) {
        EXPECT_TRUE(name.startsWith(prefix)) << name.toStdString();
        // The abstract socket namespace allows 107 bytes.
        EXPECT_LT(name.size(), 100);
    }
    EXPECT_NE(names[0], names[1]);
    // The same folder however it is spelled.
    EXPECT_EQ(names[0], names[2]);
    EXPECT_EQ(names[0], names[3]);
}

TEST(SingleInstance, OnlyTheTwoWordsAreRequests)
{
    struct Row
    {
        QByteArray line;
        std::optional<SingleInstance::Request> request;
    };
    const Row rows[] = {
        {"show\n", SingleInstance::Request::show},
        {"toggle\n", SingleInstance::Request::toggle},
        {"show", SingleInstance::Request::show},
        {"Show\n", std::nullopt},
        {"show \n", std::nullopt},
        {" toggle\n", std::nullopt},
        {"toggle\n\n", std::nullopt},
        {"quit\n", std::nullopt},
        {"", std::nullopt},
        {QByteArray("show\0x\n", 7), std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(SingleInstance::parse(row.line), row.request) << row.line.toStdString();
}

// The second start's side is the session tests'; here what a foreign program could send. Which words count
// is parse's table above.
TEST(SingleInstance, ForeignBytesOnTheSocketAreIgnored)
{
    const QString name = uniqueName();
    SingleInstance first(nullptr, name);
    ASSERT_EQ(first.claim(SingleInstance::Request::show), SingleInstance::Role::primary);
    Recorder received(first);

    for (const QByteArray& bytes : {QByteArray("quit\n"), QByteArray(4096, 'x'), QByteArray("toggle")})
        sendRaw(name, bytes);
    // Served in order: once the proper request that follows arrives, the others have been dropped.
    sendRaw(name, "show\n");
    ASSERT_TRUE(TestSupport::waitFor([&] { return !received.requests.isEmpty(); }));
    EXPECT_EQ(received.requests, QList<SingleInstance::Request>{SingleInstance::Request::show});
}

TEST(SingleInstance, NameIsFreeAgainOnceThePrimaryIsGone)
{
    const QString name = uniqueName();
    {
        SingleInstance first(nullptr, name);
        ASSERT_EQ(first.claim(SingleInstance::Request::show), SingleInstance::Role::primary);
    }
    // An abstract socket leaves no file behind, so nothing stale blocks the next start.
    SingleInstance next(nullptr, name);
    EXPECT_EQ(next.claim(SingleInstance::Request::show, 300), SingleInstance::Role::primary);
}

} // namespace

#include "platform/SingleInstance.h"
#include "core/io/LocalFileStore.h"
#include "support/OtherUser.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QUuid>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
    return TestSupport::homePath() + QStringLiteral("/.runtime/test-") +
           QUuid::createUuid().toString(QUuid::Id128);
}

// A raw socket of `name`: a path, or (for a name without a leading slash) the abstract namespace, where the
// name lived before it was a file.
int rawSocket(const QString& name, bool listen)
{
    const QByteArray bytes = QFile::encodeName(name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const bool abstract = !bytes.startsWith('/');
    std::memcpy(address.sun_path + (abstract ? 1 : 0), bytes.constData(),
                std::min<size_t>(bytes.size(), 100));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + (abstract ? 1 : 0) +
                                               bytes.size() + (abstract ? 0 : 1));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const auto* raw = reinterpret_cast<const sockaddr*>(&address);
    const bool ok =
        listen ? ::bind(fd, raw, length) == 0 && ::listen(fd, 8) == 0 : ::connect(fd, raw, length) == 0;
    if (!ok)
        ::close(fd);
    return ok ? fd : -1;
}

// A listener of the other user at `name` that never answers.
std::unique_ptr<OtherUser::Process> foreignListener(const QString& name)
{
    return std::make_unique<OtherUser::Process>([name](int ready) {
        const int fd = rawSocket(name, true);
        (void)!::write(ready, fd >= 0 ? "1" : "0", 1);
        ::pause();
    });
}

// Whether the other user could connect to `name`; it then sends `bytes`.
bool foreignSend(const QString& name, const QByteArray& bytes)
{
    return OtherUser::run([&] {
               const int fd = rawSocket(name, false);
               if (fd < 0)
                   return 1;
               ::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
               ::usleep(100000);
               return 0;
           }) == 0;
}

// Writes raw bytes to the primary's socket the way a foreign program could.
void sendRaw(const QString& name, const QByteArray& bytes)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(bytes);
    ASSERT_TRUE(socket.waitForBytesWritten(2000));
    // Give the primary's event loop time to read and drop us.
    TestSupport::waitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }, 500);
}

// A proper request sent after whatever came before: it is the one request the primary saw.
void expectOnlyShowAfter(const QString& name, const Recorder& received)
{
    sendRaw(name, "show\n");
    ASSERT_TRUE(TestSupport::waitFor([&] { return !received.requests.isEmpty(); }));
    EXPECT_EQ(received.requests, QList<SingleInstance::Request>{SingleInstance::Request::show});
}

TEST(SingleInstance, DefaultNameIsAFileInAPrivateFolderAndFollowsTheDataFolder)
{
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QString runtime = QString::fromUtf8(savedRuntime);
    QStringList names;
    for (const QByteArray& folder :
         {QByteArray("/tmp/a"), QByteArray("/tmp/b"), QByteArray("/tmp/a/"), QByteArray("/tmp/a/../a")}) {
        qputenv("XDG_DATA_HOME", folder);
        names.append(SingleInstance::defaultName());
    }
    for (const QString& name : names) {
        EXPECT_TRUE(name.startsWith(runtime + QLatin1Char('/'))) << name.toStdString();
        // A socket path holds at most 107 bytes.
        EXPECT_LT(name.size(), 100);
    }
    EXPECT_NE(names[0], names[1]);
    // The same folder however it is spelled.
    EXPECT_EQ(names[0], names[2]);
    EXPECT_EQ(names[0], names[3]);

    // Without a runtime folder of our own that others cannot enter, a private one under the data folder.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    const QString fallback = data.path() + QStringLiteral("/Tallyvane/run/");
    for (const QByteArray& unusable : {QByteArray(), QByteArray("relative"), QByteArray("/tmp")}) {
        qputenv("XDG_RUNTIME_DIR", unusable);
        const QString name = SingleInstance::defaultName();
        EXPECT_TRUE(name.startsWith(fallback)) << name.toStdString();
        EXPECT_EQ(QFileInfo(fallback).permissions() & 0x0077, 0) << unusable.toStdString();
    }
    // A data folder too deep for a socket path there: still one instance, through a short private folder.
    qputenv("XDG_DATA_HOME", (data.path() + QLatin1Char('/') + QString(80, QLatin1Char('d'))).toUtf8());
    qunsetenv("XDG_RUNTIME_DIR");
    const QString deep = SingleInstance::defaultName();
    EXPECT_LE(QFile::encodeName(deep).size(), 107) << deep.toStdString();
    SingleInstance primary(nullptr, deep);
    EXPECT_EQ(primary.claim(SingleInstance::Request::show, 1000), SingleInstance::Role::primary);
    SingleInstance second(nullptr, deep);
    EXPECT_EQ(second.claim(SingleInstance::Request::show, 1000), SingleInstance::Role::secondary);
    qputenv("XDG_RUNTIME_DIR", savedRuntime);
    qputenv("XDG_DATA_HOME", savedData);
}

// Another account could squat the name so that no start ever became primary, or open and close the panel.
TEST(SingleInstance, AnotherUserCanNeitherTakeTheNameNorSendRequests)
{
    if (!OtherUser::available())
        GTEST_SKIP() << "playing another user takes root";
    const QString name = SingleInstance::defaultName();
    {
        const auto squatter = foreignListener(name);
        SingleInstance early(nullptr, name);
        EXPECT_EQ(early.claim(SingleInstance::Request::show, 500), SingleInstance::Role::primary);
    }
    SingleInstance first(nullptr, name);
    ASSERT_EQ(first.claim(SingleInstance::Request::show, 500), SingleInstance::Role::primary);
    Recorder received(first);
    EXPECT_FALSE(foreignSend(name, "toggle\n"));
    expectOnlyShowAfter(name, received);
}

// Where the folder lets another account in after all, each side checks who is at the other end.
TEST(SingleInstance, EachSideIgnoresAPeerOfAnotherUser)
{
    if (!OtherUser::available())
        GTEST_SKIP() << "playing another user takes root";
    QTemporaryDir open;
    QFile::setPermissions(open.path(), QFileDevice::Permissions(0x7777));
    const QString name = open.path() + QStringLiteral("/socket");
    const auto foreign = foreignListener(name);
    ASSERT_TRUE(foreign->ready());
    SingleInstance first(nullptr, name);
    ASSERT_EQ(first.claim(SingleInstance::Request::show, 500), SingleInstance::Role::primary);
    Recorder received(first);
    ::chmod(QFile::encodeName(name).constData(), 0777);
    EXPECT_TRUE(foreignSend(name, "toggle\n"));
    expectOnlyShowAfter(name, received);
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
    // A flood of silent connections is dropped within a second or so and does not shut out a proper request.
    std::vector<std::unique_ptr<QLocalSocket>> silent;
    for (int i = 0; i < 20; ++i) {
        silent.push_back(std::make_unique<QLocalSocket>());
        silent.back()->connectToServer(name);
    }
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(TestSupport::waitFor(
        [&] {
            return std::all_of(silent.begin(), silent.end(),
                               [](const auto& s) { return s->state() == QLocalSocket::UnconnectedState; });
        },
        3000));
    EXPECT_LT(clock.elapsed(), 1500);
    // Served in order: once the proper request that follows arrives, the others have been dropped.
    expectOnlyShowAfter(name, received);
}

TEST(SingleInstance, NameIsFreeAgainOnceThePrimaryIsGone)
{
    const QString name = uniqueName();
    {
        SingleInstance first(nullptr, name);
        ASSERT_EQ(first.claim(SingleInstance::Request::show), SingleInstance::Role::primary);
    }
    SingleInstance next(nullptr, name);
    EXPECT_EQ(next.claim(SingleInstance::Request::show, 300), SingleInstance::Role::primary);
    // A socket file a crash left behind, with no one holding the lock beside it, is stale and replaced.
    SingleInstance afterCrash(nullptr, uniqueName());
    ::close(rawSocket(afterCrash.name(), true));
    ASSERT_TRUE(QFileInfo::exists(afterCrash.name()));
    EXPECT_EQ(afterCrash.claim(SingleInstance::Request::show, 300), SingleInstance::Role::primary);
}

} // namespace

#pragma once

#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

// A real OpenSSH server on 127.0.0.1 for one test: its own host key, config and authorized key in a temporary
// folder, its sessions run with HOME and XDG_DATA_HOME in `remoteHome()` and PATH starting with `bin()`. The
// client side is a config with the aliases "devbox" and "devbox2" (this server), "refused" (a closed port)
// and "blackhole" (a port that takes the connection and never says a word), and `ssh()` runs the real ssh
// with it.
class SshServer
{
public:
    SshServer()
    {
        const QString sshd = QStringLiteral("/usr/sbin/sshd");
        if (!QFile::exists(sshd)) {
            m_problem = QStringLiteral("no /usr/sbin/sshd (openssh-server is not installed)");
            return;
        }
        // sshd insists on its privilege separation folder, which a fresh container may lack.
        if (::getuid() == 0)
            QDir().mkpath(QStringLiteral("/run/sshd"));
        const QString t = m_dir.path();
        QDir().mkpath(remoteHome() + QStringLiteral("/data/Tallyvane"));
        QDir().mkpath(bin());
        // The remote's PATH holds the tallyvane under test and the few tools the scripts use, never a
        // tallyvane installed on this machine.
        QDir().mkpath(tools());
        for (const char* tool : {"sh", "yes", "tr", "sleep", "printf", "echo", "cat"})
            QFile::link(QStandardPaths::findExecutable(QString::fromLatin1(tool)), tools() + '/' + tool);
        for (const char* key : {"hostkey", "userkey"})
            if (TestSupport::runProgram(QStringLiteral("ssh-keygen"),
                                        {"-q", "-t", "ed25519", "-N", "", "-f", t + '/' + key})
                    .exitCode != 0) {
                m_problem = QStringLiteral("ssh-keygen failed");
                return;
            }
        QFile::copy(t + "/userkey.pub", t + "/authorized_keys");
        const quint16 port = freePort();
        m_blackhole.listen(QHostAddress::LocalHost);
        const QString user = QString::fromLocal8Bit(::getpwuid(::getuid())->pw_name);
        TestSupport::writeFile(
            t + "/sshd_config",
            QStringLiteral("Port %1\nListenAddress 127.0.0.1\nHostKey %2/hostkey\n"
                           "AuthorizedKeysFile %2/authorized_keys\nPasswordAuthentication no\n"
                           "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
                           "PidFile %2/sshd.pid\nSetEnv HOME=%3 XDG_DATA_HOME=%3/data "
                           "PATH=%4:%5 TZ=UTC\n")
                .arg(port)
                .arg(t, remoteHome(), bin(), tools())
                .toUtf8());
        const QString hostKey = QString::fromUtf8(TestSupport::readFile(t + "/hostkey.pub")).trimmed();
        TestSupport::writeFile(t + "/known_hosts",
                               QStringLiteral("[127.0.0.1]:%1 %2\n").arg(port).arg(hostKey).toUtf8());
        QString config;
        const auto host = [&](const QString& alias, quint16 p) {
            config += QStringLiteral(
                          "Host %1\n  HostName 127.0.0.1\n  Port %2\n  User %3\n  IdentityFile %4/userkey\n"
                          "  IdentitiesOnly yes\n  UserKnownHostsFile %4/known_hosts\n"
                          "  StrictHostKeyChecking yes\n  LogLevel ERROR\n")
                          .arg(alias)
                          .arg(p)
                          .arg(user, t);
        };
        host(QStringLiteral("devbox"), port);
        host(QStringLiteral("devbox2"), port);
        host(QStringLiteral("refused"), freePort());
        host(QStringLiteral("blackhole"), m_blackhole.serverPort());
        TestSupport::writeFile(t + "/ssh_config", config.toUtf8());
        TestSupport::writeFile(
            ssh(), QStringLiteral("#!/bin/sh\nexec ssh -F %1/ssh_config \"$@\"\n").arg(t).toUtf8(),
            executable);

        m_sshd.setProcessChannelMode(QProcess::MergedChannels);
        m_sshd.start(sshd, {"-D", "-e", "-f", t + "/sshd_config"});
        m_sshd.waitForStarted(5000);
        const QDeadlineTimer ready(5000);
        while (!ready.hasExpired() && m_sshd.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            if (probe.waitForConnected(200))
                return;
            QThread::msleep(50);
        }
        m_sshd.waitForFinished(500);
        m_problem =
            QStringLiteral("sshd did not start: ") + QString::fromLocal8Bit(m_sshd.readAll()).trimmed();
    }
    ~SshServer()
    {
        m_sshd.terminate();
        m_sshd.waitForFinished(2000);
    }

    // Why the server cannot run here; empty when it runs.
    const QString& problem() const { return m_problem; }
    QString remoteHome() const { return m_dir.path() + QStringLiteral("/remote"); }
    QString remoteData() const { return remoteHome() + QStringLiteral("/data/Tallyvane"); }
    QString bin() const { return m_dir.path() + QStringLiteral("/bin"); }
    QString ssh() const { return m_dir.path() + QStringLiteral("/ssh"); }
    QString tools() const { return m_dir.path() + QStringLiteral("/tools"); }

    // The remote's `tallyvane`: the program itself, a script, or (empty) none at all.
    void installProgram(const QString& program) const
    {
        QFile::remove(bin() + QStringLiteral("/tallyvane"));
        if (!program.isEmpty())
            QFile::link(program, bin() + QStringLiteral("/tallyvane"));
    }
    void installScript(const QByteArray& script) const
    {
        QFile::remove(bin() + QStringLiteral("/tallyvane"));
        TestSupport::writeFile(bin() + QStringLiteral("/tallyvane"), "#!/bin/sh\n" + script, executable);
    }

private:
    static constexpr QFile::Permissions executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        return probe.serverPort();
    }

    QTemporaryDir m_dir;
    QProcess m_sshd;
    QTcpServer m_blackhole;
    QString m_problem;
};

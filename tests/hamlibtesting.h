// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers for tests that talk to Hamlib daemons: a scripted stand-in on a
// local port, a port that never completes a connection, and the real rigctld
// and rotctld as child processes.

#include <QByteArrayList>
#include <QEventLoop>
#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hamlibtesting {

// Accepts connections on 127.0.0.1, records every line received and answers
// each with what answer() returns (nothing when it is not set: a daemon that
// never answers).
class FakeDaemon : public QObject
{
public:
    FakeDaemon()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                m_client = socket;
                ++connections;
                // A long run sees many clients come and go.
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { take(socket); });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    void send(const QByteArray &bytes)
    {
        if (m_client)
            m_client->write(bytes);
    }
    void dropClient()
    {
        if (m_client)
            m_client->abort();
    }
    // The daemon stopped: nothing listens on its port until comeBack().
    void goAway()
    {
        m_port = port();
        m_server.close();
        dropClient();
        m_buffer.clear();
    }
    bool comeBack() { return m_server.listen(QHostAddress::LocalHost, m_port); }

    QByteArrayList lines;
    std::function<QByteArray(const QByteArray &line)> answer;
    int connections = 0;

private:
    void take(QTcpSocket *socket)
    {
        m_buffer += socket->readAll();
        int end;
        while ((end = m_buffer.indexOf('\n')) >= 0) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            lines << line;
            if (answer)
                socket->write(answer(line));
        }
    }

    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_buffer;
    quint16 m_port = 0;
};

// What rigctld and rotctld answer to \dump_state: a radio for 2 m and 70 cm
// with a 10 Hz step, and a rotator from -180 to 450 degrees.
inline const QByteArray rigDump = "1\n1\n0\n"
                                  "144000000 148000000 0x1ff -1 -1 0x3 0\n430000000 440000000 0x1ff -1 -1 0x3 0\n"
                                  "0 0 0 0 0 0 0\n"
                                  "144000000 148000000 0x1ff 5000 50000 0x3 0\n0 0 0 0 0 0 0\n"
                                  "0x1ff 10\n0 0\n0 0\ndone\n";
inline const QByteArray rotDump
    = "1\n1\nmin_az=-180.000000\nmax_az=450.000000\nmin_el=0.000000\nmax_el=90.000000\ndone\n";

// A listening port whose queue is full: a connection to it is never
// completed, as with a host that does not answer.
class BlackHole
{
public:
    BlackHole()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 0);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        for (int i = 0; i < 3; ++i) {
            auto *filler = new QTcpSocket;
            filler->connectToHost(QHostAddress::LocalHost, m_port);
            m_fillers << filler;
        }
        QTest::qWait(100);
    }
    ~BlackHole()
    {
        qDeleteAll(m_fillers);
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    QList<QTcpSocket *> m_fillers;
};

inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

inline bool daemonsInstalled()
{
    return !QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("rotctld")).isEmpty();
}

// One of Hamlib's daemons on 127.0.0.1, as a child process.
class Daemon
{
public:
    Daemon(const QString &program, const QStringList &arguments, quint16 port = freePort())
        : m_program(program)
        , m_arguments(arguments)
        , m_port(port)
    {
    }
    ~Daemon() { kill(); }

    // Starts it and waits until it takes connections.
    bool start()
    {
        m_process.start(m_program, m_arguments + QStringList {QStringLiteral("-T"), QStringLiteral("127.0.0.1"),
                                                               QStringLiteral("-t"), QString::number(m_port)});
        if (!m_process.waitForStarted(5000))
            return false;
        for (int attempt = 0; attempt < 100; ++attempt) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_port);
            if (probe.waitForConnected(100))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // For a failure's message: whether it still runs, and its last words.
    QString state()
    {
        const QString said = QString::fromLocal8Bit(m_process.readAllStandardError().right(300));
        return m_process.state() == QProcess::Running
            ? QStringLiteral("running; said: %1").arg(said)
            : QStringLiteral("exited with %1; said: %2").arg(m_process.exitCode()).arg(said);
    }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

    // One command as another program of the station would send it; the
    // answer's lines up to the first "RPRT" or the given count. It waits in
    // the event loop, not in a blocking read, so the station under test keeps
    // serving its own links (and their timeouts) while the probe waits.
    QByteArrayList ask(const QByteArray &command, int lines = 1) const
    {
        // Asked again from a check that runs whenever a loop idles (the
        // benchmarks' waits): that nested probe reads blocking, or each
        // probe's loop would start the next one.
        static int depth = 0;
        if (depth > 0)
            return askBlocking(command, lines);
        ++depth;
        // rigctld now and then closes a fresh connection on its first line
        // without a word (seen with Hamlib 4.5 under a full parallel suite):
        // that probe is asked again, as a second program of the station would.
        QByteArrayList answer;
        bool closedUnanswered = true;
        for (int attempt = 0; attempt < 3 && closedUnanswered; ++attempt)
            answer = askInLoop(command, lines, closedUnanswered);
        --depth;
        return answer;
    }

private:
    QByteArrayList askInLoop(const QByteArray &command, int lines, bool &closedUnanswered) const
    {
        closedUnanswered = false;
        QTcpSocket socket;
        QByteArrayList answer;
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        limit.start(3000);
        while (socket.state() != QAbstractSocket::ConnectedState && limit.isActive()
               && socket.state() != QAbstractSocket::UnconnectedState)
            loop.exec();
        if (socket.state() != QAbstractSocket::ConnectedState)
            return answer;
        socket.write(command + '\n');
        limit.start(3000);
        while (answer.size() < lines && limit.isActive()) {
            while (socket.canReadLine() && answer.size() < lines) {
                answer << socket.readLine().trimmed();
                if (answer.last().startsWith("RPRT"))
                    return answer;
            }
            if (answer.size() < lines && socket.state() == QAbstractSocket::ConnectedState)
                loop.exec();
            else
                break;
        }
        closedUnanswered = answer.isEmpty() && socket.error() == QAbstractSocket::RemoteHostClosedError;
        return answer;
    }

    QByteArrayList askBlocking(const QByteArray &command, int lines) const
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QByteArrayList answer;
        if (!socket.waitForConnected(3000))
            return answer;
        socket.write(command + '\n');
        while (answer.size() < lines && (socket.canReadLine() || socket.waitForReadyRead(3000))) {
            while (socket.canReadLine() && answer.size() < lines) {
                answer << socket.readLine().trimmed();
                if (answer.last().startsWith("RPRT"))
                    return answer;
            }
        }
        return answer;
    }

    QString m_program;
    QStringList m_arguments;
    quint16 m_port;
    QProcess m_process;
};

} // namespace hamlibtesting

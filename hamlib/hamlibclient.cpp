#include "hamlib/hamlibclient.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

// No daemon line is anywhere near this long; more without a newline is noise.
constexpr int maxLineLength = 4096;

QString shown(const QByteArray &line)
{
    QString text = QString::fromLatin1(line.left(200));
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return line.size() > 200 ? text + QStringLiteral("...") : text;
}

} // namespace

HamlibClient::HamlibClient(QObject *parent)
    : QObject(parent)
{
    m_connectTimer = new QTimer(this);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, &HamlibClient::onConnectTimeout);
    m_answerTimer = new QTimer(this);
    m_answerTimer->setSingleShot(true);
    connect(m_answerTimer, &QTimer::timeout, this, &HamlibClient::expire);
    m_quietTimer = new QTimer(this);
    m_quietTimer->setSingleShot(true);
    connect(m_quietTimer, &QTimer::timeout, this, &HamlibClient::finishRequest);
}

HamlibClient::~HamlibClient()
{
    close();
}

void HamlibClient::connectToDaemon(const hamlib::Address &address)
{
    close();
    m_address = address;
    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, &HamlibClient::onConnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &HamlibClient::onSocketError);
    connect(m_socket, &QTcpSocket::disconnected, this, &HamlibClient::onDisconnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &HamlibClient::readLines);
    m_connecting = true;
    m_connectTimer->start(m_connectTimeoutMs);
    m_socket->connectToHost(address.host, address.port);
}

void HamlibClient::close()
{
    m_connectTimer->stop();
    m_answerTimer->stop();
    m_quietTimer->stop();
    m_queue.clear();
    m_outstanding = false;
    m_buffer.clear();
    m_discarding = false;
    m_connecting = false;
    m_connected = false;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
}

void HamlibClient::onConnected()
{
    m_connectTimer->stop();
    m_connecting = false;
    m_connected = true;
    // Commands are single short lines; do not let them wait for more.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit connected();
}

void HamlibClient::giveUp(const QString &reason)
{
    close();
    emit connectFailed(reason);
}

void HamlibClient::onConnectTimeout()
{
    if (m_connecting)
        giveUp(QStringLiteral("no answer within %1 s").arg(m_connectTimeoutMs / 1000.0));
}

void HamlibClient::onSocketError()
{
    if (m_connecting) {
        giveUp(m_socket->errorString());
        return;
    }
    onDisconnected();
}

void HamlibClient::onDisconnected()
{
    if (!m_connected)
        return;
    close();
    emit connectionLost();
}

void HamlibClient::send(const Request &request)
{
    if (!m_connected)
        return;
    if (!request.key.isEmpty()) {
        for (auto it = m_queue.begin() + (m_outstanding ? 1 : 0); it != m_queue.end(); ++it) {
            if (it->key == request.key) {
                *it = request;  // the newest value wins, in the older one's place
                return;
            }
        }
    }
    if (int(m_queue.size()) - (m_outstanding ? 1 : 0) >= maxQueued) {
        m_queue.erase(m_queue.begin() + (m_outstanding ? 1 : 0));
        emit traffic(QStringLiteral("--command queue overflowed"));
    }
    m_queue.push_back(request);
    if (!m_outstanding)
        sendNext();
}

bool HamlibClient::hasPending(const QString &key) const
{
    for (const Request &request : m_queue)
        if (request.key == key)
            return true;
    return false;
}

void HamlibClient::sendNext()
{
    if (m_outstanding || m_queue.empty() || !m_connected)
        return;
    const Request &head = m_queue.front();
    m_outstanding = true;
    m_answerTimer->start(head.answerTimeoutMs);
    if (m_tracing)
        emit traffic(QStringLiteral("--sending to %1: %2").arg(target(), shown(head.command.trimmed())));
    m_socket->write(head.command);
}

void HamlibClient::finishRequest()
{
    m_answerTimer->stop();
    m_quietTimer->stop();
    if (m_outstanding && !m_queue.empty())
        m_queue.pop_front();
    m_outstanding = false;
    sendNext();
}

void HamlibClient::expire()
{
    if (!m_outstanding || m_queue.empty())
        return;
    const Request request = m_queue.front();
    m_quietTimer->stop();
    m_queue.pop_front();
    m_outstanding = false;
    emit answerMissing(request.command.trimmed());
    if (request.onExpired)
        request.onExpired();
    sendNext();
}

void HamlibClient::readLines()
{
    if (!m_socket)
        return;
    m_buffer += m_socket->readAll();
    if (m_discarding) {
        // The rest of a line already reported as too long.
        const int end = m_buffer.indexOf('\n');
        if (end < 0) {
            m_buffer.clear();
            return;
        }
        m_buffer.remove(0, end + 1);
        m_discarding = false;
    }
    int end;
    while (m_socket && (end = m_buffer.indexOf('\n')) >= 0) {
        QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        takeLine(line);
    }
    if (m_buffer.size() > maxLineLength) {
        emit badLine(m_buffer.left(maxLineLength));
        m_buffer.clear();
        m_discarding = true;
    }
}

void HamlibClient::takeLine(const QByteArray &line)
{
    if (m_tracing)
        emit traffic(QStringLiteral("--received from %1: %2").arg(target(), shown(line)));
    if (!m_outstanding || m_queue.empty()) {
        emit unexpectedLine(line);
        return;
    }
    // Copied: the handler may queue a new request, which can move the queue.
    const auto onLine = m_queue.front().onLine;
    const int quietMs = m_queue.front().quietMs;
    switch (onLine(line)) {
    case Answer::Done:
        finishRequest();
        break;
    case Answer::More:
        if (quietMs > 0)
            m_quietTimer->start(quietMs);
        break;
    case Answer::Bad:
        emit badLine(line);
        break;
    }
}

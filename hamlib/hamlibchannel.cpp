// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlib/hamlibchannel.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

// Qt stops taking bytes from the system beyond this until they are read, so
// a daemon that floods the line is held back by TCP rather than by memory.
constexpr qint64 socketBufferBytes = 64 * 1024;

} // namespace

TcpChannel::TcpChannel(const hamlib::Address &address, int connectTimeoutMs, QObject *parent)
    : HamlibChannel(parent)
    , m_address(address)
    , m_connectTimeoutMs(connectTimeoutMs)
    , m_socket(new QTcpSocket(this))
{
    m_socket->setReadBufferSize(socketBufferBytes);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        // Commands are single short lines; do not let them wait for more.
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        emit opened();
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this] {
        if (!m_connected)
            emit openFailed(m_socket->errorString());
        else if (std::exchange(m_connected, false))
            emit lost();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (std::exchange(m_connected, false))
            emit lost();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HamlibChannel::readyRead);
}

TcpChannel::~TcpChannel()
{
    abort();
}

void TcpChannel::abort()
{
    m_connected = false;
    m_socket->disconnect(this);
    m_socket->abort();
}

void TcpChannel::open()
{
    m_socket->connectToHost(m_address.host, m_address.port);
}

void TcpChannel::write(const QByteArray &bytes)
{
    m_socket->write(bytes);
}

qint64 TcpChannel::bytesAvailable() const
{
    return m_socket->bytesAvailable();
}

QByteArray TcpChannel::read(qint64 most)
{
    return m_socket->read(most);
}

void TcpChannel::closeAfter(const QByteArray &command)
{
    disconnect();
    setParent(nullptr);
    if (!m_connected) {
        deleteLater();
        return;
    }
    // Answers still unread would make the close a reset, which may throw
    // away the command before the daemon reads it; the socket lives on by
    // itself until the daemon has closed its end, or a few seconds.
    m_socket->disconnect(this);
    m_socket->readAll();
    m_socket->write(command);
    m_socket->flush();
    connect(m_socket, &QTcpSocket::readyRead, m_socket, [socket = m_socket] { socket->readAll(); });
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    QTimer::singleShot(3000, this, &QObject::deleteLater);
    m_socket->disconnectFromHost();
}

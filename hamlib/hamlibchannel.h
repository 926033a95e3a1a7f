// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlib/hamlibprotocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// Where a Hamlib client's command lines go and its answers come from: a
// daemon over TCP, or Hamlib linked into the program on a thread of its own.
// The client is the same either way, so are its checks and its messages.
class HamlibChannel : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Starts; opened() or openFailed() follows.
    virtual void open() = 0;
    // As messages name it: "localhost:4532", "Hamlib's FT-817 on /dev/ttyUSB0".
    virtual QString target() const = 0;
    // How long opening may take before it counts as failed.
    virtual int openTimeoutMs() const = 0;
    virtual void write(const QByteArray &bytes) = 0;
    virtual qint64 bytesAvailable() const = 0;
    virtual QByteArray read(qint64 most) = 0;
    // Ends at once, answers unread and commands unsent dropped; no signal follows.
    virtual void abort() = 0;
    // Writes one last command and ends once it is carried out; the channel
    // then deletes itself, whoever had it.
    virtual void closeAfter(const QByteArray &command) = 0;
    // The "--" trace is wanted; a channel with a trace of its own follows it.
    virtual void setTracing(bool on) { Q_UNUSED(on); }

signals:
    void opened();
    void openFailed(const QString &reason);
    // Gone while open; once.
    void lost();
    void readyRead();
    // The channel's own trace, begins with "--".
    void trace(const QString &text);
};

// A daemon over TCP.
class TcpChannel : public HamlibChannel
{
    Q_OBJECT

public:
    TcpChannel(const hamlib::Address &address, int connectTimeoutMs, QObject *parent = nullptr);
    ~TcpChannel() override;

    void open() override;
    QString target() const override { return hamlib::addressText(m_address); }
    int openTimeoutMs() const override { return m_connectTimeoutMs; }
    void write(const QByteArray &bytes) override;
    qint64 bytesAvailable() const override;
    QByteArray read(qint64 most) override;
    void abort() override;
    void closeAfter(const QByteArray &command) override;

private:
    hamlib::Address m_address;
    int m_connectTimeoutMs;
    class QTcpSocket *m_socket;
    bool m_connected = false;
};

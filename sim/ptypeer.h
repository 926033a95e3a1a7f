// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

class QSocketNotifier;

// The far end of a serial line for tests and demos: owns the master side of a
// pseudo-terminal whose slave path a SerialPort opens like any port. Runs on
// the thread it lives in (its event loop must run).
class PtyPeer : public QObject
{
    Q_OBJECT

public:
    explicit PtyPeer(QObject *parent = nullptr);
    ~PtyPeer() override;

    bool isOpen() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Every byte received from the port side since creation (or clearReceived()).
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

    // Writes the bytes to the port side at once.
    void send(const QByteArray &bytes);
    // Closes the master: the port side sees its device go away.
    void hangUp();
    // After a hang-up: a new pseudo-terminal, with a new slave path (the old
    // one may belong to someone else by now). What was received is kept.
    bool reopen();

    // Sends the pattern over and over at bytesPerSecond until totalBytes have
    // gone, from a thread of its own: a device pushes bytes whether or not
    // the program keeps up, and a full line only slows the flood down.
    void startFlood(const QByteArray &pattern, qint64 totalBytes, qint64 bytesPerSecond);
    void stopFlood();
    bool isFlooding() const { return m_flooding.load(); }
    // Bytes the floods have written so far: what the port side could take.
    qint64 floodedBytes() const { return m_flooded.load(); }

signals:
    void bytesReceived(const QByteArray &chunk);

protected:
    // Called for each chunk read from the master, after it is recorded.
    virtual void handleBytes(const QByteArray &chunk) { Q_UNUSED(chunk); }

private:
    bool openPty();
    void readMaster();

    int m_master = -1;
    int m_slaveKeeper = -1;  // keeps the slave open so the master never reads EIO
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_received;

    std::thread m_flood;
    std::atomic<bool> m_flooding {false};
    std::atomic<bool> m_stopFlood {false};
    std::atomic<qint64> m_flooded {0};
};

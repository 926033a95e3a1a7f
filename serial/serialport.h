// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "serial/openfailure.h"
#include "serial/serialtypes.h"

#include <QByteArray>
#include <QIODevice>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

class QSerialPort;
class QSocketNotifier;
class QTimer;

// One serial port, used from the GUI thread. Its QSerialPort lives on that
// thread and reads there; write() from any thread puts its bytes on the
// device at once (the descriptor is non-blocking) and leaves what the device
// cannot take yet to the GUI thread, in order; read() takes what has been
// received; readyRead() is delivered on the thread this object lives in. No
// thread of its own: a reply then wakes one thread, not two.
class SerialPort : public QObject
{
    Q_OBJECT

public:
    // Received bytes held for read() at most; older ones give way.
    static constexpr qsizetype maxIncomingBytes = 256 * 1024;

    explicit SerialPort(const QString &name, QObject *parent = nullptr);
    ~SerialPort() override;

    QString portName() const { return m_name; }

    // A value that does not go with the data bits or stop bits already held is
    // refused (false) and the previous value kept: 2 stop bits need 6 to 8
    // data bits, 1.5 stop bits need 5 data bits.
    void setBaudRate(BaudRateType rate) { m_parameters.baudRate = rate; }
    bool setDataBits(DataBitsType bits);
    void setFlowControl(FlowType flow) { m_parameters.flowControl = flow; }
    void setParity(ParityType parity) { m_parameters.parity = parity; }
    bool setStopBits(StopBitsType bits);

    BaudRateType baudRate() const { return m_parameters.baudRate; }
    DataBitsType dataBits() const { return m_parameters.dataBits; }
    FlowType flowControl() const { return m_parameters.flowControl; }
    ParityType parity() const { return m_parameters.parity; }
    StopBitsType stopBits() const { return m_parameters.stopBits; }

    // Opens the device with the parameters held now; blocks until the I/O
    // thread has tried.
    bool open(QIODevice::OpenMode mode);
    // Sends every byte already handed over, then closes. Safe to call twice.
    void close();
    bool isOpen() const { return m_open; }
    // Why the last open() failed (None after a success), and one line for the
    // operator on what to do about it, empty when there is nothing to add.
    OpenFailure openFailure() const { return m_openFailure; }
    QString openFailureHint() const { return m_openFailureHint; }

    // Any thread. readyRead() waits until at least bytes have arrived, or
    // until the line has had twice the time to carry them since the first:
    // a reply of known length that comes a byte at a time then wakes its
    // reader once rather than once a byte. 1 (the default) tells at once.
    void setReadThreshold(qsizetype bytes);

    // Any thread. Returns at once with what has arrived (0 if nothing).
    qint64 read(char *data, qint64 maxSize);
    QByteArray readAll();
    // Any thread. Hands the bytes over for sending, in call order; returns the
    // count handed over, or -1 when the port is not open or its device is lost.
    qint64 write(const char *data, qint64 size);
    qint64 write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // Any thread. Discards what has been received and not yet read, and what
    // has been handed over and not yet sent (as tcflush does).
    bool flush();
    // Waits until every byte handed over so far has gone to the device, or
    // the time is up.
    bool waitForWritten(int msecs = 3000);

    // True once the device went away while open (reported once by connectionLost()).
    bool isLost() const { return m_lost.load(); }

protected:
    bool event(QEvent *event) override;

signals:
    void readyRead();
    // The device went away while the port was open (unplugged adapter, peer
    // of a pty closed). Emitted once per open; the port stops reading.
    void connectionLost();

private:
    void readIncoming();                        // the owner's thread, as every QSerialPort call
    void handleError(int error);
    void releaseIncoming();
    void postReadyRead();                       // m_bufferMutex held
    void sendHeld();                            // m_bufferMutex held
    void armWriteNotifier();
    bool drainHeld(int msecs);                  // m_bufferMutex held
    void closeDevice();

    QString m_name;
    SerialParameters m_parameters;
    bool m_open = false;
    OpenFailure m_openFailure = OpenFailure::None;
    QString m_openFailureHint;
    QSerialPort *m_port = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;  // on while the device holds writes back
    QTimer *m_hold = nullptr;  // bytes below the read threshold are told of when it fires
    int m_baud = 0;

    mutable QMutex m_bufferMutex;  // guards the descriptor's use, the buffers, the flags and the threshold
    int m_fd = -1;                 // -1 once closed or lost: never a number reused by another file
    QByteArray m_incoming;
    QByteArray m_outgoing;         // what the device could not take yet
    bool m_writePosted = false;
    bool m_readPosted = false;  // a readyRead() is on its way: bytes arriving meanwhile join it
    qsizetype m_readThreshold = 1;
    std::atomic<bool> m_acceptingWrites{false};
    std::atomic<bool> m_lost{false};
};

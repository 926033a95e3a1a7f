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

class QThread;
class SerialPortIo;

// One serial port, used from the GUI thread, with a QSerialPort that lives in
// an I/O thread of its own while the port is open. QSerialPort is not
// thread-safe, so every other thread reaches it only through queued calls:
// write() from any thread hands its bytes over in order and returns at once;
// read() takes what the I/O thread has already received; readyRead() is
// delivered on the thread this object lives in (the GUI thread).
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
    // count handed over, or -1 when the port is not open.
    qint64 write(const char *data, qint64 size);
    qint64 write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // Any thread. Discards what has been received and not yet read, and what
    // has been handed over and not yet sent (as tcflush does).
    bool flush();
    // Waits until every byte handed over so far has gone to the device, or
    // the time is up. Must not be called from the I/O thread.
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
    friend class SerialPortIo;
    // I/O thread; the read threshold when the bytes are held below it, 0 when readyRead() is on its way.
    qsizetype takeIncoming(const QByteArray &bytes);
    void releaseIncoming();                      // I/O thread
    QByteArray takeOutgoing();                   // I/O thread
    void postReadyRead();                        // m_bufferMutex held
    void stopThread();

    QString m_name;
    SerialParameters m_parameters;
    bool m_open = false;
    OpenFailure m_openFailure = OpenFailure::None;
    QString m_openFailureHint;
    QThread *m_thread = nullptr;
    SerialPortIo *m_io = nullptr;
    QMutex m_ioMutex;  // held while the I/O thread is called or torn down

    mutable QMutex m_bufferMutex;  // guards m_incoming, m_outgoing, the two flags and the threshold
    QByteArray m_incoming;
    QByteArray m_outgoing;
    bool m_writePosted = false;
    bool m_readPosted = false;  // a readyRead() is on its way: bytes arriving meanwhile join it
    qsizetype m_readThreshold = 1;
    std::atomic<bool> m_acceptingWrites{false};
    std::atomic<bool> m_lost{false};
};

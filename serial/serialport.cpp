// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMutexLocker>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <functional>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Qt's event queue synchronises inside QtCore, which a thread sanitizer cannot
// see when Qt is not built with it; each call handed to the owner's thread is
// marked.
struct CallEvent : QEvent {
    static QEvent::Type callType()
    {
        static const int type = QEvent::registerEventType();
        return QEvent::Type(type);
    }
    explicit CallEvent(std::function<void()> f)
        : QEvent(callType())
        , call(std::move(f))
    {
    }
    std::function<void()> call;
};

bool runCall(QEvent *event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#endif
    if (event->type() != CallEvent::callType())
        return false;
    auto *call = static_cast<CallEvent *>(event);
    call->call();
    return true;
}

void post(QObject *receiver, std::function<void()> f)
{
    auto *event = new CallEvent(std::move(f));
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#endif
    QCoreApplication::postEvent(receiver, event);
}

} // namespace

namespace {

// The other end hung up or the device node went away.
bool deviceGone(int fd)
{
    pollfd entry {fd, POLLIN, 0};
    if (::poll(&entry, 1, 0) < 0)
        return errno != EINTR;
    return (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

QSerialPort::DataBits toQt(DataBitsType bits)
{
    switch (bits) {
    case DATA_5: return QSerialPort::Data5;
    case DATA_6: return QSerialPort::Data6;
    case DATA_7: return QSerialPort::Data7;
    case DATA_8: break;
    }
    return QSerialPort::Data8;
}

QSerialPort::Parity toQt(ParityType parity)
{
    switch (parity) {
    case PAR_ODD: return QSerialPort::OddParity;
    case PAR_EVEN: return QSerialPort::EvenParity;
    case PAR_MARK: return QSerialPort::MarkParity;
    case PAR_SPACE: return QSerialPort::SpaceParity;
    case PAR_NONE: break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(StopBitsType bits)
{
    // 1.5 is only accepted with 5 data bits, where a UART sends two stop-bit
    // times as 1.5; Qt on Linux would take OneAndHalfStop and send 1.
    return bits == STOP_1 ? QSerialPort::OneStop : QSerialPort::TwoStop;
}

QSerialPort::FlowControl toQt(FlowType flow)
{
    switch (flow) {
    case FLOW_HARDWARE: return QSerialPort::HardwareControl;
    case FLOW_XONXOFF: return QSerialPort::SoftwareControl;
    case FLOW_OFF: break;
    }
    return QSerialPort::NoFlowControl;
}

} // namespace

int serialvalues::baudRateNumber(BaudRateType rate)
{
    static constexpr int numbers[] = {50,    75,    110,   134,   150,   200,    300,   600,
                                      1200,  1800,  2400,  4800,  9600,  14400,  19200, 38400,
                                      56000, 57600, 76800, 115200, 128000, 256000};
    const int index = int(rate);
    return index >= 0 && index < int(std::size(numbers)) ? numbers[index] : 0;
}

SerialPort::SerialPort(const QString &name, QObject *parent)
    : QObject(parent)
    , m_name(name)
{
}

bool SerialPort::event(QEvent *event)
{
    return runCall(event) || QObject::event(event);
}

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::setDataBits(DataBitsType bits)
{
    if ((bits == DATA_5 && m_parameters.stopBits == STOP_2)
        || (bits != DATA_5 && m_parameters.stopBits == STOP_1_5))
        return false;
    m_parameters.dataBits = bits;
    return true;
}

bool SerialPort::setStopBits(StopBitsType bits)
{
    if ((bits == STOP_2 && m_parameters.dataBits == DATA_5)
        || (bits == STOP_1_5 && m_parameters.dataBits != DATA_5))
        return false;
    m_parameters.stopBits = bits;
    return true;
}

bool SerialPort::open(QIODevice::OpenMode mode)
{
    if (m_open)
        return false;
    m_lost = false;
    auto *port = new QSerialPort(this);
    port->setPortName(m_name);
    port->setBaudRate(serialvalues::baudRateNumber(m_parameters.baudRate));
    port->setDataBits(toQt(m_parameters.dataBits));
    port->setParity(toQt(m_parameters.parity));
    port->setStopBits(toQt(m_parameters.stopBits));
    port->setFlowControl(toQt(m_parameters.flowControl));
    if (!port->open(mode)) {
        const QString device = openfailure::devicePath(m_name);
        m_openFailure = openfailure::classify(port->error(), openfailure::mayReadWrite(device));
        m_openFailureHint
            = openfailure::hint(m_openFailure, m_name, openfailure::deviceGroup(device), openfailure::userName());
        delete port;
        return false;
    }
    m_openFailure = OpenFailure::None;
    m_openFailureHint.clear();
    m_port = port;
    m_baud = serialvalues::baudRateNumber(m_parameters.baudRate);
    m_hold = new QTimer(this);
    m_hold->setSingleShot(true);
    m_hold->setTimerType(Qt::PreciseTimer);
    connect(m_hold, &QTimer::timeout, this, &SerialPort::releaseIncoming);
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::readIncoming);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { handleError(int(error)); });
    const int fd = int(m_port->handle());
    m_writeNotifier = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        QMutexLocker lock(&m_bufferMutex);
        sendHeld();
        if (m_outgoing.isEmpty())
            m_writeNotifier->setEnabled(false);
    });
    {
        QMutexLocker lock(&m_bufferMutex);
        m_fd = fd;
        m_incoming.clear();
        m_outgoing.clear();
        m_writePosted = false;
        m_readPosted = false;
    }
    m_acceptingWrites = true;
    m_open = true;
    return true;
}

void SerialPort::close()
{
    if (!m_port)
        return;
    {
        QMutexLocker lock(&m_bufferMutex);
        m_acceptingWrites = false;
        drainHeld(3000);
    }
    closeDevice();
    delete m_hold;
    m_hold = nullptr;
    delete m_port;
    m_port = nullptr;
    m_open = false;
}

// The descriptor is given up under the lock, so no writer on another thread
// can use its number after the close, when it may already name another file.
// Writes are refused from then on and the write watch goes with it: a port
// lost and not yet closed by its owner would otherwise arm it again on that
// number with each write.
void SerialPort::closeDevice()
{
    {
        QMutexLocker lock(&m_bufferMutex);
        m_acceptingWrites = false;
        m_fd = -1;
        m_outgoing.clear();
    }
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_port->isOpen())
        m_port->close();
}

void SerialPort::readIncoming()
{
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    qsizetype awaited = 0;
    {
        QMutexLocker lock(&m_bufferMutex);
        m_incoming.append(bytes.constData(), bytes.size());
        // A reader that cannot keep up loses the oldest bytes, as a UART
        // overruns, rather than the memory growing with a flood.
        if (m_incoming.size() > maxIncomingBytes)
            m_incoming.remove(0, m_incoming.size() - maxIncomingBytes);
        if (m_incoming.size() < m_readThreshold)
            awaited = m_readThreshold;
        else
            postReadyRead();
    }
    if (awaited == 0) {
        m_hold->stop();
    } else if (!m_hold->isActive()) {
        // Twice the line's time for the bytes (11 bits each at most), and a
        // few ms for the device's own pauses.
        m_hold->start(int(2 * awaited * 11 * 1000 / qMax(1, m_baud)) + 5);
    }
}

void SerialPort::handleError(int error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // Qt keeps a vanished device "open" and repeats the error as fast as it
    // can; closing here stops that, and the port reports it once.
    if (!m_port->isOpen())
        return;
    // A read that finds nothing (input discarded by a flush between the
    // notification and the read) raises these too, and Qt stops reading; the
    // device is still there, so reading resumes.
    if (!deviceGone(int(m_port->handle()))) {
        m_port->clearError();
        m_port->setReadBufferSize(m_port->readBufferSize());  // restarts the read notifier
        return;
    }
    closeDevice();
    if (m_lost.exchange(true))
        return;
    // Told from the event loop, not from inside Qt's error signal: a listener
    // may well close this port.
    post(this, [this] { emit connectionLost(); });
}

qint64 SerialPort::read(char *data, qint64 maxSize)
{
    QMutexLocker lock(&m_bufferMutex);
    const qint64 n = qMin<qint64>(maxSize, m_incoming.size());
    if (n <= 0)
        return 0;
    memcpy(data, m_incoming.constData(), size_t(n));
    m_incoming.remove(0, int(n));
    if (!m_incoming.isEmpty()) {
        // A reader that takes less than all must hear about the rest even if
        // nothing more arrives.
        postReadyRead();
    }
    return n;
}

QByteArray SerialPort::readAll()
{
    QMutexLocker lock(&m_bufferMutex);
    QByteArray bytes;
    bytes.swap(m_incoming);
    return bytes;
}

qint64 SerialPort::write(const char *data, qint64 size)
{
    QMutexLocker lock(&m_bufferMutex);
    if (!m_acceptingWrites)
        return -1;
    m_outgoing.append(data, int(size));
    sendHeld();
    if (!m_outgoing.isEmpty() && !m_writePosted) {
        // The notifier belongs to the owner's thread; posting under the lock
        // keeps close() from removing it between the check and the post.
        m_writePosted = true;
        post(this, [this] { armWriteNotifier(); });
    }
    return size;
}

void SerialPort::sendHeld()
{
    while (!m_outgoing.isEmpty() && m_fd >= 0) {
        const ssize_t n = ::write(m_fd, m_outgoing.constData(), size_t(m_outgoing.size()));
        if (n > 0) {
            m_outgoing.remove(0, qsizetype(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            m_outgoing.clear();  // the device is gone; the read side reports it
            return;
        } else {
            return;  // full for now: the write notifier goes on
        }
    }
}

void SerialPort::armWriteNotifier()
{
    QMutexLocker lock(&m_bufferMutex);
    m_writePosted = false;
    sendHeld();
    if (m_writeNotifier && !m_outgoing.isEmpty())
        m_writeNotifier->setEnabled(true);
}

bool SerialPort::drainHeld(int msecs)
{
    QElapsedTimer clock;
    clock.start();
    sendHeld();
    while (!m_outgoing.isEmpty() && m_fd >= 0) {
        const qint64 left = msecs - clock.elapsed();
        if (left <= 0)
            return false;
        pollfd entry {m_fd, POLLOUT, 0};
        if (::poll(&entry, 1, int(left)) < 0 && errno != EINTR)
            return false;
        if (entry.revents & (POLLHUP | POLLERR | POLLNVAL))
            return false;
        sendHeld();
    }
    return m_outgoing.isEmpty();
}

bool SerialPort::flush()
{
    QMutexLocker lock(&m_bufferMutex);
    m_incoming.clear();
    m_outgoing.clear();
    if (!m_acceptingWrites || m_fd < 0)
        return false;
    ::tcflush(m_fd, TCIOFLUSH);
    return true;
}

bool SerialPort::waitForWritten(int msecs)
{
    QMutexLocker lock(&m_bufferMutex);
    if (m_fd < 0)
        return false;
    return drainHeld(msecs);
}

void SerialPort::releaseIncoming()
{
    QMutexLocker lock(&m_bufferMutex);
    if (!m_incoming.isEmpty())
        postReadyRead();
}

void SerialPort::setReadThreshold(qsizetype bytes)
{
    QMutexLocker lock(&m_bufferMutex);
    m_readThreshold = qMax<qsizetype>(1, bytes);
}

void SerialPort::postReadyRead()
{
    // One notice at a time: a reader woken once takes everything there is.
    if (m_readPosted)
        return;
    m_readPosted = true;
    post(this, [this] {
        {
            QMutexLocker lock(&m_bufferMutex);
            m_readPosted = false;
        }
        emit readyRead();
    });
}

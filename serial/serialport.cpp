// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/serialport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>
#include <QSerialPort>
#include <QThread>
#include <QTimer>

#include <condition_variable>
#include <cerrno>
#include <functional>
#include <mutex>

#include <poll.h>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// Qt's event queue synchronises inside QtCore, which a thread sanitizer cannot
// see when Qt is not built with it; each call handed to another thread is
// marked, and a blocking call waits on a standard condition.
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
    std::mutex *doneMutex = nullptr;
    std::condition_variable *doneCondition = nullptr;
    bool *done = nullptr;
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
    if (call->done) {
        std::lock_guard lock(*call->doneMutex);
        *call->done = true;
        call->doneCondition->notify_all();
    }
    return true;
}

void post(QObject *receiver, std::function<void()> f, Qt::ConnectionType type)
{
    auto *event = new CallEvent(std::move(f));
    std::mutex doneMutex;
    std::condition_variable doneCondition;
    bool done = false;
    const bool blocking = type == Qt::BlockingQueuedConnection;
    if (blocking) {
        event->doneMutex = &doneMutex;
        event->doneCondition = &doneCondition;
        event->done = &done;
    }
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#endif
    QCoreApplication::postEvent(receiver, event);
    if (blocking) {
        std::unique_lock lock(doneMutex);
        doneCondition.wait(lock, [&] { return done; });
    }
}

} // namespace

// Lives in the port's I/O thread together with its QSerialPort; everything in
// it runs there.
class SerialPortIo : public QObject
{
public:
    explicit SerialPortIo(SerialPort *owner)
        : m_owner(owner)
    {
    }
    bool event(QEvent *e) override { return runCall(e) || QObject::event(e); }

    bool openPort(const QString &name, const SerialParameters &parameters, QIODevice::OpenMode mode,
                  OpenFailure &failure, QString &hint);
    void sendPending();
    void discard();
    bool drain(int msecs);
    void closePort();

private:
    void readIncoming();
    void handleError(QSerialPort::SerialPortError error);

    SerialPort *m_owner;
    QSerialPort *m_port = nullptr;
    QTimer *m_hold = nullptr;  // bytes below the read threshold are told of when it fires
    int m_baud = 0;
};

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

bool SerialPortIo::openPort(const QString &name, const SerialParameters &parameters, QIODevice::OpenMode mode,
                            OpenFailure &failure, QString &hint)
{
    m_port = new QSerialPort(this);
    m_port->setPortName(name);
    m_port->setBaudRate(serialvalues::baudRateNumber(parameters.baudRate));
    m_port->setDataBits(toQt(parameters.dataBits));
    m_port->setParity(toQt(parameters.parity));
    m_port->setStopBits(toQt(parameters.stopBits));
    m_port->setFlowControl(toQt(parameters.flowControl));
    if (!m_port->open(mode)) {
        const QString device = openfailure::devicePath(name);
        failure = openfailure::classify(m_port->error(), openfailure::mayReadWrite(device));
        hint = openfailure::hint(failure, name, openfailure::deviceGroup(device), openfailure::userName());
        delete m_port;
        m_port = nullptr;
        return false;
    }
    m_baud = serialvalues::baudRateNumber(parameters.baudRate);
    m_hold = new QTimer(this);
    m_hold->setSingleShot(true);
    m_hold->setTimerType(Qt::PreciseTimer);
    connect(m_hold, &QTimer::timeout, this, [this] { m_owner->releaseIncoming(); });
    connect(m_port, &QSerialPort::readyRead, this, &SerialPortIo::readIncoming);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialPortIo::handleError);
    return true;
}

void SerialPortIo::readIncoming()
{
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    const qsizetype awaited = m_owner->takeIncoming(bytes);
    if (awaited == 0) {
        m_hold->stop();
    } else if (!m_hold->isActive()) {
        // Twice the line's time for the bytes (11 bits each at most), and a
        // few ms for the device's own pauses.
        m_hold->start(int(2 * awaited * 11 * 1000 / qMax(1, m_baud)) + 5);
    }
}

void SerialPortIo::handleError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ReadError && error != QSerialPort::ResourceError)
        return;
    // Qt keeps a vanished device "open" and repeats the error as fast as it
    // can; closing here stops that, and the owner reports it once.
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
    m_port->close();
    if (m_owner->m_lost.exchange(true))
        return;
    SerialPort *owner = m_owner;
    post(owner, [owner] { emit owner->connectionLost(); }, Qt::QueuedConnection);
}

void SerialPortIo::sendPending()
{
    const QByteArray bytes = m_owner->takeOutgoing();
    if (!bytes.isEmpty() && m_port && m_port->isOpen())
        m_port->write(bytes);
}

void SerialPortIo::discard()
{
    if (m_port && m_port->isOpen())
        m_port->clear(QSerialPort::AllDirections);
}

bool SerialPortIo::drain(int msecs)
{
    sendPending();
    while (m_port && m_port->isOpen() && m_port->bytesToWrite() > 0) {
        if (!m_port->waitForBytesWritten(msecs))
            return false;
    }
    return true;
}

void SerialPortIo::closePort()
{
    drain(3000);
    if (m_port) {
        m_port->close();
        delete m_port;
        m_port = nullptr;
    }
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
    {
        QMutexLocker lock(&m_bufferMutex);
        m_incoming.clear();
        m_outgoing.clear();
        m_writePosted = false;
        m_readPosted = false;
    }
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("serial ") + m_name);
    m_io = new SerialPortIo(this);
    m_io->moveToThread(m_thread);
    m_thread->start();

    bool opened = false;
    SerialPortIo *io = m_io;
    const SerialParameters parameters = m_parameters;
    const QString name = m_name;
    OpenFailure failure = OpenFailure::None;
    QString hint;
    post(io, [&] { opened = io->openPort(name, parameters, mode, failure, hint); }, Qt::BlockingQueuedConnection);
    m_openFailure = failure;
    m_openFailureHint = hint;
    if (!opened) {
        stopThread();
        return false;
    }
    m_acceptingWrites = true;
    m_open = true;
    return true;
}

void SerialPort::close()
{
    if (!m_thread)
        return;
    {
        QMutexLocker lock(&m_bufferMutex);
        m_acceptingWrites = false;
    }
    {
        QMutexLocker ioLock(&m_ioMutex);
        SerialPortIo *io = m_io;
        post(io, [io] { io->closePort(); }, Qt::BlockingQueuedConnection);
    }
    stopThread();
    m_open = false;
}

void SerialPort::stopThread()
{
    QMutexLocker ioLock(&m_ioMutex);
    m_thread->quit();
    m_thread->wait();
    delete m_io;
    m_io = nullptr;
    delete m_thread;
    m_thread = nullptr;
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
    if (!m_writePosted) {
        // Posting under the lock keeps the order of hand-overs, and close()
        // cannot remove the I/O object between the check and the post.
        m_writePosted = true;
        SerialPortIo *io = m_io;
        post(io, [io] { io->sendPending(); }, Qt::QueuedConnection);
    }
    return size;
}

bool SerialPort::flush()
{
    QMutexLocker lock(&m_bufferMutex);
    m_incoming.clear();
    m_outgoing.clear();
    if (!m_acceptingWrites)
        return false;
    SerialPortIo *io = m_io;
    post(io, [io] { io->discard(); }, Qt::QueuedConnection);
    return true;
}

bool SerialPort::waitForWritten(int msecs)
{
    QMutexLocker ioLock(&m_ioMutex);
    if (!m_io || QThread::currentThread() == m_thread)
        return false;
    bool done = false;
    SerialPortIo *io = m_io;
    post(io, [&] { done = io->drain(msecs); }, Qt::BlockingQueuedConnection);
    return done;
}

qsizetype SerialPort::takeIncoming(const QByteArray &bytes)
{
    QMutexLocker lock(&m_bufferMutex);
    m_incoming.append(bytes.constData(), bytes.size());  // no buffer shared across threads
    // A reader that cannot keep up loses the oldest bytes, as a UART overruns,
    // rather than the memory growing with a flood.
    if (m_incoming.size() > maxIncomingBytes)
        m_incoming.remove(0, m_incoming.size() - maxIncomingBytes);
    if (m_incoming.size() < m_readThreshold)
        return m_readThreshold;
    postReadyRead();
    return 0;
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
    post(this,
         [this] {
             {
                 QMutexLocker lock(&m_bufferMutex);
                 m_readPosted = false;
             }
             emit readyRead();
         },
         Qt::QueuedConnection);
}

QByteArray SerialPort::takeOutgoing()
{
    QMutexLocker lock(&m_bufferMutex);
    m_writePosted = false;
    QByteArray bytes;
    bytes.swap(m_outgoing);
    return bytes;
}

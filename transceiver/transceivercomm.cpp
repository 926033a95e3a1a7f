// SPDX-License-Identifier: GPL-3.0-or-later
#include "transceiver/transceivercomm.h"

#include "serial/serialport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMutexLocker>

#include <chrono>


namespace {

constexpr int pauseAfterCommandMs = 20;
constexpr int maxReadBytes = 1024;

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

// Lives in the link's thread; whatever event reaches it, the link's outbox is
// emptied. The event itself is never looked at.
class TransceiverOutboxNotifier : public QObject
{
public:
    explicit TransceiverOutboxNotifier(TransceiverComm *link)
        : QObject(link)
        , m_link(link)
    {
    }

    bool event(QEvent *event) override
    {
        m_link->deliverDebugMessages();
        return QObject::event(event);
    }

private:
    TransceiverComm *m_link;
};

TransceiverCommThread::TransceiverCommThread(TransceiverComm *comm)
    : comm(comm)
{
}

void TransceiverCommThread::stop()
{
    stopRequested = true;
    {
        // Taking the mutex orders the wake after the worker's last look at the flag.
        std::lock_guard lock(comm->m_stateMutex);
    }
    comm->wakeWorker();
}

void TransceiverCommThread::run()
{
    TransceiverComm *link = comm;
    // The pause after a command is kept before the next one: a worker that
    // slept it out at once would wake once more each burst only to find the
    // queue empty (a readout tick is two commands, five times a second).
    std::chrono::steady_clock::time_point pauseEnds;
    for (;;) {
        QByteArray frame;
        int delayMs = 0;
        int replyBytes = 1;
        {
            QMutexLocker queueLock(&link->queueMutex);
            std::unique_lock stateLock(link->m_stateMutex);
            if (link->commandQueue.empty()) {
                if (stopRequested) {
                    stopRequested = false;
                    return;
                }
                queueLock.unlock();
                link->m_queueChanged.wait(stateLock);
                continue;
            }
            if (std::chrono::steady_clock::now() < pauseEnds) {
                queueLock.unlock();
                link->m_queueChanged.wait_until(stateLock, pauseEnds);
                continue;
            }
            CatCommand &head = *link->commandQueue.front();
            // Before the write, so that a fast reply is parsed in the right state.
            link->requestState = head.requestState;
            head.sent = true;
            frame = head.data;
            delayMs = head.delayMs;
            replyBytes = !head.awaitingReply                          ? 1
                : head.requestState == cat::RequestFrequency ? cat::frequencyReplySize
                                                              : cat::statusReplySize;
        }
        // Said before the write: its reply, posted from the port's thread,
        // must not reach the log ahead of it.
        if (link->m_tracing)
            link->postDebugMessage(QStringLiteral("--thread sending: %1").arg(hex(frame)));
        // The reply's bytes are handed over together, however the line delivers them.
        link->port->setReadThreshold(replyBytes);
        link->port->write(frame);

        if (delayMs > 0)
            msleep(static_cast<unsigned long>(delayMs));

        {
            // No time-out: a reply that never comes is cleared by the overflow rule.
            std::unique_lock stateLock(link->m_stateMutex);
            while (!stopRequested && link->headAwaitsReply())
                link->m_queueChanged.wait(stateLock);
        }
        link->port->setReadThreshold(1);  // anything else the radio says, at once
        {
            // The queue may have been emptied meanwhile; then its head is not ours.
            QMutexLocker queueLock(&link->queueMutex);
            std::lock_guard stateLock(link->m_stateMutex);
            if (!link->commandQueue.empty() && link->commandQueue.front()->sent)
                link->commandQueue.pop_front();
        }
        pauseEnds = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseAfterCommandMs);
    }
}

TransceiverComm::TransceiverComm(SerialPort *port)
    : port(port)
{
    m_outboxNotifier = new TransceiverOutboxNotifier(this);
    worker = new TransceiverCommThread(this);
    connect(port, &SerialPort::readyRead, this, &TransceiverComm::transceiverReceiveSlot);
    worker->start();
}

TransceiverComm::~TransceiverComm()
{
    if (worker->isRunning()) {
        worker->stop();
        if (QThread::currentThread() != worker)
            worker->wait();
    }
    // Under the queue lock, which the worker held last: this also orders its
    // final writes before the delete for tools that cannot see QThread::wait().
    clearQueue();
    delete worker;
    // The worker only handed its last frames over; wait until they are on the line.
    port->waitForWritten();
    // Posted notices die with the notifier; the traces of the last frames must not.
    deliverDebugMessages();
}

void TransceiverComm::queueCommand(const QByteArray &frame, bool awaitingReply, int delayMs,
                                   qint8 requestState)
{
    auto command = std::make_unique<CatCommand>();
    command->data = frame;
    command->awaitingReply = awaitingReply;
    command->delayMs = delayMs;
    command->requestState = requestState;

    {
        QMutexLocker queueLock(&queueMutex);
        bool full = false;
        {
            std::lock_guard stateLock(m_stateMutex);
            full = int(commandQueue.size()) >= maxQueuedCommands;
        }
        std::unique_ptr<CatCommand> keying;
        if (full) {
            // The radio's key as last asked survives the overflow: an unkey
            // dropped here would leave the radio transmitting while the
            // station believes it receives.
            {
                std::lock_guard stateLock(m_stateMutex);
                for (auto it = commandQueue.rbegin(); it != commandQueue.rend(); ++it) {
                    const QByteArray &data = (*it)->data;
                    const bool ptt = data.size() == cat::frameSize
                        && (quint8(data.back()) == cat::pttOnCommand.opcode
                            || quint8(data.back()) == cat::pttOffCommand.opcode);
                    if (ptt) {
                        if (!(*it)->sent)
                            keying = std::make_unique<CatCommand>(**it);
                        break;
                    }
                }
            }
            // Also how the link recovers from a reply that never came.
            clearQueue();
            port->flush();
            replies.reset();
            emit debugMessage(QStringLiteral("--command queue overflowed"));
        }
        std::lock_guard stateLock(m_stateMutex);
        if (keying)
            commandQueue.push_back(std::move(keying));
        commandQueue.push_back(std::move(command));
    }
    wakeWorker();
}

void TransceiverComm::wakeWorker()
{
    // After the locks are released: a worker woken while they are still held
    // would only go back to sleep on them.
    m_queueChanged.notify_all();
}

void TransceiverComm::queueCommand(const cat::CommandTraits &command, const QByteArray &frame)
{
    queueCommand(frame, command.awaitingReply, command.delayMs, command.requestState);
}

void TransceiverComm::clearQueue()
{
    {
        QMutexLocker queueLock(&queueMutex);
        std::lock_guard stateLock(m_stateMutex);
        commandQueue.clear();
    }
    wakeWorker();
}

void TransceiverComm::catOn()
{
    queueCommand(cat::catOnCommand, cat::catOnFrame());
}

void TransceiverComm::catOff()
{
    queueCommand(cat::catOffCommand, cat::catOffFrame());
}

void TransceiverComm::requestFrequency()
{
    queueCommand(cat::requestFrequencyCommand, cat::requestFrequencyFrame());
}

void TransceiverComm::requestTxStatus()
{
    queueCommand(cat::requestTxStatusCommand, cat::requestTxStatusFrame());
}

void TransceiverComm::setFrequency(quint32 hz)
{
    // 1000 MHz and more would go out as some other frequency.
    if (!cat::frameCanCarry(hz))
        return;
    queueCommand(cat::setFrequencyCommand, cat::setFrequencyFrame(hz));
}

void TransceiverComm::setPtt(bool on)
{
    queueCommand(on ? cat::pttOnCommand : cat::pttOffCommand, cat::pttFrame(on));
}

QList<QByteArray> TransceiverComm::queuedFrames() const
{
    QMutexLocker queueLock(&queueMutex);
    std::lock_guard stateLock(m_stateMutex);
    QList<QByteArray> frames;
    for (const auto &command : commandQueue)
        frames << command->data;
    return frames;
}

void TransceiverComm::postDebugMessage(const QString &message)
{
    {
        std::lock_guard lock(m_outboxMutex);
        m_outbox << message;
    }
    QCoreApplication::postEvent(m_outboxNotifier, new QEvent(QEvent::User));
}

void TransceiverComm::deliverDebugMessages()
{
    QStringList messages;
    {
        std::lock_guard lock(m_outboxMutex);
        messages.swap(m_outbox);
    }
    for (const QString &message : std::as_const(messages))
        emit debugMessage(message);
}

bool TransceiverComm::headAwaitsReply() const
{
    return !commandQueue.empty() && commandQueue.front()->sent && commandQueue.front()->awaitingReply;
}

void TransceiverComm::releaseSentHead()
{
    {
        QMutexLocker queueLock(&queueMutex);
        std::lock_guard stateLock(m_stateMutex);
        // A head not yet written is a later query; a stray reply must not release it.
        if (commandQueue.empty() || !commandQueue.front()->sent)
            return;
        commandQueue.front()->awaitingReply = false;
    }
    wakeWorker();
}

void TransceiverComm::transceiverReceiveSlot()
{
    char buffer[maxReadBytes];
    const qint64 got = port->read(buffer, maxReadBytes);
    if (got > 0)
        takeReply(QByteArray(buffer, int(got)));
}

void TransceiverComm::takeReply(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return;
    const int state = requestState.load();
    if (m_tracing) {
        emit debugMessage(QStringLiteral("--received from transceiver (request state = %1): %2")
                              .arg(state)
                              .arg(hex(chunk)));
    }

    const cat::ReplyEvent event = replies.take(qint8(state), chunk);
    switch (event.kind) {
    case cat::ReplyEvent::Incomplete:
        break;
    case cat::ReplyEvent::Frequency:
        releaseSentHead();
        emit frequencyReceived(event.mhz);
        break;
    case cat::ReplyEvent::Status:
        releaseSentHead();
        emit statusReceived(event.transmitting);
        break;
    case cat::ReplyEvent::WrongFrequency:
        emit executionMessage(QStringLiteral("Wrong frequency message: %1").arg(hex(event.shown)));
        break;
    case cat::ReplyEvent::WrongStatus:
        emit executionMessage(QStringLiteral("Wrong status message: %1").arg(hex(event.shown)));
        break;
    case cat::ReplyEvent::Unexpected:
        emit executionMessage(QStringLiteral("Unexpected message: %1").arg(hex(event.shown)));
        break;
    }
}

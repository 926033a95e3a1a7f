// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transceiver/catframes.h"
#include "transceiver/catreply.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

class SerialPort;
class TransceiverComm;

// One queued CAT frame with what the worker needs to know about it.
struct CatCommand {
    QByteArray data;
    bool awaitingReply = false;  // cleared by the reply parser once the reply is complete
    int delayMs = 0;             // pause right after writing
    qint8 requestState = cat::RequestNone;
    bool sent = false;           // set by the worker when it writes the frame
};

// Writes the link's queued frames to the port one at a time and paces them.
class TransceiverCommThread : public QThread
{
public:
    explicit TransceiverCommThread(TransceiverComm *comm);

    // The worker then writes every frame still queued, without waiting for
    // replies, and ends.
    void stop();

protected:
    void run() override;

private:
    TransceiverComm *comm;
    std::atomic<bool> stopRequested {false};
};

// The link to the transceiver on an open serial port: a queue of CAT frames
// written by a worker thread, and a parser for the replies, which runs on the
// thread the link lives in (the GUI thread). The link only reads, writes and
// flushes the port; it neither opens nor closes it.
class TransceiverComm : public QObject
{
    Q_OBJECT

public:
    // Starts the worker at once. The port must outlive the link.
    explicit TransceiverComm(SerialPort *port);
    // Lets the worker write every frame still queued (with its pauses, without
    // waiting for replies), so that a CAT OFF queued just before is on the
    // line when this returns.
    ~TransceiverComm() override;

    static constexpr int maxQueuedCommands = 11;

    // Appends a frame and returns at once; called on the link's thread, like
    // the command operations below. The command after maxQueuedCommands
    // discards every queued one (a query waiting for its reply included),
    // flushes the port and becomes the only entry, after the last key or
    // unkey frame if that one was not yet written.
    void queueCommand(const QByteArray &frame, bool awaitingReply, int delayMs, qint8 requestState);
    void clearQueue();

    void catOn();
    void catOff();
    void requestFrequency();
    void requestTxStatus();
    // Refuses (queues nothing) a frequency the frame cannot carry; see
    // cat::frameCanCarry.
    void setFrequency(quint32 hz);
    void setPtt(bool on);

    // A snapshot of the queued frames, oldest first.
    QList<QByteArray> queuedFrames() const;

    // Handles one chunk received from the transceiver as the reply to what
    // was last written; transceiverReceiveSlot() reads the port and calls it.
    void takeReply(const QByteArray &chunk);
    // The traffic trace ("--thread sending", "--received from transceiver")
    // is on from construction. Off, the link neither formats it nor wakes
    // the link's thread for it: for a window that would only throw it away.
    void setTracing(bool on) { m_tracing = on; }
    bool isTracing() const { return m_tracing; }

    // Held by a caller that makes several queue operations one step for the
    // worker (emptying the queue and queuing CAT OFF before closing). Never
    // destroy the link while holding it: the destructor waits for the worker.
    mutable QRecursiveMutex queueMutex;

signals:
    void frequencyReceived(qreal frequency);
    void statusReceived(bool transceiving);
    void executionMessage(const QString &message);
    void debugMessage(const QString &message);

public slots:
    void transceiverReceiveSlot();

private:
    friend class TransceiverCommThread;
    friend class TransceiverOutboxNotifier;

    void queueCommand(const cat::CommandTraits &command, const QByteArray &frame);
    void releaseSentHead();
    void wakeWorker();  // with no lock held
    bool headAwaitsReply() const;  // m_stateMutex held
    void postDebugMessage(const QString &message);  // worker thread
    void deliverDebugMessages();                    // link's thread

    SerialPort *port;
    // Guarded by queueMutex and m_stateMutex together: writers hold both,
    // the worker may look while holding only m_stateMutex.
    std::deque<std::unique_ptr<CatCommand>> commandQueue;
    std::atomic<qint8> requestState {cat::RequestNone};
    std::atomic<bool> m_tracing {true};
    // Reply assembly; GUI thread only.
    cat::ReplyAssembler replies;
    // Not called "thread": that would hide QObject::thread().
    TransceiverCommThread *worker = nullptr;

    // The worker sleeps on m_queueChanged; every change to the queue or to a command's flags is made under
    // m_stateMutex and wakes it. Standard types rather than QMutex and
    // QWaitCondition: the latter relocks inside QtCore, where a thread
    // sanitizer cannot see it, and every later access would be reported.
    mutable std::mutex m_stateMutex;
    std::condition_variable m_queueChanged;

    // The worker's messages go to the link's thread through this outbox and
    // are emitted there. A queued signal would carry them just as well, but
    // through Qt's event queue, whose locking a thread sanitizer cannot see.
    std::mutex m_outboxMutex;
    QStringList m_outbox;
    QObject *m_outboxNotifier = nullptr;  // child; any event posted to it empties the outbox
};

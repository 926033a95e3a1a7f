// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hamlib/hamlibchannel.h"
#include "hamlib/hamlibprotocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class QTimer;

// A client of one Hamlib daemon (rigctld or rotctld), over TCP or linked in
// (see HamlibChannel), on the thread it lives in, driven by events: a line reader, one command on the wire at a
// time, a timer on the outstanding one. Nothing here blocks, and a daemon
// that floods the line gets a bounded share of the event loop and memory.
class HamlibClient : public QObject
{
    Q_OBJECT

public:
    // What a line means to the request that waits for it.
    enum class Answer {
        More,  // part of the answer; more lines follow
        Done,  // the answer is complete
        Bad,   // cannot belong to this request: it ends as failed at once
    };

    struct Request {
        QByteArray command;  // one line, ended by '\n'
        // Optional: makes the command when it goes, from what is known by
        // then (the daemon's limits, its VFO mode), in place of command.
        std::function<QByteArray()> makeCommand;
        std::function<Answer(const QByteArray &line)> onLine;
        // Optional: the request ended without a complete answer (a bad one,
        // none in time) or lapsed unsent.
        std::function<void()> onFailed;
        // A request with a key replaces a queued (not yet sent) one with the same key.
        QString key;
        // True: dropped, never sent late, when still queued a command
        // lifetime after it was made (a position or frequency meant then).
        bool lapses = false;
        int answerTimeoutMs = 0;  // 0: the client's
        // Above 0: the answer also ends this long after the last bytes of it
        // came (an answer of unknown length, as to a line the operator
        // typed), and then onQuiet is called if set.
        int quietMs = 0;
        std::function<void()> onQuiet;
        // Above 0: once its first bytes came, the answer may take this long
        // in all (a long one on a slow line) in place of the answer time-out.
        int longestMs = 0;
    };

    static constexpr int defaultConnectTimeoutMs = 5000;
    static constexpr int defaultAnswerTimeoutMs = 3000;
    static constexpr int defaultCommandLifetimeMs = 1000;
    static constexpr int maxQueued = 16;
    // After a failed request, lines still on their way (a late answer, the
    // rest of a garbled one) are let through for this long before the next
    // command goes, so that no answer is taken for the wrong command.
    static constexpr int settleMs = 100;
    // Lines taken in one turn of the event loop; then it turns again.
    static constexpr int maxLinesPerTurn = 50;
    static constexpr qint64 readChunk = 16 * 1024;

    explicit HamlibClient(QObject *parent = nullptr);
    ~HamlibClient() override;

    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    void setAnswerTimeout(int ms) { m_answerTimeoutMs = qMax(1, ms); }
    int answerTimeout() const { return m_answerTimeoutMs; }
    void setCommandLifetime(int ms) { m_commandLifetimeMs = qMax(1, ms); }
    // The traffic trace is formatted only while someone reads it.
    void setTracing(bool on);

    // Starts connecting; connected() or connectFailed() follows.
    void connectToDaemon(const hamlib::Address &address);
    // The same through a channel of another kind, which the client takes over.
    void connectThrough(HamlibChannel *channel);
    // Drops the connection and every request, without a signal.
    void close();
    // The same, with one last command written first and the connection
    // closed in order behind it, so that the daemon still carries it out.
    void closeAfter(const QByteArray &command);
    bool isConnected() const { return m_connected; }
    QString target() const { return m_target; }

    // Queues the request (dropped while not connected). The oldest queued
    // request gives way when maxQueued are waiting.
    void send(const Request &request);
    // True while a request with this key is queued or on the wire.
    bool hasPending(const QString &key) const;

signals:
    void connected();
    void connectFailed(const QString &reason);
    // Once per connection, after connected().
    void connectionLost();
    // A line that cannot answer the request on the wire (or too long to be any answer).
    void badLine(const QByteArray &line);
    // A line while nothing was asked, or after a failed request.
    void unexpectedLine(const QByteArray &line);
    void answerMissing(const QByteArray &command);
    // Every line out and every line taken as an answer, for the debug trace.
    void traffic(const QString &text);

private:
    struct Queued {
        Request request;
        QElapsedTimer made;
    };

    void onConnected();
    void onOpenFailed(const QString &reason);
    void onLost();
    void onConnectTimeout();
    void readLines();
    void scheduleRead();
    void takeLine(const hamlib::LineReader::Line &line);
    void answerProgressed();
    void sendNext();
    void finishRequest();
    void quietEnded();
    void failRequest();
    void expire();
    void settle();
    void settled();
    void giveUp(const QString &reason);

    QString m_target;
    HamlibChannel *m_channel = nullptr;
    QTimer *m_connectTimer = nullptr;
    QTimer *m_answerTimer = nullptr;
    QTimer *m_quietTimer = nullptr;
    QTimer *m_settleTimer = nullptr;
    int m_connectTimeoutMs = defaultConnectTimeoutMs;
    int m_answerTimeoutMs = defaultAnswerTimeoutMs;
    int m_commandLifetimeMs = defaultCommandLifetimeMs;
    bool m_tracing = true;
    bool m_connecting = false;
    bool m_connected = false;

    hamlib::LineReader m_reader;
    bool m_readScheduled = false;
    std::deque<Queued> m_queue;
    bool m_outstanding = false;  // the queue's head is on the wire
    bool m_answerBegun = false;  // bytes came since it went
    bool m_settling = false;
    QElapsedTimer m_settlingSince;
};

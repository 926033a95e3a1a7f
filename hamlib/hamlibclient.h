#pragma once

#include "hamlib/hamlibprotocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>

class QTcpSocket;
class QTimer;

// A client of one Hamlib daemon (rigctld or rotctld) over TCP, on the thread
// it lives in, driven by events: a line buffer, one command on the wire at a
// time, a timer on the outstanding one. Nothing here blocks.
class HamlibClient : public QObject
{
    Q_OBJECT

public:
    // What a line means to the request that waits for it.
    enum class Answer {
        More,  // part of the answer; more lines follow
        Done,  // the answer is complete
        Bad,   // not an answer to this request: reported, the request waits on
    };

    struct Request {
        QByteArray command;  // one line, ended by '\n'
        std::function<Answer(const QByteArray &line)> onLine;
        std::function<void()> onExpired;  // optional: no complete answer in time
        // A request with a key replaces a queued (not yet sent) one with the same key.
        QString key;
        int answerTimeoutMs = 60000;
        // Above 0: the answer also ends this long after its last line (an
        // answer of unknown length, as to a line the operator typed).
        int quietMs = 0;
    };

    static constexpr int defaultConnectTimeoutMs = 5000;
    static constexpr int maxQueued = 16;

    explicit HamlibClient(QObject *parent = nullptr);
    ~HamlibClient() override;

    void setConnectTimeout(int ms) { m_connectTimeoutMs = ms; }
    // The traffic trace is formatted only while someone reads it.
    void setTracing(bool on) { m_tracing = on; }

    // Starts connecting; connected() or connectFailed() follows.
    void connectToDaemon(const hamlib::Address &address);
    // Drops the connection and every request, without a signal.
    void close();
    bool isConnected() const { return m_connected; }
    QString target() const { return hamlib::addressText(m_address); }

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
    void badLine(const QByteArray &line);
    void unexpectedLine(const QByteArray &line);
    void answerMissing(const QByteArray &command);
    // Every line out and in, for the debug trace.
    void traffic(const QString &text);

private:
    void onConnected();
    void onSocketError();
    void onDisconnected();
    void onConnectTimeout();
    void readLines();
    void takeLine(const QByteArray &line);
    void sendNext();
    void finishRequest();
    void expire();
    void giveUp(const QString &reason);

    hamlib::Address m_address;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_connectTimer = nullptr;
    QTimer *m_answerTimer = nullptr;
    QTimer *m_quietTimer = nullptr;
    int m_connectTimeoutMs = defaultConnectTimeoutMs;
    bool m_tracing = true;
    bool m_connecting = false;
    bool m_connected = false;

    QByteArray m_buffer;
    bool m_discarding = false;  // dropping the rest of an overlong line
    std::deque<Request> m_queue;
    bool m_outstanding = false;  // the queue's head is on the wire
};

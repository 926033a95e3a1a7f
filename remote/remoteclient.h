// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <optional>

class QTimer;
class QWebSocket;

// One station's API (docs/api.md) seen from afar: connects, gives the token
// when asked, keeps the last state and the log, and sends commands. A
// station that goes away is tried again, waiting longer each time; one that
// refuses the token or speaks another major version is not, since trying
// again cannot change its answer.
class RemoteClient : public QObject
{
    Q_OBJECT

public:
    enum class Status {
        Idle,        // not opened yet
        Connecting,  // the first attempt, before the first state
        Connected,   // the state flows
        Silent,      // still connected, but no state for staleAfterMs: what is known is as it was
        Lost,        // went away or never answered: tried again later
        Refused,     // the station said no for good (token, version)
    };

    // Bounds on what the station may send; the server keeps within them.
    static constexpr qint64 maxMessageBytes = 16 * 1024;
    static constexpr int maxLogLines = 1000;
    static constexpr int firstRetryMs = 1000;
    static constexpr int lastRetryMs = 30000;
    // The station pushes its state at least every 400 ms. After a few beats
    // missed the client says so (a stopped or swamped station keeps its
    // connection open), and counts the seconds while it lasts.
    static constexpr int staleAfterMs = 3000;
    // This long without a state (from opening, or since the last) counts as
    // a lost connection, which a network that drops silently would never
    // report: a fresh one is tried. A station that was only stopped answers
    // that one once it runs again.
    static constexpr int silenceTimeoutMs = 10000;

    explicit RemoteClient(QObject *parent = nullptr);
    ~RemoteClient() override;

    // token: sent when the station asks for it; empty: none to give.
    void open(const QUrl &url, const QString &token = {});

    QUrl url() const { return m_url; }
    Status status() const { return m_status; }
    // Connected with the state flowing: commands go, what is shown is now.
    bool isConnected() const { return m_status == Status::Connected; }
    // Why the connection is lost or refused, worded for the operator.
    QString problem() const { return m_problem; }
    bool retryPending() const;
    // The wait before the pending attempt.
    int retryDelayMs() const;
    // The last state the station sent; empty before the first.
    const QJsonObject &state() const { return m_state; }
    const QStringList &log() const { return m_log; }

    // Sends one command (docs/api.md) with the given fields; false when not
    // connected. A refusal comes back as commandRefused.
    bool send(const QString &command, QJsonObject fields = {});

signals:
    void stateChanged();
    void logLine(const QString &line);
    void connectionChanged();
    void commandRefused(const QString &command, const QString &error);

private:
    void attempt();
    void quiet();
    void message(const QString &text);
    void disconnected();
    void fail(Status status, const QString &problem);
    void setStatus(Status status, const QString &problem = {});

    QWebSocket *m_socket;
    QTimer *m_retry;
    QTimer *m_answer;
    QTimer *m_quiet;                // from staleAfterMs, then every second
    QElapsedTimer m_sinceState;
    QUrl m_url;
    QString m_token;
    Status m_status = Status::Idle;
    QString m_problem;
    QJsonObject m_state;
    QStringList m_log;
    // The station's run and the last of its numbered log lines seen: what it
    // sends again after a reconnection is not shown twice.
    QString m_run;
    double m_lastLogNumber = 0;
    bool m_reached = false;  // this attempt got past the handshake
    int m_retryMs = firstRetryMs;
    int m_lastId = 0;
    QHash<int, QString> m_pending;  // command ids awaiting a reply, by name
};

namespace remote {

// The token kept in a file (remote.token as the station writes it): one
// line of printable ASCII, and a file of a few hundred bytes at most.
// std::nullopt, with why, when it cannot be read or is not one.
std::optional<QString> readToken(const QString &path, QString *error);

} // namespace remote

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <map>
#include <optional>
#include <utility>

class MessageThrottle;
class QTcpServer;
class QTcpSocket;

// What rigctld and rotctld have in common, for the station's servers that
// speak their protocols: listening, the clients and their bounds, and the
// lines in their short and long forms with default and extended responses.
class HamlibServer : public QObject
{
    Q_OBJECT

public:
    // A line longer than any command, or more unread answers than the system
    // holds for a client, closes that client alone, running nothing of it.
    static constexpr int longestLine = 256;
    static constexpr qint64 mostUnread = 64 * 1024;
    // What the system buffers for one client before its answers wait in the
    // server: a client that stops reading is closed after about this much
    // more than its own receive buffer.
    static constexpr int sendBuffer = 64 * 1024;
    static constexpr int mostLinesPerSecond = 200;
    // More at once are refused at connect: a station has a few such
    // programs, and each connection holds a descriptor.
    static constexpr int mostClients = 8;

    // Hamlib's return codes, as the daemons answer them.
    static constexpr int ok = 0;
    static constexpr int invalid = -1;        // RIG_EINVAL
    static constexpr int timedOut = -5;       // RIG_ETIMEOUT
    static constexpr int notAvailable = -11;  // RIG_ENAVAIL

    // One command of the protocol.
    struct Command {
        char shortName;        // 0: only the long form exists
        const char *longName;
        int arguments;         // what a set command takes
        const char *labels;    // a get's values in the extended response, '|' between; null for a set
    };
    // A line taken apart: its command (null for one not served), the
    // arguments, and the separator of an extended response. Without a
    // command name at all it asks nothing.
    struct Line {
        const Command *command = nullptr;
        QByteArrayList arguments;
        std::optional<char> separator;
        bool empty = false;
    };

    // kind: "rigctl" or "rotctl", as the log names the server.
    HamlibServer(const QString &kind, QObject *parent = nullptr);
    ~HamlibServer() override;

    bool isListening() const { return m_server != nullptr; }
    quint16 port() const;
    int clients() const { return int(m_clients.size()); }

    // One command line's whole answer, as a client would get it: "RPRT -11"
    // for a command not served, nothing for a line without one.
    QByteArray answer(const QByteArray &line);

    // Clients that connect and go are said once, then counted and summed up
    // each period, and once a minute while it goes on; a test may shorten
    // both to see the sums.
    void setComingsPeriods(int ms, int sustainedMs);

signals:
    void message(const QString &text);

protected:
    // A client's connection, from accept to its end; never 0.
    using ClientId = quint64;

    virtual const QList<Command> &commands() const = 0;
    // What the daemon's \dump_state gives, whole, to "done", with the values
    // labelled and separated by separator in the extended response.
    virtual QByteArray dumpState(std::optional<char> separator) const = 0;
    // The answer to a served command other than \dump_state, with all the
    // arguments it takes.
    virtual QByteArray answer(const Line &line) = 0;
    // What the daemon says to "q" before it closes.
    virtual QByteArray farewell() const { return {}; }
    // The client's connection ended: closed by it, reset, or closed by the
    // server for a fault or because it stops serving.
    virtual void clientGone(ClientId client, const QString &peer)
    {
        Q_UNUSED(client);
        Q_UNUSED(peer);
    }

    // The client whose line answer(Line) is answering; 0 outside it.
    ClientId currentClient() const { return m_current; }
    QString peer(ClientId client) const;
    // Called from answer(Line): the answer comes later, through answerHeld(),
    // and the client's next lines wait for it.
    void holdAnswer() { m_holding = true; }
    void answerHeld(ClientId client, const QByteArray &answer);

    // Listens, or stops when on is false; false with the reason logged.
    bool listen(bool on, const QString &address, quint16 port);
    static Line parse(const QByteArray &line, const QList<Command> &commands);
    // The answer to a served command: its values, or "RPRT result".
    static QByteArray reply(const Line &line, int result, const QByteArrayList &values);
    static const QList<Command> &rigCommands();
    // The \dump_state answers: a radio's ranges and finest step under a model
    // number; a rotator's travel, labelled as rotctld labels it when a
    // separator asks for the extended response.
    static QByteArray rigState(const QList<std::pair<double, double>> &ranges, double step, int model);
    static QByteArray rotatorState(std::pair<double, double> azimuth, std::pair<double, double> elevation,
                                   std::optional<char> separator = std::nullopt);

private:
    struct Client {
        QTcpSocket *socket = nullptr;
        QString peer;
        QElapsedTimer second;  // lines in the current second, against a flood
        int lines = 0;
        bool held = false;     // its answer still to come
    };
    void accept();
    void take(ClientId id);
    void send(ClientId id, const QByteArray &answer);
    void drop(ClientId id, const QString &why);
    void gone(ClientId id);

    QString m_kind;
    QTcpServer *m_server = nullptr;
    QString m_where;
    bool m_refusing = false;  // said once while clients are refused
    std::map<ClientId, Client> m_clients;
    ClientId m_lastClient = 0;
    ClientId m_current = 0;
    bool m_holding = false;
    MessageThrottle *m_comings;
    MessageThrottle *m_faults;
};

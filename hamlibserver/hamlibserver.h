// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

class QTcpServer;

// What rigctld and rotctld have in common, for the station's servers that
// speak their protocols: listening, the clients and their bounds, and the
// lines in their short and long forms with default and extended responses.
class HamlibServer : public QObject
{
    Q_OBJECT

public:
    // A line longer than any command, or more unread answers than any client
    // leaves, closes that client alone.
    static constexpr int longestLine = 256;
    static constexpr qint64 mostUnread = 64 * 1024;
    static constexpr int mostLinesPerSecond = 200;
    // More at once are refused at connect: a station has a few such
    // programs, and each connection holds a descriptor.
    static constexpr int mostClients = 8;

    // Hamlib's return codes, as the daemons answer them.
    static constexpr int ok = 0;
    static constexpr int invalid = -1;        // RIG_EINVAL
    static constexpr int notAvailable = -11;  // RIG_ENAVAIL

    // One command of the protocol.
    struct Command {
        char shortName;        // 0: only the long form exists
        const char *longName;
        int arguments;         // what a set command takes
        const char *labels;    // a get's values in the extended response, '|' between; null for a set
    };
    // A line taken apart: its command (null for one not served), the
    // arguments, and the separator of an extended response.
    struct Line {
        const Command *command = nullptr;
        QByteArrayList arguments;
        std::optional<char> separator;
    };

    // kind: "rigctl" or "rotctl", as the log names the server.
    HamlibServer(const QString &kind, QObject *parent = nullptr);

    bool isListening() const { return m_server != nullptr; }
    quint16 port() const;
    int clients() const;

    // One command line's whole answer, as a client would get it: "RPRT -11"
    // for a command not served.
    QByteArray answer(const QByteArray &line);

signals:
    void message(const QString &text);

protected:
    virtual const QList<Command> &commands() const = 0;
    // What the daemon's \dump_state gives, whole, to "done".
    virtual QByteArray dumpState() const = 0;
    // The answer to a served command other than \dump_state, with all the
    // arguments it takes.
    virtual QByteArray answer(const Line &line) = 0;
    // Listens, or stops when on is false; false with the reason logged.
    bool listen(bool on, const QString &address, quint16 port);
    static Line parse(const QByteArray &line, const QList<Command> &commands);
    // The answer to a served command: its values, or "RPRT result".
    static QByteArray reply(const Line &line, int result, const QByteArrayList &values);
    static const QList<Command> &rigCommands();
    // The \dump_state answers: a radio's ranges and finest step under a model
    // number; a rotator's travel.
    static QByteArray rigState(const QList<std::pair<double, double>> &ranges, double step, int model);
    static QByteArray rotatorState(std::pair<double, double> azimuth, std::pair<double, double> elevation);

private:
    void accept();

    QString m_kind;
    QTcpServer *m_server = nullptr;
    QString m_where;
    bool m_refusing = false;  // said once while clients are refused
};

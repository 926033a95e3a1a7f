// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlibserver/hamlibserver.h"

#include "links/messagethrottle.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <cctype>

namespace {

// A flood that goes on is summed up once a minute, as the links' are.
constexpr int sustainedFloodMs = 60 * 1000;

} // namespace

HamlibServer::HamlibServer(const QString &kind, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
    , m_comings(new MessageThrottle(kind + QStringLiteral(" clients: %1 more connected or gone, first: %2"), this))
    , m_faults(new MessageThrottle(kind + QStringLiteral(" clients: %1 more closed or refused, first: %2"), this))
{
    for (MessageThrottle *throttle : {m_comings, m_faults}) {
        throttle->setSustainedPeriod(sustainedFloodMs);
        connect(throttle, &MessageThrottle::message, this, &HamlibServer::message);
    }
}

HamlibServer::~HamlibServer()
{
    // The sockets go with this object; nothing of theirs may call back into
    // a server half destroyed.
    for (const auto &[id, client] : m_clients)
        client.socket->disconnect(this);
}

void HamlibServer::setComingsPeriods(int ms, int sustainedMs)
{
    for (MessageThrottle *throttle : {m_comings, m_faults}) {
        throttle->setPeriod(ms);
        throttle->setSustainedPeriod(sustainedMs);
    }
}

bool HamlibServer::listen(bool on, const QString &address, quint16 port)
{
    const QString where = QStringLiteral("%1:%2").arg(address).arg(port);
    if (on == isListening() && (!on || where == m_where))
        return true;
    delete m_server;
    m_server = nullptr;
    // The clients of the old address end with it, each as a client that went.
    while (!m_clients.empty()) {
        const ClientId id = m_clients.begin()->first;
        m_clients.begin()->second.socket->abort();
        gone(id);
    }
    m_where = where;
    if (!on)
        return true;
    auto *server = new QTcpServer(this);
    if (!server->listen(QHostAddress(address), port)) {
        emit message(QStringLiteral("cannot serve %1 on %2: %3").arg(m_kind, where, server->errorString()));
        delete server;
        return false;
    }
    m_server = server;
    connect(m_server, &QTcpServer::newConnection, this, &HamlibServer::accept);
    emit message(QStringLiteral("serving %1 on %2").arg(m_kind, where));
    return true;
}

quint16 HamlibServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QString HamlibServer::peer(ClientId client) const
{
    const auto found = m_clients.find(client);
    return found == m_clients.end() ? QString() : found->second.peer;
}

void HamlibServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        const QString peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (clients() >= mostClients) {
            // Said once a streak, and a reconnecting loop's streaks summed up.
            if (!m_refusing) {
                const QString text
                    = QStringLiteral("%1 client %2 refused: %3 clients already").arg(m_kind, peer).arg(mostClients);
                m_faults->report(text, text);
            }
            m_refusing = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_refusing = false;
        const ClientId id = ++m_lastClient;
        Client &client = m_clients[id];
        client.socket = socket;
        client.peer = peer;
        client.second.start();
        const QString text = QStringLiteral("%1 client %2 connected").arg(m_kind, peer);
        m_comings->report(text, text);
        socket->setReadBufferSize(longestLine * 4);
        // Answers a client leaves unread wait in the system only this long
        // before they count against mostUnread.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, sendBuffer);
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { take(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { gone(id); });
    }
}

// The client's lines in order, each answered before the next is read; a
// line whose answer is held waits with those behind it.
void HamlibServer::take(ClientId id)
{
    for (;;) {
        const auto found = m_clients.find(id);
        if (found == m_clients.end())
            return;
        Client &client = found->second;
        QTcpSocket *socket = client.socket;
        if (client.held || socket->state() != QAbstractSocket::ConnectedState)
            return;
        const QByteArray head = socket->peek(longestLine + 2);
        const qsizetype end = head.indexOf('\n');
        QByteArray text = end < 0 ? head : head.left(end);
        if (text.endsWith('\r'))
            text.chop(1);
        // Closed before any of it runs: its pieces are no commands.
        if (text.size() > longestLine)
            return drop(id, QStringLiteral("a line longer than %1 bytes").arg(longestLine));
        if (end < 0)
            return;
        socket->skip(end + 1);
        if (client.second.elapsed() > 1000) {
            client.second.restart();
            client.lines = 0;
        }
        if (++client.lines > mostLinesPerSecond)
            return drop(id, QStringLiteral("more than %1 commands a second").arg(mostLinesPerSecond));
        const QByteArray line = text.trimmed();
        if (line == "q" || line == "Q" || line == "\\quit") {
            send(id, farewell());
            socket->disconnectFromHost();
            return;
        }
        m_current = id;
        m_holding = false;
        const QByteArray answered = answer(line);
        m_current = 0;
        if (std::exchange(m_holding, false)) {
            const auto still = m_clients.find(id);
            if (still != m_clients.end())
                still->second.held = true;
            return;
        }
        send(id, answered);
    }
}

void HamlibServer::answerHeld(ClientId id, const QByteArray &answer)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end() || !found->second.held)
        return;
    found->second.held = false;
    send(id, answer);
    take(id);
}

void HamlibServer::send(ClientId id, const QByteArray &answer)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end() || answer.isEmpty())
        return;
    QTcpSocket *socket = found->second.socket;
    socket->write(answer);
    if (socket->bytesToWrite() > mostUnread)
        drop(id, QStringLiteral("it stopped reading"));
}

void HamlibServer::drop(ClientId id, const QString &why)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    const QString text = QStringLiteral("%1 client %2 closed: %3").arg(m_kind, found->second.peer, why);
    m_faults->report(text, text);
    found->second.socket->abort();
    gone(id);
}

void HamlibServer::gone(ClientId id)
{
    const auto found = m_clients.find(id);
    if (found == m_clients.end())
        return;
    const Client client = found->second;
    m_clients.erase(found);
    client.socket->disconnect(this);
    client.socket->deleteLater();
    const QString text = QStringLiteral("%1 client %2 gone").arg(m_kind, client.peer);
    m_comings->report(text, text);
    clientGone(id, client.peer);
}

QByteArray HamlibServer::answer(const QByteArray &text)
{
    const Line line = parse(text, commands());
    if (line.empty)
        return {};
    if (!line.command)
        return QByteArrayLiteral("RPRT -11\n");
    if (qstrcmp(line.command->longName, "dump_state") == 0) {
        if (!line.separator)
            return dumpState(std::nullopt);
        return "dump_state:" + QByteArray(1, *line.separator) + dumpState(line.separator) + "RPRT 0\n";
    }
    if (line.arguments.size() < line.command->arguments)
        return reply(line, invalid, {});
    return answer(line);
}

HamlibServer::Line HamlibServer::parse(const QByteArray &line, const QList<Command> &commands)
{
    // A leading punctuation mark asks for the extended response, its records
    // separated by it ('+' by line ends).
    Line parsed;
    QByteArray text = line;
    if (!text.isEmpty() && std::ispunct(uchar(text.at(0))) && !QByteArray("\\?_#").contains(text.at(0))) {
        parsed.separator = text.at(0) == '+' ? '\n' : text.at(0);
        text = text.mid(1).trimmed();
    }
    const bool longForm = text.startsWith('\\');
    QByteArrayList words;
    if (longForm) {
        words = text.mid(1).simplified().split(' ');
    } else if (!text.isEmpty()) {
        words << text.left(1);
        const QByteArray rest = text.mid(1).simplified();
        if (!rest.isEmpty())
            words += rest.split(' ');
    }
    // Nothing to run, or a comment: the daemons say nothing to it.
    if (words.isEmpty() || words.first().isEmpty() || words.first().startsWith('#')) {
        parsed.empty = true;
        return parsed;
    }
    for (const Command &command : commands) {
        const QByteArray &name = words.first();
        if (longForm ? name == command.longName : (name.size() == 1 && name.at(0) == command.shortName)) {
            parsed.command = &command;
            parsed.arguments = words.mid(1);
            break;
        }
    }
    return parsed;
}

QByteArray HamlibServer::reply(const Line &line, int result, const QByteArrayList &values)
{
    const Command &command = *line.command;
    if (!line.separator) {
        if (result != 0 || command.labels == nullptr)
            return "RPRT " + QByteArray::number(result) + '\n';
        return values.join('\n') + '\n';
    }
    QByteArrayList records;
    records << QByteArray(command.longName) + ':'
            + (line.arguments.isEmpty() ? QByteArray() : ' ' + line.arguments.join(' '));
    if (result == 0 && command.labels) {
        const QByteArrayList labels = QByteArray(command.labels).split('|');
        for (qsizetype i = 0; i < values.size() && i < labels.size(); ++i)
            records << labels.at(i) + ": " + values.at(i);
    }
    records << "RPRT " + QByteArray::number(result);
    return records.join(*line.separator) + '\n';
}

// What Hamlib's NET rigctl backend reads at connect (protocol 1, to "done"):
// the ranges, one tuning step, no functions.
QByteArray HamlibServer::rigState(const QList<std::pair<double, double>> &ranges, double step, int model)
{
    QByteArrayList lines {"1", "2", "0"};
    const auto rangeLines = [&](const char *power) {
        for (const auto &[low, high] : ranges)
            lines << QByteArray::number(low, 'f', 6) + ' ' + QByteArray::number(high, 'f', 6) + " 0x1ff " + power
                    + " 0x3 0x1";
        lines << "0 0 0 0 0 0 0";
    };
    rangeLines("-1 -1");
    rangeLines("5000 100000");
    lines << "0x1ff " + QByteArray::number(qint64(std::max(1.0, step))) << "0 0";
    lines << "0x1ff 2400" << "0 0";
    lines << "0" << "0" << "0" << "0" << "0 " << "0 ";
    lines << "0x0" << "0x0" << "0x0" << "0x0" << "0x0" << "0x0";
    lines << "vfo_ops=0x0" << "ptt_type=0x1" << "targetable_vfo=0x0" << "has_set_vfo=1" << "has_get_vfo=1"
          << "has_set_freq=1" << "has_get_freq=1" << "timeout=0" << "rig_model=" + QByteArray::number(model)
          << "rigctld_version=Vestrel " VESTREL_VERSION << "agc_levels=0=OFF" << "done";
    return lines.join('\n') + '\n';
}

QByteArray HamlibServer::rotatorState(std::pair<double, double> azimuth, std::pair<double, double> elevation,
                                      std::optional<char> separator)
{
    const auto degrees = [](double value) { return QByteArray::number(value, 'f', 6); };
    if (!separator)
        return "1\n1\nmin_az=" + degrees(azimuth.first) + "\nmax_az=" + degrees(azimuth.second)
            + "\nmin_el=" + degrees(elevation.first) + "\nmax_el=" + degrees(elevation.second)
            + "\nsouth_zero=0\nrot_type=AzEl\ndone\n";
    // rotctld labels each value in the extended response.
    const QByteArrayList records {"rotctld Protocol Ver: 1", "Rotor Model: 1",
                                  "Minimum Azimuth: " + degrees(azimuth.first),
                                  "Maximum Azimuth: " + degrees(azimuth.second),
                                  "Minimum Elevation: " + degrees(elevation.first),
                                  "Maximum Elevation: " + degrees(elevation.second),
                                  "South Zero: 0", "rot_type=AzEl", "done"};
    return records.join(*separator) + *separator;
}

// What rigctld answers that a station's radio has: the frequencies, mode,
// VFO, PTT and split, and what Hamlib's network client asks at connect.
const QList<HamlibServer::Command> &HamlibServer::rigCommands()
{
    static const QList<Command> commands {
        {'f', "get_freq", 0, "Frequency"},
        {'F', "set_freq", 1, nullptr},
        {'m', "get_mode", 0, "Mode|Passband"},
        {'M', "set_mode", 2, nullptr},
        {'v', "get_vfo", 0, "VFO"},
        {'V', "set_vfo", 1, nullptr},
        {'t', "get_ptt", 0, "PTT"},
        {'T', "set_ptt", 1, nullptr},
        {'s', "get_split_vfo", 0, "Split|TX VFO"},
        {'S', "set_split_vfo", 2, nullptr},
        {'i', "get_split_freq", 0, "TX Frequency"},
        {'I', "set_split_freq", 1, nullptr},
        {0, "get_powerstat", 0, "Power Status"},
        {0, "get_lock_mode", 0, "Locked"},
        {0, "chk_vfo", 0, nullptr},
        {0, "dump_state", 0, nullptr},
    };
    return commands;
}

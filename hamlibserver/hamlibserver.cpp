// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlibserver/hamlibserver.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cctype>
#include <memory>

HamlibServer::HamlibServer(const QString &kind, QObject *parent)
    : QObject(parent)
    , m_kind(kind)
{
}

bool HamlibServer::listen(bool on, const QString &address, quint16 port)
{
    const QString where = QStringLiteral("%1:%2").arg(address).arg(port);
    if (on == isListening() && (!on || where == m_where))
        return true;
    delete m_server;
    m_server = nullptr;
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

int HamlibServer::clients() const
{
    return m_server ? int(m_server->findChildren<QTcpSocket *>().size()) : 0;
}

void HamlibServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (clients() > mostClients) {
            if (!m_refusing)
                emit message(QStringLiteral("%1 client %2 refused: %3 clients already").arg(m_kind, peer).arg(mostClients));
            m_refusing = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_refusing = false;
        emit message(QStringLiteral("%1 client %2 connected").arg(m_kind, peer));
        socket->setReadBufferSize(longestLine * 4);
        // Lines in the current second, against a client that floods.
        struct Pace {
            QElapsedTimer second;
            int lines = 0;
        };
        auto pace = std::make_shared<Pace>();
        pace->second.start();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, pace, peer] {
            while (socket->state() == QAbstractSocket::ConnectedState) {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > longestLine) {
                        emit message(QStringLiteral("%1 client %2 closed: a line longer than %3 bytes")
                                         .arg(m_kind, peer)
                                         .arg(longestLine));
                        socket->abort();
                    }
                    return;
                }
                const QByteArray line = socket->readLine(longestLine + 1);
                if (pace->second.elapsed() > 1000) {
                    pace->second.restart();
                    pace->lines = 0;
                }
                if (++pace->lines > mostLinesPerSecond) {
                    emit message(QStringLiteral("%1 client %2 closed: more than %3 commands a second")
                                     .arg(m_kind, peer)
                                     .arg(mostLinesPerSecond));
                    socket->abort();
                    return;
                }
                const QByteArray trimmed = line.trimmed();
                if (trimmed == "q" || trimmed == "Q" || trimmed == "\\quit") {
                    socket->disconnectFromHost();
                    return;
                }
                socket->write(answer(trimmed));
                if (socket->bytesToWrite() > mostUnread) {
                    emit message(QStringLiteral("%1 client %2 closed: it stopped reading").arg(m_kind, peer));
                    socket->abort();
                    return;
                }
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, peer] {
            emit message(QStringLiteral("%1 client %2 gone").arg(m_kind, peer));
            socket->deleteLater();
        });
    }
}

QByteArray HamlibServer::answer(const QByteArray &text)
{
    const Line line = parse(text, commands());
    if (!line.command)
        return QByteArrayLiteral("RPRT -11\n");
    if (qstrcmp(line.command->longName, "dump_state") == 0)
        return dumpState();
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
    if (words.isEmpty())
        return parsed;
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

QByteArray HamlibServer::rotatorState(std::pair<double, double> azimuth, std::pair<double, double> elevation)
{
    return "1\n1\nmin_az=" + QByteArray::number(azimuth.first, 'f', 6) + "\nmax_az="
        + QByteArray::number(azimuth.second, 'f', 6) + "\nmin_el=" + QByteArray::number(elevation.first, 'f', 6)
        + "\nmax_el=" + QByteArray::number(elevation.second, 'f', 6) + "\nsouth_zero=0\nrot_type=AzEl\ndone\n";
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

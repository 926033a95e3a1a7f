// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlibserver/rigserver.h"

#include "links/transceiverlink.h"
#include "station/trackingcontrol.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <cctype>
#include <cmath>
#include <memory>

namespace {

// Hamlib's return codes, as rigctld answers them.
constexpr int ok = 0;
constexpr int invalid = -1;           // RIG_EINVAL
constexpr int notAvailable = -11;     // RIG_ENAVAIL

struct Command {
    char shortName;        // 0: only the long form exists
    const char *longName;
    int arguments;         // what a set command takes
    const char *labels;    // a get's values in the extended response, '|' between; null for a set
};

const Command commands[] = {
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
    {'q', "quit", 0, nullptr},
    {'Q', "quit", 0, nullptr},
};

const Command *find(const QByteArray &name, bool longForm)
{
    for (const Command &command : commands) {
        if (longForm ? name == command.longName : (name.size() == 1 && name.at(0) == command.shortName))
            return &command;
    }
    return nullptr;
}

std::optional<double> hertz(const QByteArray &text)
{
    bool parsed = false;
    const double hz = text.toDouble(&parsed);
    if (!parsed || !std::isfinite(hz) || hz <= 0 || hz > 1e11)
        return std::nullopt;
    return std::round(hz);
}

QByteArray number(double hz)
{
    return QByteArray::number(qint64(std::llround(hz)));
}

} // namespace

RigServer::RigServer(TrackingControl &station, QObject *parent)
    : QObject(parent)
    , m_station(station)
{
}

bool RigServer::apply(const ServerSettings &settings)
{
    if (settings == m_settings && settings.rigServer == isListening())
        return true;
    m_settings = settings;
    delete m_server;
    m_server = nullptr;
    if (!settings.rigServer)
        return true;
    auto *server = new QTcpServer(this);
    const QString where = QStringLiteral("%1:%2").arg(settings.rigAddress).arg(settings.rigPort);
    if (!server->listen(QHostAddress(settings.rigAddress), settings.rigPort)) {
        emit message(QStringLiteral("cannot serve rigctl on %1: %2").arg(where, server->errorString()));
        delete server;
        return false;
    }
    m_server = server;
    connect(m_server, &QTcpServer::newConnection, this, &RigServer::accept);
    emit message(QStringLiteral("serving rigctl on %1").arg(where));
    return true;
}

bool RigServer::isListening() const
{
    return m_server != nullptr;
}

quint16 RigServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

int RigServer::clients() const
{
    return m_server ? int(m_server->findChildren<QTcpSocket *>().size()) : 0;
}

void RigServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const QString peer = QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
        if (clients() > mostClients) {
            if (!m_refusing)
                emit message(QStringLiteral("rigctl client %1 refused: %2 clients already").arg(peer).arg(mostClients));
            m_refusing = true;
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_refusing = false;
        emit message(QStringLiteral("rigctl client %1 connected").arg(peer));
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
                        emit message(QStringLiteral("rigctl client %1 closed: a line longer than %2 bytes")
                                         .arg(peer)
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
                    emit message(QStringLiteral("rigctl client %1 closed: more than %2 commands a second")
                                     .arg(peer)
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
                    emit message(QStringLiteral("rigctl client %1 closed: it stopped reading").arg(peer));
                    socket->abort();
                    return;
                }
            }
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, peer] {
            emit message(QStringLiteral("rigctl client %1 gone").arg(peer));
            socket->deleteLater();
        });
    }
}

double RigServer::dialHz() const
{
    const DopplerSettings settings = m_station.dopplerSettings();
    if (settings.method != DopplerMethod::Specified)
        return std::round(settings.skedMHz * 1e6);
    // The radio's own frequency: the working one while it is tracked, the
    // readout otherwise. The radio rounds to its step, and its readout comes
    // a moment after a write: what a client set reads back as set until the
    // radio reports being somewhere else.
    const std::optional<double> radioHz = radioDialHz();
    const TransceiverLink *link = m_station.transceiver();
    const double step = link ? link->tuningStepHz() : 10;
    if (m_dialHz && (!radioHz || *radioHz == m_radioHzAtDial || std::fabs(*radioHz - *m_dialHz) <= step))
        return *m_dialHz;
    return radioHz ? std::round(*radioHz) : 0.0;
}

std::optional<double> RigServer::radioDialHz() const
{
    if (m_station.doppler().tracking())
        return m_station.doppler().workingMHz() * 1e6;
    const auto shown = m_station.shownFrequency();
    return shown ? std::optional(shown->mhz * 1e6) : std::nullopt;
}

int RigServer::setDial(double hz)
{
    DopplerSettings settings = m_station.dopplerSettings();
    if (settings.method != DopplerMethod::Specified) {
        settings.skedMHz = hz / 1e6;
        if (const auto refusal = m_station.skedRefusal(settings)) {
            emit message(QStringLiteral("rigctl client's %1 Hz not taken: %2").arg(number(hz), *refusal));
            return invalid;
        }
        if (settings != m_station.dopplerSettings())
            m_station.setDopplerSettings(settings);
    } else {
        if (!m_station.transceiver())
            return notAvailable;
        if (m_station.tuneRefusal(hz / 1e6))
            return invalid;
        m_station.tune(QString::number(hz / 1e6, 'f', 6));
    }
    m_radioHzAtDial = radioDialHz();
    m_dialHz = hz;
    return ok;
}

QByteArray RigServer::answer(const QByteArray &line)
{
    // A leading punctuation mark asks for the extended response, its records
    // separated by it ('+' by line ends).
    QByteArray text = line;
    std::optional<char> separator;
    if (!text.isEmpty() && std::ispunct(uchar(text.at(0))) && !QByteArray("\\?_#").contains(text.at(0))) {
        separator = text.at(0) == '+' ? '\n' : text.at(0);
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
    const Command *command = words.isEmpty() ? nullptr : find(words.first(), longForm);
    if (!command)
        return QByteArrayLiteral("RPRT -11\n");
    const QByteArrayList arguments = words.mid(1);
    const QByteArray name = command->longName;

    if (name == "dump_state")
        return dumpState();
    if (name == "chk_vfo")
        return separator ? QByteArrayLiteral("ChkVFO: 0\n") : QByteArrayLiteral("0\n");

    int result = ok;
    QByteArrayList values;
    if (command->labels == nullptr && arguments.size() < command->arguments) {
        result = invalid;
    } else if (name == "get_freq") {
        values << number(dialHz());
    } else if (name == "set_freq") {
        const auto hz = hertz(arguments.at(0));
        result = hz ? setDial(*hz) : invalid;
    } else if (name == "get_mode") {
        values << m_mode << m_passband;
    } else if (name == "set_mode") {
        // The station does not set modes; what the client chose reads back.
        m_mode = arguments.at(0).left(16);
        m_passband = arguments.at(1).left(16);
    } else if (name == "get_vfo") {
        values << "VFOA";
    } else if (name == "get_ptt") {
        values << (m_station.doppler().transmitting ? "1" : "0");
    } else if (name == "set_ptt") {
        result = m_station.key(arguments.at(0) != "0") ? ok : notAvailable;
    } else if (name == "get_split_vfo") {
        const bool split = m_station.isSplitActive();
        values << (split ? "1" : "0") << (split ? "VFOB" : "VFOA");
    } else if (name == "get_split_freq") {
        values << number(m_transmitHz.value_or(dialHz()));
    } else if (name == "set_split_freq") {
        const auto hz = hertz(arguments.at(0));
        if (hz)
            m_transmitHz = *hz;
        else
            result = invalid;
    } else if (name == "get_powerstat") {
        values << "1";
    } else if (name == "get_lock_mode") {
        values << "0";
        // rigctld 4.5 says RPRT after this value too; its clients read it.
        if (!separator)
            return QByteArrayLiteral("0\nRPRT 0\n");
    }
    // set_vfo and set_split_vfo are taken and change nothing: the station
    // keeps one VFO, and split is its method's.

    if (!separator) {
        if (result != ok || command->labels == nullptr)
            return "RPRT " + QByteArray::number(result) + '\n';
        return values.join('\n') + '\n';
    }
    QByteArrayList records;
    records << name + ':' + (arguments.isEmpty() ? QByteArray() : ' ' + arguments.join(' '));
    if (result == ok && command->labels) {
        const QByteArrayList labels = QByteArray(command->labels).split('|');
        for (qsizetype i = 0; i < values.size() && i < labels.size(); ++i)
            records << labels.at(i) + ": " + values.at(i);
    }
    records << "RPRT " + QByteArray::number(result);
    return records.join(*separator) + '\n';
}

// What Hamlib's NET rigctl backend reads at connect (protocol 1, to "done"):
// the radio's ranges as its link knows them, one tuning step, no functions.
QByteArray RigServer::dumpState() const
{
    const TransceiverLink *link = m_station.transceiver();
    const auto ranges = link ? link->frequencyRanges() : QList<std::pair<double, double>> {{100e3, 4294967295.0}};
    const double step = link ? link->tuningStepHz() : 10;
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
          << "has_set_freq=1" << "has_get_freq=1" << "timeout=0" << "rig_model=2"
          << "rigctld_version=Vestrel " VESTREL_VERSION << "agc_levels=0=OFF" << "done";
    return lines.join('\n') + '\n';
}

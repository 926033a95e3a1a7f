// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlibserver/rigserver.h"

#include "links/transceiverlink.h"
#include "station/trackingcontrol.h"

#include <QTimer>

#include <cmath>
#include <memory>

namespace {

// The VFO names rigctld takes for "V"; others it refuses.
const QByteArrayList vfoNames {"VFOA", "VFOB", "VFOC", "currVFO", "Main", "Sub",
                               "RX", "MainA", "MainB", "SubA", "SubB"};

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
    : HamlibServer(QStringLiteral("rigctl"), parent)
    , m_station(station)
{
}

bool RigServer::apply(const ServerSettings &settings)
{
    return listen(settings.rigServer, settings.rigAddress, settings.rigPort);
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
        // Read back at once; the radio moves once the dial stood (WSJT-X
        // sets +55 Hz and back when it connects).
        m_station.setClientDial(hz);
    }
    m_radioHzAtDial = radioDialHz();
    m_dialHz = hz;
    return ok;
}

const QList<HamlibServer::Command> &RigServer::commands() const
{
    return rigCommands();
}

QByteArray RigServer::answer(const Line &line)
{
    const QByteArrayList &arguments = line.arguments;
    const QByteArray name = line.command->longName;
    if (name == "chk_vfo")
        return line.separator ? QByteArrayLiteral("ChkVFO: 0\n") : QByteArrayLiteral("0\n");

    int result = ok;
    QByteArrayList values;
    if (name == "get_freq") {
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
        const bool on = arguments.at(0) != "0";
        if (m_station.key(on)) {
            m_keyer = on ? currentClient() : 0;
            awaitKey(line, on);
            return {};
        }
        result = notAvailable;
    } else if (name == "set_vfo") {
        result = vfoNames.contains(arguments.at(0)) ? ok : invalid;
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
        if (!line.separator)
            return QByteArrayLiteral("0\nRPRT 0\n");
    }
    // A VFO and set_split_vfo are taken and change nothing: the station
    // keeps one VFO, and split is its method's.
    return reply(line, result, values);
}

// The client is answered once the radio says it is keyed (or unkeyed), as
// rigctld answers once its radio has taken the command: a program that
// starts its audio at "RPRT 0" sends none into a radio still receiving.
void RigServer::awaitKey(const Line &line, bool on)
{
    holdAnswer();
    const ClientId client = currentClient();
    auto *wait = new QTimer(this);
    wait->setSingleShot(true);
    const auto taken = [this, wait, client, line] {
        if (!wait->isActive())
            return;
        wait->stop();
        wait->deleteLater();
        answerHeld(client, reply(line, ok, {}));
    };
    // A radio that never says whether it transmits has taken the key once a
    // readout asked after it is answered: the second, where one asked before
    // it may still have been on its way.
    const auto saysItsState = std::make_shared<bool>(false);
    const auto readouts = std::make_shared<int>(0);
    const TransceiverLink *link = m_station.transceiver();
    connect(link, &TransceiverLink::statusReceived, wait, [taken, saysItsState, on](bool keyed) {
        *saysItsState = true;
        if (keyed == on)
            taken();
    });
    connect(link, &TransceiverLink::frequencyReceived, wait, [taken, saysItsState, readouts] {
        if (!*saysItsState && ++*readouts >= 2)
            taken();
    });
    connect(wait, &QTimer::timeout, this, [this, wait, client, line, on] {
        wait->deleteLater();
        const QString who = peer(client);
        if (who.isEmpty())
            return;  // gone meanwhile, and dealt with then
        emit message(QStringLiteral("rigctl client %1: the radio did not say it %2 within %3 s")
                         .arg(who, on ? QStringLiteral("keyed") : QStringLiteral("unkeyed"))
                         .arg(keyConfirmMs / 1000));
        // A key the client was told failed would have no keyer.
        if (on && m_keyer == client) {
            m_keyer = 0;
            m_station.key(false);
        }
        answerHeld(client, reply(line, timedOut, {}));
    });
    wait->start(keyConfirmMs);
    // Asked now rather than at the next readout, which a radio in Manual never
    // has; once this answer is held, for a link that answers at once.
    QMetaObject::invokeMethod(this, [this] { m_station.readout(); }, Qt::QueuedConnection);
}

void RigServer::clientGone(ClientId client, const QString &peer)
{
    if (client != m_keyer)
        return;
    m_keyer = 0;
    emit keyerGone(QStringLiteral("rigctl client %1 gone while keyed").arg(peer));
}

QByteArray RigServer::dumpState(std::optional<char>) const
{
    const TransceiverLink *link = m_station.transceiver();
    const auto ranges = link ? link->frequencyRanges() : QList<std::pair<double, double>> {{100e3, 4294967295.0}};
    return rigState(ranges, link ? link->tuningStepHz() : 10, 2);
}

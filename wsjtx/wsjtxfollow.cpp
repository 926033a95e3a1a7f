// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtx/wsjtxfollow.h"

#include "links/messagethrottle.h"
#include "links/showntext.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QTimer>
#include <QUdpSocket>

#include <utility>

namespace {

// What the station can do with a period: WSJT-X's are 5 s to 5 min.
bool sensiblePeriod(quint32 seconds)
{
    return seconds >= 5 && seconds <= 600;
}

QString shownField(const QString &text)
{
    return shownText(text.toUtf8(), 24);
}

} // namespace

WsjtxFollow::WsjtxFollow(QObject *parent)
    : QObject(parent)
    , m_bad(new MessageThrottle(QStringLiteral("%1 WSJT-X datagrams dropped, first: %2"), this))
    , m_others(new MessageThrottle(QStringLiteral("%1 messages from other WSJT-X not followed, first from %2"), this))
    , m_settle(new QTimer(this))
{
    for (MessageThrottle *throttle : {m_bad, m_others}) {
        throttle->setPeriod(badDatagramPeriodMs);
        throttle->setSustainedPeriod(badDatagramPeriodMs);
        connect(throttle, &MessageThrottle::message, this, &WsjtxFollow::message);
    }
    m_settle->setSingleShot(true);
    m_settle->setInterval(gridSettleMs);
    connect(m_settle, &QTimer::timeout, this, &WsjtxFollow::settle);
}

bool WsjtxFollow::apply(const WsjtxSettings &settings, QString *why)
{
    if (settings == m_settings && settings.follow == isListening())
        return true;
    m_settings = settings;
    delete m_socket;
    m_socket = nullptr;
    m_heard = Heard();
    m_otherIds.clear();
    if (!settings.follow) {
        emit changed();
        return true;
    }
    auto *socket = new QUdpSocket(this);
    const QHostAddress address(settings.address);
    const auto sharing = QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint;
    bool listening = false;
    bool unlisted = false;  // no interface to join the group on
    if (settings.isMulticast()) {
        listening = socket->bind(QHostAddress::AnyIPv4, settings.port, sharing);
        // On every interface that carries multicast, the loopback included:
        // WSJT-X sends on the ones its settings tick, the loopback by default.
        bool joined = false;
        const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
        if (interfaces.isEmpty())
            unlisted = true;
        for (const QNetworkInterface &interface : interfaces) {
            const auto flags = interface.flags();
            if (listening && flags.testFlag(QNetworkInterface::IsUp)
                && (flags.testFlag(QNetworkInterface::CanMulticast) || flags.testFlag(QNetworkInterface::IsLoopBack)))
                joined |= socket->joinMulticastGroup(address, interface);
        }
        listening = listening && joined;
    } else {
        listening = socket->bind(address, settings.port, sharing);
    }
    const QString where = QStringLiteral("%1:%2").arg(settings.address).arg(settings.port);
    if (!listening) {
        // Qt lists the interfaces through a netlink socket, which a sandbox may deny.
        const QString cause = unlisted ? QStringLiteral("no network interface can be listed to join the group on "
                                                        "(a service needs AF_NETLINK in its RestrictAddressFamilies=)")
                                       : socket->errorString();
        const QString reason = QStringLiteral("cannot listen for WSJT-X on %1: %2").arg(where, cause);
        delete socket;
        emit message(reason);
        emit changed();
        if (why)
            *why = reason;
        return false;
    }
    m_socket = socket;
    connect(m_socket, &QUdpSocket::readyRead, this, &WsjtxFollow::readPending);
    emit message(QStringLiteral("listening for WSJT-X on %1").arg(where));
    emit changed();
    return true;
}

void WsjtxFollow::readPending()
{
    while (m_socket && m_socket->hasPendingDatagrams()) {
        // One byte more than a message may have, so that a longer one is seen as such.
        const QNetworkDatagram datagram = m_socket->receiveDatagram(wsjtx::largestDatagram + 1);
        const QString from = QStringLiteral("%1:%2").arg(datagram.senderAddress().toString()).arg(datagram.senderPort());
        take(datagram.data(), from, m_clock());
    }
}

void WsjtxFollow::take(const QByteArray &datagram, const QString &from, const QDateTime &now)
{
    const wsjtx::Reading reading = wsjtx::read(datagram);
    if (!reading.refusal.isEmpty()) {
        m_bad->report(QStringLiteral("WSJT-X datagram from %1 dropped: %2").arg(from, reading.refusal),
                      reading.refusal);
        return;
    }
    if (!reading.message)
        return;  // a type the station does not follow
    const wsjtx::Message &message = *reading.message;
    const bool following = !m_heard.id.isEmpty() && !m_heard.closed && m_heard.at.secsTo(now) < silentSeconds;
    if (following && message.id != m_heard.id) {
        // Each one named once; a flood of them (new ids, or more than are
        // kept) summed up once a minute.
        if (!m_otherIds.contains(message.id)) {
            if (m_otherIds.size() < otherIdsKept)
                m_otherIds << message.id;
            const QString id = QStringLiteral("'%1'").arg(shownField(message.id));
            m_others->report(QStringLiteral("another WSJT-X (%1) heard; following '%2'").arg(id, shownField(m_heard.id)),
                             id);
        }
        return;
    }
    if (message.id != m_heard.id || m_heard.closed) {
        if (message.id != m_heard.id)
            m_otherIds.clear();
        m_heard = Heard();
        m_heard.id = message.id;
        m_dxGridTyped.clear();
        m_deGridTyped.clear();
        m_period.reset();
        emit this->message(QStringLiteral("following WSJT-X '%1' at %2").arg(shownField(message.id), from));
    }
    m_heard.at = now;
    switch (message.type) {
    case wsjtx::Type::Close:
        m_heard.closed = true;
        emit this->message(QStringLiteral("WSJT-X '%1' closed").arg(shownField(message.id)));
        if (std::exchange(m_heard.transmitting, false))
            emit transmittingLost(QStringLiteral("WSJT-X closed while transmitting"));
        break;
    case wsjtx::Type::Status:
        takeStatus(message.status);
        break;
    case wsjtx::Type::Heartbeat:
        break;
    }
    emit changed();
}

void WsjtxFollow::takeStatus(const wsjtx::Status &status)
{
    if (!status.dxCall.isEmpty())
        m_heard.dxCall = status.dxCall;
    if (!status.mode.isEmpty()) {
        m_heard.mode = status.mode;
        if (status.periodSeconds && sensiblePeriod(*status.periodSeconds))
            m_heard.mode += QStringLiteral("-%1").arg(*status.periodSeconds);
        m_heard.mode += status.subMode;
    }
    if (status.dialHz != 0 && status.dialHz != m_heard.dialHz) {
        m_heard.dialHz = status.dialHz;
        emit dialHeard(status.dialHz);
    }
    if (status.transmitting != m_heard.transmitting) {
        m_heard.transmitting = status.transmitting;
        emit transmittingHeard(status.transmitting);
    }
    if (status.periodSeconds && sensiblePeriod(*status.periodSeconds) && m_period != int(*status.periodSeconds)) {
        m_period = int(*status.periodSeconds);
        emit periodHeard(*m_period);
    }
    // Each change of a grid field, a null one included, starts the wait anew.
    if (status.dxGrid != m_dxGridTyped || status.deGrid != m_deGridTyped) {
        m_dxGridTyped = status.dxGrid;
        m_deGridTyped = status.deGrid;
        m_settle->start();
    }
}

void WsjtxFollow::settle()
{
    const QString dx = wsjtx::grid(m_dxGridTyped);
    if (!dx.isEmpty() && dx != m_heard.dxGrid) {
        m_heard.dxGrid = dx;
        emit dxGridHeard(dx);
        emit changed();
    }
    const QString de = wsjtx::grid(m_deGridTyped);
    if (!de.isEmpty() && de != m_deGrid) {
        m_deGrid = de;
        emit deGridHeard(de);
    }
}

QString WsjtxFollow::summary() const
{
    if (!m_settings.follow)
        return QStringLiteral("WSJT-X: not followed");
    const QString where = QStringLiteral("%1:%2").arg(m_settings.address).arg(m_settings.port);
    if (!isListening())
        return QStringLiteral("WSJT-X: cannot listen on %1").arg(where);
    if (m_heard.id.isEmpty())
        return QStringLiteral("WSJT-X: nothing heard yet on %1").arg(where);
    if (m_heard.closed)
        return QStringLiteral("WSJT-X: closed");
    QStringList parts;
    const QString dx = (shownField(m_heard.dxCall) + QLatin1Char(' ') + m_heard.dxGrid).trimmed();
    if (!dx.isEmpty())
        parts << dx;
    if (!m_heard.mode.isEmpty())
        parts << shownField(m_heard.mode);
    if (m_heard.dialHz != 0)
        parts << QStringLiteral("%1 MHz").arg(double(m_heard.dialHz) / 1e6, 0, 'f', 3);
    if (m_heard.transmitting)
        parts << QStringLiteral("transmitting");
    if (parts.isEmpty())
        parts << shownField(m_heard.id);
    return QStringLiteral("WSJT-X: ") + parts.join(QStringLiteral(" · "));
}

QString WsjtxFollow::line(const QDateTime &now) const
{
    if (!m_settings.follow)
        return {};
    if (!m_heard.at.isValid() || m_heard.closed)
        return summary();
    return QStringLiteral("%1 · %2 s ago").arg(summary()).arg(qMax<qint64>(0, m_heard.at.secsTo(now)));
}

std::optional<qint64> WsjtxFollow::silence(const QDateTime &now) const
{
    // Nothing heard yet is not silence: WSJT-X may not be running yet, and
    // the summary says so without an alarm.
    if (!isListening() || m_heard.closed || !m_heard.at.isValid())
        return std::nullopt;
    return m_heard.at.secsTo(now);
}

void WsjtxFollow::checkSilence(const QDateTime &now)
{
    const auto quiet = silence(now);
    if (!m_heard.transmitting || !quiet || *quiet < silentSeconds)
        return;
    m_heard.transmitting = false;
    emit transmittingLost(QStringLiteral("WSJT-X silent for %1 s while transmitting").arg(*quiet));
    emit changed();
}

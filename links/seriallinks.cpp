// SPDX-License-Identifier: GPL-3.0-or-later
#include "links/seriallinks.h"

#include "links/messagethrottle.h"
#include "links/showntext.h"
#include "serial/serialport.h"
#include "transceiver/manualentry.h"
#include "links/rotatorcommand.h"
#include "transceiver/catframes.h"
#include "transceiver/transceivercomm.h"

#include <QMutexLocker>
#include <QPointer>

SerialRotatorLink::SerialRotatorLink(SerialPort *port, QObject *parent)
    : RotatorLink(parent)
    , m_port(port)
{
    m_port->setParent(this);
    connect(m_port, &SerialPort::readyRead, this, &SerialRotatorLink::readPort);
    connect(m_port, &SerialPort::connectionLost, this, &DeviceLink::connectionLost);
}

QString SerialRotatorLink::target() const
{
    return m_port->portName();
}

QByteArray SerialRotatorLink::manualCommand(const QString &line) const
{
    return line.toLatin1() + "\r\n";
}

void SerialRotatorLink::write(const QByteArray &bytes)
{
    m_port->write(bytes);
}

void SerialRotatorLink::close()
{
    m_port->close();
}

QByteArray SerialRotatorLink::positionCommand(RotatorAxis axis, double azimuth, double elevation)
{
    return commandFor(axis, azimuth, elevation);
}

QByteArray SerialRotatorLink::commandFor(RotatorAxis axis, double azimuth, double elevation)
{
    // One axis per command: parking starts with the azimuth.
    return axis == RotatorAxis::Elevation ? rotator::elevationCommand(elevation) : rotator::azimuthCommand(azimuth);
}

RotatorReply SerialRotatorLink::interpretReply(const QByteArray &bytes, QString &collected) const
{
    RotatorReply reply;
    if (bytes.isEmpty())
        return reply;
    QByteArray text = bytes;
    text.replace('\0', ' ');
    collected.append(QString::fromLatin1(text));
    if (collected.contains(QLatin1String("OK"))) {
        reply.kind = RotatorReply::Accepted;
        collected.clear();
    } else if (collected.contains(QLatin1String("ERROR/LIMIT"))) {
        reply.kind = RotatorReply::Refused;
        reply.text = shownText(text);  // this read's text, not all that was collected
        collected.clear();
    } else if (collected.size() > 1024) {
        // A chatty controller without markers must not grow this for ever; the
        // tail keeps a marker that is split across reads.
        collected = collected.right(10);
    }
    return reply;
}

void SerialRotatorLink::readPort()
{
    // A read at a time, as the controller's replies always were; all that
    // has come in one go, since each turn of the event loop to hear of the
    // rest costs more than the read itself when a line floods.
    constexpr int readsAtOnce = 32;
    const QPointer<SerialRotatorLink> alive(this);  // a listener may close the link
    for (int i = 0; i < readsAtOnce && alive; ++i) {
        char buffer[1024];
        const qint64 n = m_port->read(buffer, sizeof buffer);
        if (n <= 0)  // taken by an earlier turn, or discarded by a flush
            return;
        emit received(QByteArray(buffer, int(n)));
        if (n < qint64(sizeof buffer))
            return;
    }
}

CatLink::CatLink(SerialPort *port, bool ft847, QObject *parent)
    : TransceiverLink(parent)
    , m_port(port)
    , m_comm(new TransceiverComm(port))
    , m_ft847(ft847)
{
    m_port->setParent(this);
    connect(m_port, &SerialPort::connectionLost, this, &DeviceLink::connectionLost);
    connect(m_comm, &TransceiverComm::frequencyReceived, this, &TransceiverLink::frequencyReceived);
    connect(m_comm, &TransceiverComm::statusReceived, this, &TransceiverLink::statusReceived);
    connect(m_comm, &TransceiverComm::frequencyReceived, this, &TransceiverLink::answered);
    connect(m_comm, &TransceiverComm::statusReceived, this, &TransceiverLink::answered);
    // Wrong and unexpected replies: a flood of them costs one line a second.
    auto *replies = new MessageThrottle(
        QStringLiteral("%1 bad replies from ") + port->portName() + QStringLiteral(", first: %2"), this);
    connect(replies, &MessageThrottle::message, this, &DeviceLink::message);
    connect(m_comm, &TransceiverComm::executionMessage, replies, [replies](const QString &text) {
        if (!replies->tryCount())
            replies->report(text, text);
    });
    connect(m_comm, &TransceiverComm::debugMessage, this, &DeviceLink::debugMessage);
    if (m_ft847)
        m_comm->catOn();
}

CatLink::~CatLink()
{
    delete m_comm;
}

QString CatLink::target() const
{
    return m_port->portName();
}

QByteArray CatLink::manualCommand(const QString &line) const
{
    return parseByteValues(line);
}

void CatLink::write(const QByteArray &bytes)
{
    m_port->write(bytes);
}

void CatLink::close()
{
    if (!m_comm)
        return;
    if (m_ft847) {
        QMutexLocker lock(&m_comm->queueMutex);
        m_comm->clearQueue();
        m_comm->catOff();
    }
    // The link's destructor lets its worker write what is queued (CAT OFF)
    // before the port closes.
    delete m_comm;
    m_comm = nullptr;
    m_port->close();
}

void CatLink::requestFrequency()
{
    if (m_comm)
        m_comm->requestFrequency();
}

bool CatLink::requestReadout()
{
    if (!m_comm)
        return false;
    m_comm->requestTxStatus();
    m_comm->requestFrequency();
    return true;
}

void CatLink::setFrequency(quint32 hz)
{
    if (m_comm)
        m_comm->setFrequency(hz);
}

void CatLink::setPtt(bool on)
{
    if (m_comm)
        m_comm->setPtt(on);
}

void CatLink::setTracing(bool on)
{
    if (m_comm)
        m_comm->setTracing(on);
}

int CatLink::queuedCommands() const
{
    return m_comm ? int(m_comm->queuedFrames().size()) : 0;
}

bool CatLink::canCarry(qint64 hz) const
{
    return cat::frameCanCarry(hz);
}

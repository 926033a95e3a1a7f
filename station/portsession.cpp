// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/portsession.h"

#include "hamlib/hamliblinks.h"
#include "linkedhamlib/linkedchannel.h"
#include "links/seriallinks.h"
#include "serial/serialport.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

#include <sys/stat.h>

namespace {

// A link's own inode and change time: a link made anew differs.
QString linkIdentity(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISLNK(info.st_mode))
        return {};
    return QStringLiteral("%1/%2.%3").arg(info.st_ino).arg(info.st_ctim.tv_sec).arg(info.st_ctim.tv_nsec);
}

} // namespace

PortSession::PortSession(StationPort port, StationContext &context, QObject *parent)
    : QObject(parent)
    , name(port == StationPort::A ? QStringLiteral("Port A") : QStringLiteral("Port B"))
    , m_port(port)
    , m_context(context)
    , m_reconnectTimer(new QTimer(this))
{
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &PortSession::tryReconnect);
}

bool PortSession::openDevice(const QString &nameOrAddress, const SerialParameters &parameters, bool ft847, bool quiet)
{
    openedName = nameOrAddress;
    this->parameters = parameters;
    this->ft847 = ft847;
    const bool rotator = m_port == StationPort::A;
    if (network || linked) {
        DeviceLink *made = nullptr;
        if (network) {
            const auto address = hamlib::parseAddress(
                nameOrAddress, rotator ? hamlib::rotctldDefaultPort : hamlib::rigctldDefaultPort);
            if (!address) {
                cancelReconnect();
                m_context.log(QStringLiteral("connection to %1 failed").arg(nameOrAddress));
                m_context.log(QStringLiteral("not a host and port: %1").arg(nameOrAddress));
                return false;
            }
            emit daemonAddress(nameOrAddress.trimmed());
            made = rotator ? static_cast<DeviceLink *>(new RotctldLink(*address, this))
                           : static_cast<DeviceLink *>(new RigctldLink(*address, this));
        } else {
            const HamlibDevice device = rotator ? m_context.network.hamlibRotator : m_context.network.hamlibRadio;
            const QString path = nameOrAddress.trimmed();
            if (device.model <= 0) {
                cancelReconnect();
                m_context.log(QStringLiteral("connection to %1 failed").arg(path));
                m_context.log(QStringLiteral("no Hamlib model chosen for the %1")
                                  .arg(rotator ? QStringLiteral("rotator") : QStringLiteral("radio")));
                return false;
            }
            const auto channel = [rotator, device, path] { return new LinkedChannel(rotator, device, path); };
            const QString shown = LinkedChannel::targetText(rotator, device, path);
            made = rotator ? static_cast<DeviceLink *>(new RotctldLink(channel, shown, this))
                           : static_cast<DeviceLink *>(new RigctldLink(channel, shown, this));
        }
        made->setTracing(m_context.debugMode);
        link = made;
        connecting = true;
        const QString target = made->target();
        connect(made, &DeviceLink::opened, this, [this, made, target] {
            connecting = false;
            openWith(made, target);
        });
        connect(made, &DeviceLink::openFailed, this, [this, target, quiet](const QString &reason) {
            if (!quiet) {
                m_context.log(QStringLiteral("connection to %1 failed").arg(target));
                // Hamlib's reason linked in is said once, by the alarm below.
                if (network)
                    m_context.log(QStringLiteral("%1: %2").arg(target, reason));
            }
            connecting = false;
            dropLink();
            // A daemon not up yet (a station started before it), or a radio
            // not switched on, is tried again as a lost one would be, and said once.
            const QString daemon = m_port == StationPort::A ? QStringLiteral("rotctld") : QStringLiteral("rigctld");
            m_context.health.raise(unreachableAlarm(),
                                   network ? QStringLiteral("cannot reach %1 at %2: %3").arg(daemon, target, reason)
                                           : QStringLiteral("cannot open %1: %2").arg(target, reason));
            if (m_reconnect.wanted) {
                m_reconnect.backoffSeconds = qMin(m_reconnect.backoffSeconds * 2, 30);
                m_reconnectTimer->start(m_reconnect.backoffSeconds * 1000);
            } else if (m_context.network.reconnect) {
                planReconnect();
            }
            emit changed();
        });
        if (auto *rig = qobject_cast<RigctldLink *>(made))
            rig->open();
        else
            static_cast<RotctldLink *>(made)->open();
        emit changed();
        return true;
    }

    auto *serial = new SerialPort(nameOrAddress, this);
    const auto say = [this, quiet](const QString &text) {
        if (!quiet)
            m_context.log(text);
    };
    say(QStringLiteral("Serial %1 settings:").arg(name));
    serial->setBaudRate(parameters.baudRate);
    serial->setDataBits(parameters.dataBits);
    serial->setFlowControl(parameters.flowControl);
    serial->setParity(parameters.parity);
    serial->setStopBits(parameters.stopBits);
    say(QStringLiteral("Baud rate: %1").arg(serialvalues::textOf(serialvalues::baudRates, serial->baudRate())));
    say(QStringLiteral("Data bits: %1").arg(serialvalues::textOf(serialvalues::dataBits, serial->dataBits())));
    say(QStringLiteral("Flow control: %1")
            .arg(serialvalues::textOf(serialvalues::flowControls, serial->flowControl())));
    say(QStringLiteral("Parity: %1").arg(serialvalues::textOf(serialvalues::parities, serial->parity())));
    say(QStringLiteral("Stop bits: %1").arg(serialvalues::textOf(serialvalues::stopBits, serial->stopBits())));

    if (!serial->open(QIODevice::ReadWrite)) {
        say(QStringLiteral("connection to %1 failed").arg(nameOrAddress));
        const QString hint = serial->openFailureHint();
        if (!hint.isEmpty())
            say(hint);
        delete serial;
        return false;
    }
    openedDevice = QFileInfo(nameOrAddress).canonicalFilePath();
    openedLink = linkIdentity(nameOrAddress);
    DeviceLink *made = rotator ? static_cast<DeviceLink *>(new SerialRotatorLink(serial, this))
                               : static_cast<DeviceLink *>(new CatLink(serial, ft847, this));
    openWith(made, nameOrAddress);
    return true;
}

void PortSession::openWith(DeviceLink *made, const QString &shownName)
{
    made->setParent(this);
    link = made;
    wire();
    m_context.log(QStringLiteral("connected to %1").arg(shownName));
    if (m_reconnect.shortLives == 0)
        m_context.health.clear(unreachableAlarm());
    open = true;
    emit opened();
}

void PortSession::wire()
{
    // Outside debug mode every trace line would be formatted only to be dropped.
    link->setTracing(m_context.debugMode);
    // A command not sent within a repetition is no longer meant.
    link->setCommandLifetime(repetitionMs(m_context.times.repetitionTime));
    const auto source = m_port == StationPort::A ? StationHealth::Source::Rotator : StationHealth::Source::Radio;
    connect(link, &DeviceLink::message, this, [this, source](const QString &text) { m_context.health.error(source, text); });
    connect(link, &DeviceLink::debugMessage, this, [this](const QString &text) { m_context.debug(text); });
    connect(link, &DeviceLink::connectionLost, this, [this] {
        if (open && link)
            emit lost();
    });
}

// Closing the link lets the FT-847's CAT OFF go out before the port closes.
void PortSession::dropLink()
{
    link->disconnect(this);
    link->close();
    link->deleteLater();
    link = nullptr;
}

bool PortSession::closeLink()
{
    if (connecting) {
        m_context.log(QStringLiteral("connection to %1 cancelled").arg(target()));
        connecting = false;
        dropLink();
        return false;
    }
    if (!open)
        return false;
    dropLink();
    m_context.log(QStringLiteral("%1 disconnected").arg(name));
    open = false;
    return true;
}

void PortSession::send(const QByteArray &bytes)
{
    if (!open)
        return;
    link->write(bytes);
    if (m_context.debugMode)  // not even worded outside it: a flood sends many
        m_context.debug(QStringLiteral("--sending: %1").arg(QString::fromLatin1(bytes.toHex())));
}

// ---- waiting for a lost device ----------------------------------------------

void PortSession::planReconnect()
{
    // Lost again soon after it came back: a device that cannot stay, tried less often.
    const bool soonLost = m_reconnect.since.isValid() && m_reconnect.since.elapsed() < 10000;
    const int backoff = soonLost ? qMin(m_reconnect.backoffSeconds * 2, 30) : 1;
    const int shortLives = soonLost ? m_reconnect.shortLives + 1 : 0;
    m_reconnect = {};
    m_reconnect.wanted = true;
    m_reconnect.backoffSeconds = backoff;
    m_reconnect.shortLives = shortLives;
    // A device that drops every connection soon after it is made (a daemon
    // that closes after each answer) is never read: said, not only retried.
    constexpr int unstableAfter = 3;
    if (shortLives >= unstableAfter)
        m_context.health.raise(unreachableAlarm(),
                               QStringLiteral("cannot keep a connection to %1: lost %2 times within seconds of connecting")
                                   .arg(target())
                                   .arg(shortLives));
    if (!network && !linked) {
        // A serial device that comes back shows up in its folder at once.
        if (!m_watcher) {
            m_watcher = new QFileSystemWatcher(this);
            connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
                if (m_reconnect.wanted && !network && !linked)
                    tryReconnect();
            });
        }
        const QString folder = QFileInfo(openedName).absolutePath();
        if (!m_watcher->directories().contains(folder))
            m_watcher->addPath(folder);
    }
    // The folder's notice is the quick way back; this is the sure one.
    m_reconnectTimer->start(m_reconnect.backoffSeconds * 1000);
}

void PortSession::tryReconnect()
{
    if (!m_reconnect.wanted || open || connecting)
        return;
    if (network || linked) {
        openDevice(openedName, parameters, ft847, true);
        return;  // the answer or the next try comes by signal
    }
    // A pseudo-terminal's number goes to whoever opens one next (a terminal,
    // say): only a link made anew to one is the device come back.
    const QString device = QFileInfo(openedName).canonicalFilePath();
    const bool pty = openedDevice.startsWith(QLatin1String("/dev/pts/"));
    const bool back = !device.isEmpty() && (!pty || (!openedLink.isEmpty() && linkIdentity(openedName) != openedLink));
    if (back && openDevice(openedName, parameters, ft847, true))
        return;
    m_reconnectTimer->start(m_reconnect.backoffSeconds * 1000);
}

int PortSession::secondsToRetry() const
{
    // To the nearest second, at least one: a coarse timer may run up to 5 %
    // long, and a 1 s wait must not read "in 2 s".
    return m_reconnectTimer->isActive() ? qMax(1, (m_reconnectTimer->remainingTime() + 500) / 1000) : 0;
}

void PortSession::cancelReconnect()
{
    m_reconnect.wanted = false;
    m_reconnectTimer->stop();
    if (m_watcher && !m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
}

void PortSession::reconnected()
{
    const Reconnect plan = m_reconnect;
    cancelReconnect();
    m_reconnect.since.start();
    m_reconnect.backoffSeconds = plan.backoffSeconds;
    m_reconnect.shortLives = plan.shortLives;
}

void PortSession::forget()
{
    cancelReconnect();
    m_reconnect.shortLives = 0;
    m_context.health.clear(unreachableAlarm(), false);
}

bool PortSession::checkStable()
{
    constexpr qint64 stableMs = 60000;
    if (!open || m_reconnect.shortLives == 0 || !m_reconnect.since.isValid() || m_reconnect.since.elapsed() <= stableMs)
        return false;
    m_reconnect.shortLives = 0;
    return m_context.health.clear(unreachableAlarm());
}

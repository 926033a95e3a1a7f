// SPDX-License-Identifier: GPL-3.0-or-later
#include "remote/remotesettings.h"

#include "settings/keyvaluefile.h"

#include <QFile>
#include <QRandomGenerator>

namespace {

const QString addressKey = QStringLiteral("listen address");
const QString portKey = QStringLiteral("listen port");
const QString manualKey = QStringLiteral("manual terminal");
const QString portAKey = QStringLiteral("port a device");
const QString portBKey = QStringLiteral("port b device");
const QString modelKey = QStringLiteral("port b radio");
const QString openAKey = QStringLiteral("port a open at start");
const QString openBKey = QStringLiteral("port b open at start");
const QString baudAKey = QStringLiteral("port a baud rate");
const QString baudBKey = QStringLiteral("port b baud rate");
const QString modeAKey = QStringLiteral("port a mode");
const QString modeBKey = QStringLiteral("port b mode");
const QString dataKey = QStringLiteral("tracking data file");
const QString chosenAKey = QStringLiteral("port a device chosen");
const QString chosenBKey = QStringLiteral("port b device chosen");
const QString targetKey = QStringLiteral("target");
const QString trackKey = QStringLiteral("track frequency");
const QString shiftKey = QStringLiteral("doppler shift");
const QString on = QStringLiteral("on");
const QString off = QStringLiteral("off");

std::optional<bool> onOff(const QString &value)
{
    if (value == on || value == off)
        return value == on;
    return std::nullopt;
}

QString word(bool value)
{
    return value ? on : off;
}

std::optional<BaudRateType> baudRate(const QString &text)
{
    for (const auto &entry : serialvalues::baudRates)
        if (text == QLatin1String(entry.text))
            return entry.value;
    return std::nullopt;
}

std::optional<bool> automatic(const QString &value)
{
    if (value == QLatin1String("auto") || value == QLatin1String("manual"))
        return value == QLatin1String("auto");
    return std::nullopt;
}

QString mode(bool automatic)
{
    return automatic ? QStringLiteral("auto") : QStringLiteral("manual");
}

} // namespace

bool RemoteSettings::operator==(const RemoteSettings &other) const
{
    return listenAddress == other.listenAddress && listenPort == other.listenPort
        && manualTerminal == other.manualTerminal && portADevice == other.portADevice
        && portBDevice == other.portBDevice && ft847 == other.ft847 && openAAtStart == other.openAAtStart
        && openBAtStart == other.openBAtStart && portABaudRate == other.portABaudRate
        && portBBaudRate == other.portBBaudRate && autoA == other.autoA && autoB == other.autoB
        && dataFile == other.dataFile && portAChosen == other.portAChosen && portBChosen == other.portBChosen
        && target == other.target && trackFrequency == other.trackFrequency && dxShift == other.dxShift;
}

QHostAddress RemoteSettings::address() const
{
    const QString text = listenAddress.trimmed();
    if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::LocalHost);
    if (text.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0)
        return QHostAddress(QHostAddress::Any);
    // Null for a host name: remote::resolveListenAddress() looks it up.
    return QHostAddress(text);
}

RemoteSettings RemoteSettings::read(const QString &path)
{
    RemoteSettings settings;
    for (const auto &[key, value] : keyvalue::read(path)) {
        const QString text = value.trimmed();
        if (key == addressKey && !text.isEmpty()) {
            settings.listenAddress = text;
        } else if (key == portKey) {
            bool ok = false;
            const uint port = text.toUInt(&ok);
            if (ok && port <= 65535)  // 0: any free port, said in the log
                settings.listenPort = quint16(port);
        } else if (key == manualKey && onOff(text)) {
            settings.manualTerminal = *onOff(text);
        } else if (key == portAKey) {
            settings.portADevice = text;
        } else if (key == portBKey) {
            settings.portBDevice = text;
        } else if (key == modelKey && (text == QLatin1String("ft-817") || text == QLatin1String("ft-847"))) {
            settings.ft847 = text == QLatin1String("ft-847");
        } else if (key == openAKey && onOff(text)) {
            settings.openAAtStart = *onOff(text);
        } else if (key == openBKey && onOff(text)) {
            settings.openBAtStart = *onOff(text);
        } else if (key == baudAKey && baudRate(text)) {
            settings.portABaudRate = *baudRate(text);
        } else if (key == baudBKey && baudRate(text)) {
            settings.portBBaudRate = *baudRate(text);
        } else if (key == modeAKey && automatic(text)) {
            settings.autoA = *automatic(text);
        } else if (key == modeBKey && automatic(text)) {
            settings.autoB = *automatic(text);
        } else if (key == dataKey) {
            settings.dataFile = text;
        } else if (key == chosenAKey) {
            settings.portAChosen = text;
        } else if (key == chosenBKey) {
            settings.portBChosen = text;
        } else if (key == targetKey
                   && (text == QLatin1String("moon") || text == QLatin1String("sun") || text == QLatin1String("source"))) {
            settings.target = text;
        } else if (key == trackKey && onOff(text)) {
            settings.trackFrequency = *onOff(text);
        } else if (key == shiftKey && (text == QLatin1String("home") || text == QLatin1String("dx"))) {
            settings.dxShift = text == QLatin1String("dx");
        }
    }
    return settings;
}

bool RemoteSettings::write(const QString &path) const
{
    return keyvalue::write(path, {{addressKey, listenAddress},
                                  {portKey, QString::number(listenPort)},
                                  {manualKey, word(manualTerminal)},
                                  {portAKey, portADevice},
                                  {portBKey, portBDevice},
                                  {modelKey, ft847 ? QStringLiteral("ft-847") : QStringLiteral("ft-817")},
                                  {openAKey, word(openAAtStart)},
                                  {openBKey, word(openBAtStart)},
                                  {baudAKey, serialvalues::textOf(serialvalues::baudRates, portABaudRate)},
                                  {baudBKey, serialvalues::textOf(serialvalues::baudRates, portBBaudRate)},
                                  {modeAKey, mode(autoA)},
                                  {modeBKey, mode(autoB)},
                                  {dataKey, dataFile},
                                  {chosenAKey, portAChosen},
                                  {chosenBKey, portBChosen},
                                  {targetKey, target},
                                  {trackKey, word(trackFrequency)},
                                  {shiftKey, dxShift ? QStringLiteral("dx") : QStringLiteral("home")}});
}

RemoteToken remoteToken(const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const QString value = QString::fromLatin1(file.read(256)).trimmed();
        // A token shorter than the one made here was cut or typed by hand: refused.
        if (value.size() < 32)
            return {};
        const auto others = QFileDevice::ReadGroup | QFileDevice::ReadOther;
        return {value, false, (file.permissions() & others) != 0};
    }
    quint32 words[8];
    QRandomGenerator::system()->fillRange(words);
    const QString value = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(words), sizeof words).toBase64(QByteArray::Base64UrlEncoding
                                                                                | QByteArray::OmitTrailingEquals));
    // Readable by its user only from the first byte on.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return {};
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || file.write(value.toLatin1()) < 0
        || !file.flush()) {
        file.remove();
        return {};
    }
    return {value, true};
}

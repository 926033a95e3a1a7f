#include "hamlib/hamlibprotocol.h"

#include <cctype>
#include <cmath>

namespace hamlib {

namespace {

std::optional<quint16> portNumber(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return quint16(port);
}

} // namespace

std::optional<Address> parseAddress(const QString &text, quint16 defaultPort)
{
    const QString trimmed = text.trimmed();
    QString host = trimmed;
    QString port;
    if (trimmed.startsWith(QLatin1Char('['))) {
        const int close = trimmed.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        host = trimmed.mid(1, close - 1);
        const QString rest = trimmed.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            port = rest.mid(1);
        }
    } else if (trimmed.count(QLatin1Char(':')) == 1) {
        host = trimmed.section(QLatin1Char(':'), 0, 0);
        port = trimmed.section(QLatin1Char(':'), 1);
    }
    if (host.isEmpty() || host.contains(QLatin1Char(' ')))
        return std::nullopt;
    Address address {host, defaultPort};
    if (trimmed.endsWith(QLatin1Char(':')) && port.isEmpty())
        return std::nullopt;
    if (!port.isEmpty()) {
        const auto number = portNumber(port);
        if (!number)
            return std::nullopt;
        address.port = *number;
    }
    return address;
}

QString addressText(const Address &address)
{
    const QString host = address.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(address.host)
                                                                  : address.host;
    return QStringLiteral("%1:%2").arg(host).arg(address.port);
}

std::optional<int> parseReport(const QByteArray &line)
{
    if (!line.startsWith("RPRT "))
        return std::nullopt;
    bool ok = false;
    const int code = line.mid(5).toInt(&ok);
    if (!ok)
        return std::nullopt;
    return code;
}

std::optional<double> parseNumber(const QByteArray &line)
{
    // QByteArray::toDouble accepts surrounding white space, "inf" and "nan";
    // a daemon's value line holds none of them.
    if (line.isEmpty() || line.size() > 40)
        return std::nullopt;
    for (char c : line)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    bool ok = false;
    const double value = line.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> parseFrequency(const QByteArray &line)
{
    const auto hz = parseNumber(line);
    if (!hz || *hz <= 0 || *hz >= 100e9)
        return std::nullopt;
    return hz;
}

std::optional<bool> parsePtt(const QByteArray &line)
{
    if (line.size() != 1 || line.at(0) < '0' || line.at(0) > '3')
        return std::nullopt;
    return line.at(0) != '0';
}

QByteArray setFrequencyCommand(quint32 hz)
{
    return "F " + QByteArray::number(hz) + '\n';
}

QByteArray setPositionCommand(double azimuth, double elevation)
{
    return "P " + QByteArray::number(azimuth, 'f', 2) + ' ' + QByteArray::number(elevation, 'f', 2) + '\n';
}

QString errorText(int code)
{
    // Hamlib's rig_errcode_e, by the absolute value of the code.
    static const char *const texts[] = {
        "no error",           "invalid parameter",       "invalid configuration",
        "memory shortage",    "function not implemented", "communication timed out",
        "IO error",           "internal Hamlib error",   "protocol error",
        "command rejected",   "argument truncated",      "function not available",
        "VFO not targetable", "error talking on the bus", "collision on the bus",
        "NULL RIG handle or invalid pointer parameter",    "invalid VFO",
        "argument out of domain of function",             "function deprecated",
        "security error",     "rig not powered on",
    };
    // As a 64-bit value: the daemon may send the most negative int.
    const qint64 index = qAbs(qint64(code));
    if (index < qint64(sizeof texts / sizeof texts[0]))
        return QString::fromLatin1(texts[index]);
    return QStringLiteral("unknown error");
}

} // namespace hamlib

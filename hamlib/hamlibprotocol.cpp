// SPDX-License-Identifier: GPL-3.0-or-later
#include "hamlib/hamlibprotocol.h"

#include <algorithm>
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

QByteArray setSplitCommand(bool on)
{
    return on ? QByteArrayLiteral("S 1 VFOB\n") : QByteArrayLiteral("S 0 VFOA\n");
}

QByteArray setSplitFrequencyCommand(quint32 hz)
{
    return "I " + QByteArray::number(hz) + '\n';
}

QByteArray setPositionCommand(double azimuth, double elevation)
{
    return "P " + QByteArray::number(azimuth, 'f', 2) + ' ' + QByteArray::number(elevation, 'f', 2) + '\n';
}

QByteArray withVfo(const QByteArray &command, bool vfoMode)
{
    if (!vfoMode)
        return command;
    const QByteArray line = command.chopped(1);  // without its '\n'
    const int space = line.indexOf(' ');
    if (space < 0)
        return line + ' ' + trackedVfo + '\n';
    return line.left(space) + ' ' + trackedVfo + line.mid(space) + '\n';
}

std::optional<bool> parseVfoMode(const QByteArray &line)
{
    const QByteArray value = line.startsWith("CHKVFO ") ? line.mid(7) : line;
    if (value == "0" || value == "1")
        return value == "1";
    return std::nullopt;
}

bool RigLimits::contains(double hz) const
{
    for (const auto &[lowest, highest] : ranges)
        if (hz >= lowest && hz <= highest)
            return true;
    return false;
}

namespace {

// The fields of one line of a list in "\dump_state", as numbers; hexadecimal
// mode masks ("0x1ff") count as numbers too.
std::optional<QList<double>> numberFields(const QByteArray &line)
{
    QList<double> fields;
    for (const QByteArray &field : line.simplified().split(' ')) {
        bool ok = false;
        const double value
            = field.startsWith("0x") ? double(field.mid(2).toULongLong(&ok, 16)) : field.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        fields << value;
    }
    return fields;
}

} // namespace

std::optional<RigLimits> parseRigDumpState(const QByteArrayList &lines)
{
    // Protocol version, model, ITU region; then the receive and transmit
    // ranges ("start end modes low high vfo antenna"), each list ended by a
    // line of zeros; then the tuning steps ("modes step"), ended by "0 0".
    if (lines.size() < 4 || !parseNumber(lines.at(0)))
        return std::nullopt;
    RigLimits limits;
    limits.ranges.clear();
    qsizetype at = 3;
    for (int list = 0; list < 2; ++list) {
        for (;; ++at) {
            if (at >= lines.size())
                return std::nullopt;  // cut short: a range may be missing
            const auto fields = numberFields(lines.at(at));
            if (!fields || fields->size() < 2)
                return std::nullopt;
            if (fields->at(0) == 0 && fields->at(1) == 0) {
                ++at;
                break;
            }
            const double lowest = fields->at(0);
            const double highest = fields->at(1);
            // A range in both lists (most radios receive where they transmit) is one.
            if (lowest > 0 && lowest < highest && highest <= 1e12 && !limits.ranges.contains({lowest, highest}))
                limits.ranges.append({lowest, highest});
        }
    }
    std::optional<double> step;
    for (;; ++at) {
        if (at >= lines.size())
            return std::nullopt;  // cut short: the finest step may be missing
        const auto fields = numberFields(lines.at(at));
        if (!fields || fields->size() != 2 || (fields->at(0) == 0 && fields->at(1) == 0))
            break;
        const double hz = fields->at(1);  // 0 is "any step"
        if (hz > 0 && hz <= 1e6 && (!step || hz < *step))
            step = hz;
    }
    if (limits.ranges.isEmpty())
        return std::nullopt;
    limits.stepHz = step.value_or(1);
    return limits;
}

bool RotatorLimits::contains(double azimuth, double elevation) const
{
    return azimuth >= minAzimuth && azimuth <= maxAzimuth && elevation >= minElevation && elevation <= maxElevation;
}

bool hasRotatorLimits(const QByteArrayList &lines)
{
    int found = 0;
    for (const char *key : {"min_az=", "max_az=", "min_el=", "max_el="})
        found += std::any_of(lines.begin(), lines.end(), [key](const QByteArray &line) { return line.startsWith(key); });
    return found == 4;
}

RotatorLimits parseRotatorDumpState(const QByteArrayList &lines)
{
    RotatorLimits limits;
    RotatorLimits read = limits;
    const std::pair<const char *, double *> keys[] = {{"min_az=", &read.minAzimuth},
                                                      {"max_az=", &read.maxAzimuth},
                                                      {"min_el=", &read.minElevation},
                                                      {"max_el=", &read.maxElevation}};
    for (const QByteArray &line : lines)
        for (const auto &[key, value] : keys)
            if (line.startsWith(key))
                if (const auto number = parseNumber(line.mid(qsizetype(qstrlen(key)))))
                    *value = *number;
    // Each axis is taken only when it makes sense as a whole and lies within the sane range.
    if (read.minAzimuth < read.maxAzimuth && read.minAzimuth >= limits.minAzimuth
        && read.maxAzimuth <= limits.maxAzimuth) {
        limits.minAzimuth = read.minAzimuth;
        limits.maxAzimuth = read.maxAzimuth;
    }
    if (read.minElevation < read.maxElevation && read.minElevation >= limits.minElevation
        && read.maxElevation <= limits.maxElevation) {
        limits.minElevation = read.minElevation;
        limits.maxElevation = read.maxElevation;
    }
    return limits;
}

void LineReader::feed(QByteArrayView bytes)
{
    if (m_position > 0) {
        m_buffer.remove(0, m_position);
        m_position = 0;
    }
    if (m_discarding) {
        // Only the rest of a cut line's break matters.
        const qsizetype end = bytes.indexOf('\n');
        if (end < 0)
            return;
        bytes = bytes.sliced(end + 1);
        m_discarding = false;
    }
    m_buffer.append(bytes);
}

std::optional<LineReader::Line> LineReader::next()
{
    const qsizetype end = m_buffer.indexOf('\n', m_position);
    const qsizetype length = (end < 0 ? m_buffer.size() : end) - m_position;
    if (length > maxLineLength) {
        Line line {m_buffer.mid(m_position, maxLineLength), true};
        if (end < 0) {
            m_buffer.clear();
            m_position = 0;
            m_discarding = true;
        } else {
            m_position = end + 1;
        }
        return line;
    }
    if (end < 0)
        return std::nullopt;
    Line line {m_buffer.mid(m_position, length), false};
    if (line.text.endsWith('\r'))
        line.text.chop(1);
    m_position = end + 1;
    return line;
}

void LineReader::clear()
{
    m_buffer.clear();
    m_position = 0;
    m_discarding = false;
}

bool radioSilent(int code)
{
    constexpr int timedOut = -5;  // RIG_ETIMEOUT
    constexpr int ioError = -6;   // RIG_EIO
    return code == timedOut || code == ioError;
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

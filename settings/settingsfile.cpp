// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingsfile.h"

#include "settings/numbers.h"
#include "settings/savefile.h"

#include <QFileInfo>
#include <QList>
#include <QStringList>

namespace {

constexpr quint16 lineCount = 9;
enum Line : quint16 {
    Filename,
    RepetitionTime,
    ElevationOffset,
    AzimutOffset,
    MessageDelay,
    AzimuthRounding,
    ElevationRounding,
    AzimuthParking,
    ElevationParking,
};

// Keys by line number. "azimut offset" lacks its h on purpose: existing
// files carry exactly this key.
const char *const keys[lineCount] = {
    "filename",
    "repetition time",
    "elevation offset",
    "azimut offset",
    "message delay",
    "azimuth rounding",
    "elevation rounding",
    "azimuth parking",
    "elevation parking",
};

const char *const defaultValues[lineCount] = {
    "C:/", "2", "0", "0", "200", "0.1", "0.1", "90", "10",
};

QString lineFor(quint16 n, const QString &value)
{
    return QStringLiteral("%1: '%2'").arg(QLatin1String(keys[n]), value);
}

// One line of the file as stored: its bytes without the line feed and
// without one carriage return before it. Kept as bytes, so a rewrite gives
// every other line back exactly as it was read.
using RawLine = QByteArray;

// Lines 0..last from an open device, each read whole whatever its length;
// lines past the end read as empty.
QList<RawLine> readLines(QIODevice &device, quint16 last)
{
    QList<RawLine> lines;
    for (int i = 0; i <= int(last); ++i) {
        RawLine line = device.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        lines << line;
    }
    return lines;
}

// The text is in the local 8-bit encoding, as the files of earlier runs are.
QString textOf(const RawLine &line)
{
    return QString::fromLocal8Bit(line);
}

RawLine rawOf(const QString &text)
{
    return text.toLocal8Bit();
}

// Each line ends in a line feed; a line whose own text ends in a carriage
// return keeps a CR LF, or reading it back would lose that CR.
QByteArray fileContent(const QList<RawLine> &lines)
{
    QByteArray content;
    for (const RawLine &line : lines)
        content += line + (line.endsWith('\r') ? "\r\n" : "\n");
    return content;
}

} // namespace

SettingsFile::SettingsFile(const QString &path)
    : m_file(path)
{
    savefile::removeLeftovers(path);
    m_existedAtStart = m_file.exists();
    if (m_existedAtStart)
        return;
    QList<RawLine> lines;
    for (quint16 i = 0; i < lineCount; ++i)
        lines << rawOf(lineFor(i, QLatin1String(defaultValues[i])));
    savefile::write(path, fileContent(lines));
}

SettingsFile::~SettingsFile() = default;

QString SettingsFile::folder() const
{
    return QFileInfo(m_file.fileName()).absolutePath();
}

QString SettingsFile::readLine(quint16 n)
{
    // ReadWrite, not ReadOnly: a file that could not be written back is
    // treated as unreadable, so reads and writes fail together.
    if (!m_file.open(QIODevice::ReadWrite))
        return QStringLiteral("error");
    const QString line = textOf(readLines(m_file, n).constLast());
    m_file.close();
    return line;
}

void SettingsFile::writeLine(const QString &text, quint16 n)
{
    // A line feed would split the line in two and move every later setting
    // to the wrong line (a folder name may hold one).
    if (text.contains(u'\n')) {
        reportFailure(QStringLiteral("a value cannot hold a line break"));
        return;
    }
    if (!m_file.open(QIODevice::ReadWrite)) {
        reportFailure(m_file.errorString());
        return;
    }
    QList<RawLine> lines = readLines(m_file, lineCount - 1);
    m_file.close();
    if (n < lineCount)
        lines[n] = rawOf(text);

    const QString failure = savefile::write(m_file.fileName(), fileContent(lines));
    if (!failure.isEmpty())
        reportFailure(failure);
}

void SettingsFile::setFailureReport(std::function<void(const QString &)> report)
{
    m_report = std::move(report);
}

// Once a session: a store that cannot be written fails on every confirmation.
void SettingsFile::reportFailure(const QString &reason)
{
    if (m_failureReported || !m_report)
        return;
    m_failureReported = true;
    m_report(QStringLiteral("settings not saved: %1: %2").arg(m_file.fileName(), reason));
}

QString SettingsFile::valueText(quint16 n, bool &valid)
{
    const QStringList parts = readLine(n).split(QLatin1Char('\''), Qt::KeepEmptyParts);
    valid = parts.size() >= 2 && parts.at(0) == QLatin1String(keys[n]) + QLatin1String(": ");
    return valid ? parts.at(1) : QString();
}

int SettingsFile::readInt(quint16 n, int fallback)
{
    bool valid = false;
    const QString text = valueText(n, valid);
    if (!valid)
        return fallback;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : fallback;
}

std::optional<float> SettingsFile::readSingle(quint16 n)
{
    bool valid = false;
    const QString text = valueText(n, valid);
    if (!valid)
        return std::nullopt;
    return numbers::toSingle(text);
}

// Stored at single precision but used as double; the fallback stays an exact
// double (value_or would narrow it to float).
double SettingsFile::readWidened(quint16 n, double fallback)
{
    const std::optional<float> value = readSingle(n);
    return value ? double(*value) : fallback;
}

void SettingsFile::writeValue(quint16 n, const QString &value)
{
    writeLine(lineFor(n, value), n);
}

QString SettingsFile::readFilename()
{
    bool valid = false;
    const QString text = valueText(Filename, valid);
    return valid ? text : QStringLiteral("error");
}

int SettingsFile::readRepetitionTime() { return readInt(RepetitionTime, 2); }
float SettingsFile::readElevationOffset() { return readSingle(ElevationOffset).value_or(0.0f); }
float SettingsFile::readAzimutOffset() { return readSingle(AzimutOffset).value_or(0.0f); }
int SettingsFile::readMessageDelay() { return readInt(MessageDelay, 200); }

double SettingsFile::readAzimuthRounding() { return readWidened(AzimuthRounding, 0.1); }
double SettingsFile::readElevationRounding() { return readWidened(ElevationRounding, 0.1); }
double SettingsFile::readAzimuthParking() { return readWidened(AzimuthParking, 90.0); }
double SettingsFile::readElevationParking() { return readWidened(ElevationParking, 10.0); }

void SettingsFile::writeFilename(const QString &folder) { writeValue(Filename, folder); }

void SettingsFile::writeRepetitionTime(unsigned int seconds)
{
    writeValue(RepetitionTime, QString::number(seconds));
}

// Offsets are widened first, so 0.1f is written as "0.1" at six digits.
void SettingsFile::writeElevationOffset(float degrees)
{
    writeValue(ElevationOffset, numbers::general(double(degrees)));
}

void SettingsFile::writeAzimutOffset(float degrees)
{
    writeValue(AzimutOffset, numbers::general(double(degrees)));
}

void SettingsFile::writeMessageDelay(unsigned int milliseconds)
{
    writeValue(MessageDelay, QString::number(milliseconds));
}

void SettingsFile::writeAzimuthRounding(double value)
{
    writeValue(AzimuthRounding, numbers::general(value));
}

void SettingsFile::writeElevationRounding(double value)
{
    writeValue(ElevationRounding, numbers::general(value));
}

void SettingsFile::writeAzimuthParking(double degrees)
{
    writeValue(AzimuthParking, numbers::general(degrees));
}

void SettingsFile::writeElevationParking(double degrees)
{
    writeValue(ElevationParking, numbers::general(degrees));
}

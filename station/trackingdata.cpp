// SPDX-License-Identifier: GPL-3.0-or-later
#include "station/trackingdata.h"

#include "settings/numbers.h"

#include <QFile>
#include <QStringConverter>
#include <QStringList>
#include <QTextStream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int fieldsNeeded = 17;
constexpr qsizetype maxPieceLength = 1024;

// Splits the text into comma-separated fields, numbered on across lines. A
// line longer than maxPieceLength is taken in pieces, each split on its own.
// Stops once fieldsNeeded fields are there: the rest is never looked at, and
// a large file picked by mistake must not be read whole.
class FieldCollector
{
public:
    bool full() const { return m_fields.size() >= fieldsNeeded; }
    const QStringList &fields() const { return m_fields; }

    void add(QChar c)
    {
        if (m_pendingCr) {
            m_pendingCr = false;
            if (c == u'\n') {
                endLine();
                return;
            }
            append(u'\r');
        }
        if (c == u'\n')
            endLine();
        else if (c == u'\r')
            m_pendingCr = true;  // may be the first half of CR LF
        else
            append(c);
    }

    void finish()
    {
        // A last line without terminator; a lone CR at the very end ends a
        // line too, an empty one when it follows a line feed ("\n\r").
        if (m_lineStarted || m_pendingCr)
            endLine();
    }

private:
    void append(QChar c)
    {
        m_lineStarted = true;
        if (m_piece.size() == maxPieceLength)
            takePiece();
        m_piece.append(c);
    }

    void endLine()
    {
        takePiece();  // an empty line gives one empty field
        m_lineStarted = false;
    }

    void takePiece()
    {
        m_fields += m_piece.split(u',', Qt::KeepEmptyParts);
        m_piece.clear();
    }

    QStringList m_fields;
    QString m_piece;
    bool m_lineStarted = false;
    bool m_pendingCr = false;
};

// Opens path for reading only if it is a regular file. Opened without blocking
// and checked on the open descriptor, so a named pipe or a device put in the
// file's place can neither stall the GUI thread nor be read.
bool openRegularFile(const QString &path, QFile &file)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace

bool readTrackingData(const QString &path, TrackingTarget target, TrackingRecord &record,
                      const std::function<void(const QString &)> &log)
{
    if (path.isEmpty() || !QFile::exists(path))
        return false;

    QFile file;
    if (!openRegularFile(path, file)) {
        log(QStringLiteral("File read error"));
        return false;
    }

    FieldCollector collector;
    {
        QTextStream stream(&file);
        stream.setEncoding(QStringConverter::System);
        while (!collector.full() && !stream.atEnd()) {
            const QString block = stream.read(4096);
            if (block.isEmpty())
                break;
            for (const QChar c : block) {
                collector.add(c);
                if (collector.full())
                    break;
            }
        }
        if (!collector.full())
            collector.finish();
    }
    file.close();

    const QStringList &fields = collector.fields();
    if (fields.size() < fieldsNeeded) {
        log(QStringLiteral("wrong file"));
        return false;
    }

    // Each invalid field is reported at once, so the messages follow the order
    // in which the fields are converted.
    auto convert = [&](int index, const char *message) -> double {
        const std::optional<float> value = numbers::toSingle(fields.at(index));
        if (!value) {
            log(QString::fromLatin1(message));
            return 0.0;
        }
        return double(*value);
    };

    switch (target) {
    case TrackingTarget::Moon:
        record.azimuth = convert(1, "azimuth Moon error");
        record.elevation = convert(2, "elevation Moon error");
        break;
    case TrackingTarget::Sun:
        record.azimuth = convert(5, "azimuth Sun error");
        record.elevation = convert(6, "elevation Sun error");
        break;
    case TrackingTarget::Source:
        record.azimuth = convert(9, "azimuth Source error");
        record.elevation = convert(10, "elevation Source error");
        break;
    }
    record.frequency = convert(12, "frequency error");
    record.relativeSpeed = convert(14, "relative speed error");
    record.dopplerDx = convert(13, "doppler error");
    record.dopplerHomeRate = convert(16, "relative speed Source error");
    record.dopplerHome = convert(15, "doppler Source error");
    const QTime written = QTime::fromString(fields.at(0).trimmed(), QStringLiteral("hh:mm:ss"));
    record.fileTime = written.isValid() ? std::optional<QTime>(written) : std::nullopt;
    return true;
}

const char *targetName(TrackingTarget target)
{
    switch (target) {
    case TrackingTarget::Moon:
        return "Moon";
    case TrackingTarget::Sun:
        return "Sun";
    case TrackingTarget::Source:
        return "Source";
    }
    return "";
}

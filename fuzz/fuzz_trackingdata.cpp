// SPDX-License-Identifier: GPL-3.0-or-later
// The tracking data reader on arbitrary file contents, for each target,
// against a plain reading of the layout: lines end at LF, CR LF or a CR at the
// very end; a line is split at commas in pieces of at most 1024 characters;
// the fields run on across lines; 17 are needed. Record values and messages,
// in their order, must be what those fields give.

#include "fuzzcheck.h"

#include "settings/numbers.h"
#include "station/trackingdata.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringConverter>
#include <QTextStream>

namespace {

QString path;

QStringList fieldsOf(const QString &text)
{
    QStringList lines;
    QString line;
    bool started = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool crlf = c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n';
        if (c == u'\n' || crlf || (c == u'\r' && i + 1 == text.size())) {
            lines << line;
            line.clear();
            started = false;
            i += crlf ? 1 : 0;
        } else {
            line += c;
            started = true;
        }
    }
    if (started)
        lines << line;

    QStringList fields;
    for (const QString &whole : std::as_const(lines)) {
        if (whole.isEmpty())
            fields << QString();
        for (qsizetype at = 0; at < whole.size(); at += 1024)
            fields += whole.mid(at, 1024).split(u',');
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    path = QDir::temp().filePath(QStringLiteral("vestrel-fuzz-%1.txt").arg(QCoreApplication::applicationPid()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), file.errorString());
        file.write(content);
    }
    // Decoded as the reader decodes (the local encoding, a byte order mark honoured).
    QByteArray copy = content;
    QTextStream stream(&copy);
    stream.setEncoding(QStringConverter::System);
    const QStringList fields = fieldsOf(stream.readAll());

    struct Target {
        TrackingTarget target;
        int azimuth;
        const char *name;
    };
    for (const Target &t : {Target {TrackingTarget::Moon, 1, "Moon"}, Target {TrackingTarget::Sun, 5, "Sun"},
                            Target {TrackingTarget::Source, 9, "Source"}}) {
        TrackingRecord record;
        QStringList messages;
        const bool ok = readTrackingData(path, t.target, record, [&](const QString &m) { messages << m; });

        QStringList expectedMessages;
        TrackingRecord expected;
        auto field = [&](int index, const QString &message) {
            const std::optional<float> value = numbers::toSingle(fields.at(index));
            if (!value)
                expectedMessages << message;
            return value ? double(*value) : 0.0;
        };
        const bool enough = fields.size() >= 17;
        if (!enough) {
            expectedMessages << QStringLiteral("wrong file");
        } else {
            expected.azimuth = field(t.azimuth, QStringLiteral("azimuth %1 error").arg(QLatin1String(t.name)));
            expected.elevation = field(t.azimuth + 1, QStringLiteral("elevation %1 error").arg(QLatin1String(t.name)));
            expected.frequency = field(12, QStringLiteral("frequency error"));
            expected.relativeSpeed = field(14, QStringLiteral("relative speed error"));
            expected.dopplerDx = field(13, QStringLiteral("doppler error"));
            field(16, QStringLiteral("relative speed Source error"));
            expected.dopplerHome = field(15, QStringLiteral("doppler Source error"));
        }
        auto where = [&] { return QStringLiteral("%1 fields, target %2").arg(fields.size()).arg(QLatin1String(t.name)); };
        FUZZ_CHECK(ok == enough, where());
        FUZZ_CHECK(messages == expectedMessages, where() + QStringLiteral(": messages %1, expected %2")
                                                     .arg(messages.join(u'|'), expectedMessages.join(u'|')));
        if (ok) {
            FUZZ_CHECK(record.azimuth == expected.azimuth && record.elevation == expected.elevation
                           && record.frequency == expected.frequency && record.relativeSpeed == expected.relativeSpeed
                           && record.dopplerDx == expected.dopplerDx && record.dopplerHome == expected.dopplerHome,
                       where());
        }
    }
    return 0;
}

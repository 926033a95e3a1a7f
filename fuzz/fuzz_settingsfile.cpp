// SPDX-License-Identifier: GPL-3.0-or-later
// The settings store on an arbitrary store.cfg, then arbitrary writes: every
// read gives what its line holds (or the default), and after every write the
// file has exactly nine lines, the written one as formatted and read back as
// written, every other line's bytes unchanged.

#include "fuzzcheck.h"

#include "settings/numbers.h"
#include "settings/settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString path;

const char *const keys[9] = {"filename",           "repetition time", "elevation offset",
                             "azimut offset",      "message delay",   "azimuth rounding",
                             "elevation rounding", "azimuth parking", "elevation parking"};

QByteArray contentOf()
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The first nine lines as the store takes them: without LF and one CR before it.
QList<QByteArray> nineLines(const QByteArray &content)
{
    QList<QByteArray> lines = content.split('\n');
    if (content.endsWith('\n'))
        lines.removeLast();
    lines.resize(9);
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

// The value text of line n, empty when the line does not carry its key.
std::optional<QString> valueOf(const QByteArray &line, int n)
{
    const QStringList parts = QString::fromLocal8Bit(line).split(u'\'');
    if (parts.size() < 2 || parts.at(0) != QLatin1String(keys[n]) + QLatin1String(": "))
        return std::nullopt;
    return parts.at(1);
}

double single(const std::optional<QString> &text, double fallback)
{
    const std::optional<float> value = text ? numbers::toSingle(*text) : std::nullopt;
    return value ? double(*value) : fallback;
}

int integer(const std::optional<QString> &text, int fallback)
{
    bool ok = false;
    const int value = text ? text->toInt(&ok, 10) : 0;
    return ok ? value : fallback;
}

void checkReads(SettingsFile &store)
{
    const QByteArray content = contentOf();
    const QList<QByteArray> lines = nineLines(content);
    auto value = [&](int n) { return valueOf(lines.at(n), n); };
    auto where = [&] { return QStringLiteral("file %1").arg(fuzzing::hex(content.left(200))); };
    FUZZ_CHECK(store.readFilename() == value(0).value_or(QStringLiteral("error")), where());
    FUZZ_CHECK(store.readRepetitionTime() == integer(value(1), 2), where());
    FUZZ_CHECK(double(store.readElevationOffset()) == single(value(2), 0.0), where());
    FUZZ_CHECK(double(store.readAzimutOffset()) == single(value(3), 0.0), where());
    FUZZ_CHECK(store.readMessageDelay() == integer(value(4), 200), where());
    FUZZ_CHECK(store.readAzimuthRounding() == single(value(5), 0.1), where());
    FUZZ_CHECK(store.readElevationRounding() == single(value(6), 0.1), where());
    FUZZ_CHECK(store.readAzimuthParking() == single(value(7), 90.0), where());
    FUZZ_CHECK(store.readElevationParking() == single(value(8), 10.0), where());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    path = QDir::temp().filePath(QStringLiteral("vestrel-fuzz-%1.cfg").arg(QCoreApplication::applicationPid()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const int writes = input.ConsumeIntegralInRange(0, 4);
    const std::string start = input.ConsumeRandomLengthString(2000);
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), file.errorString());
        file.write(start.data(), qint64(start.size()));
    }
    SettingsFile store(path);
    checkReads(store);

    for (int i = 0; i < writes && input.remaining_bytes() > 0; ++i) {
        const QByteArray previous = contentOf();
        const QList<QByteArray> before = nineLines(previous);
        const int n = input.ConsumeIntegralInRange(0, 8);
        const double number = input.ConsumeFloatingPoint<double>();
        const unsigned int whole = input.ConsumeIntegral<unsigned int>();
        const std::string text = input.ConsumeRandomLengthString(300);
        const QString folder = QString::fromUtf8(text.data(), qsizetype(text.size()));
        QString written;  // the value text the line must carry
        switch (n) {
        case 0: store.writeFilename(folder); written = folder; break;
        case 1: store.writeRepetitionTime(whole); written = QString::number(whole); break;
        case 2: store.writeElevationOffset(float(number)); written = numbers::general(double(float(number))); break;
        case 3: store.writeAzimutOffset(float(number)); written = numbers::general(double(float(number))); break;
        case 4: store.writeMessageDelay(whole); written = QString::number(whole); break;
        case 5: store.writeAzimuthRounding(number); written = numbers::general(number); break;
        case 6: store.writeElevationRounding(number); written = numbers::general(number); break;
        case 7: store.writeAzimuthParking(number); written = numbers::general(number); break;
        default: store.writeElevationParking(number); written = numbers::general(number); break;
        }
        const QByteArray content = contentOf();
        if (written.contains(u'\n')) {
            // A line break cannot be stored: nothing is written.
            FUZZ_CHECK(content == previous, QStringLiteral("written with a line break"));
            continue;
        }
        auto where = [&] {
            return QStringLiteral("line %1 written with \"%2\"; file %3")
                .arg(n)
                .arg(written, fuzzing::hex(content.left(300)));
        };
        FUZZ_CHECK(content.count('\n') == 9 && content.endsWith('\n'), where());
        const QList<QByteArray> after = nineLines(content);
        for (int line = 0; line < 9; ++line) {
            if (line == n)
                FUZZ_CHECK(QString::fromLocal8Bit(after.at(line))
                               == QStringLiteral("%1: '%2'").arg(QLatin1String(keys[n]), written),
                           where());
            else
                FUZZ_CHECK(after.at(line) == before.at(line), where() + QStringLiteral(": line %1 changed").arg(line));
        }
        checkReads(store);
    }
    return 0;
}

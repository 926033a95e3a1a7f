// SPDX-License-Identifier: GPL-3.0-or-later
// vestrel-ephemeris: keeps the tracking data file up to date from the
// station's locator, the DX station's locator and the operating frequency.

#include "ephemeris/ephemeriswriter.h"
#include "startup/quitonterminate.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cmath>

namespace {

int fail(const QString &message)
{
    QTextStream(stderr) << "vestrel-ephemeris: " << message << '\n';
    return 2;
}

// "2026-12-07T04:30:48Z"; a time without zone is taken as UTC too.
std::optional<QDateTime> parseUtc(const QString &text)
{
    QDateTime time = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!time.isValid())
        return std::nullopt;
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    return time.toUTC();
}

void say(const QString &line)
{
    QTextStream(stdout) << "vestrel-ephemeris: " << line << '\n';
}

QString utcText(const QDateTime &utc)
{
    return utc.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral(" UTC");
}

// What one write puts in the file, for --verbose.
QString writtenLine(const SkySnapshot &sky)
{
    return QStringLiteral("%1: Moon az %2 el %3, Doppler own echo %4 Hz, DX %5 Hz")
        .arg(sky.utc.toString(QStringLiteral("hh:mm:ss")))
        .arg(sky.moonAzimuth, 0, 'f', 1)
        .arg(sky.moonElevation, 0, 'f', 1)
        .arg(std::round(sky.selfDopplerHz), 0, 'f', 0)
        .arg(std::round(sky.dxDopplerHz), 0, 'f', 0);
}

std::optional<double> parsePositive(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value <= 0.0)
        return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vestrel-ephemeris"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VESTREL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the tracking data file (Moon and Sun azimuth and elevation, own-echo and DX Doppler)\n"
        "once a second, replacing it atomically. With --source its Source line follows a radio source.\n"
        "Says at start what it writes and where; with --verbose a line for every write."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption locatorOption(QStringLiteral("locator"),
                                           QStringLiteral("Own Maidenhead locator, 4 or 6 characters (required)."),
                                           QStringLiteral("locator"));
    const QCommandLineOption dxOption(QStringLiteral("dx"),
                                      QStringLiteral("DX station's locator (default: own locator)."),
                                      QStringLiteral("locator"));
    const QCommandLineOption mhzOption(QStringLiteral("mhz"), QStringLiteral("Dial frequency in MHz (required)."),
                                       QStringLiteral("MHz"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("File to write (default: azel.dat)."),
                                       QStringLiteral("path"), QStringLiteral("azel.dat"));
    const QCommandLineOption atOption(QStringLiteral("at"),
                                      QStringLiteral("Start the clock at this UTC time, e.g. 2026-12-07T04:30:48Z."),
                                      QStringLiteral("time"));
    const QCommandLineOption rateOption(QStringLiteral("rate"),
                                        QStringLiteral("Run the clock this many times faster than real time."),
                                        QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption onceOption(QStringLiteral("once"), QStringLiteral("Write one file and exit."));
    const QCommandLineOption txOption(QStringLiteral("tx"), QStringLiteral("Mark the file as transmitting (T)."));
    const QCommandLineOption sourceOption(
        QStringLiteral("source"),
        QStringLiteral("Radio source for the Source line: %1, or J2000 right ascension and declination "
                       "such as \"23h23m24s +58d48m54s\" or \"350.85 58.815\" (degrees). Default: none, and the "
                       "Source line holds \"---\" for its azimuth and elevation.")
            .arg(radiosource::names().join(QStringLiteral(", "))),
        QStringLiteral("source"));
    const QCommandLineOption refractionOption(
        QStringLiteral("refraction"),
        QStringLiteral("Elevations as seen through the air (standard atmosphere) instead of geometric ones."));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Say every write: its time, the Moon's place and the Doppler."));
    parser.addOptions({locatorOption, dxOption, mhzOption, outOption, atOption, rateOption, onceOption, txOption,
                       sourceOption, refractionOption, verboseOption});
    if (!parser.parse(application.arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));

    EphemerisWriter writer;
    if (!parser.isSet(locatorOption))
        return fail(QStringLiteral("--locator is required"));
    if (!writer.setHome(parser.value(locatorOption)))
        return fail(QStringLiteral("bad locator '%1' (4 or 6 characters, e.g. JO70 or JO70fd)")
                        .arg(parser.value(locatorOption)));
    if (parser.isSet(dxOption) && !writer.setDx(parser.value(dxOption)))
        return fail(QStringLiteral("bad DX locator '%1' (4 or 6 characters, e.g. FN31 or FN31pr)")
                        .arg(parser.value(dxOption)));
    if (!parser.isSet(mhzOption))
        return fail(QStringLiteral("--mhz is required"));
    const std::optional<double> mhz = parsePositive(parser.value(mhzOption));
    if (!mhz || !writer.setFrequencyMHz(*mhz))
        return fail(QStringLiteral("bad frequency '%1' (MHz, above 0 and below 100000)").arg(parser.value(mhzOption)));
    const std::optional<double> rate = parsePositive(parser.value(rateOption));
    if (!rate)
        return fail(QStringLiteral("bad rate '%1' (a positive factor)").arg(parser.value(rateOption)));
    if (parser.isSet(atOption)) {
        const std::optional<QDateTime> at = parseUtc(parser.value(atOption));
        if (!at)
            return fail(QStringLiteral("bad time '%1' (UTC as 2026-12-07T04:30:48Z)").arg(parser.value(atOption)));
        writer.setClock(*at, *rate);
    } else if (*rate != 1.0) {
        writer.setClock(QDateTime::currentDateTimeUtc(), *rate);
    }
    SkyOptions sky;
    sky.refraction = parser.isSet(refractionOption);
    if (parser.isSet(sourceOption)) {
        QString problem;
        sky.source = radiosource::fromText(parser.value(sourceOption), &problem);
        if (!sky.source)
            return fail(QStringLiteral("bad source: %1").arg(problem));
    }
    writer.setSkyOptions(sky);
    writer.setOutputPath(parser.value(outOption));
    writer.setTransmitting(parser.isSet(txOption));

    const bool once = parser.isSet(onceOption);
    QString what = QStringLiteral("the Moon and the Sun as seen from %1").arg(parser.value(locatorOption));
    what += sky.source ? QStringLiteral(", the Source %1").arg(sky.source->name)
                       : QStringLiteral(", the Source line without a position");
    what += QStringLiteral(", the own-echo Doppler");
    if (parser.isSet(dxOption))
        what += QStringLiteral(" and the DX Doppler for %1").arg(parser.value(dxOption));
    what += QStringLiteral(" at %1 MHz").arg(*mhz, 0, 'g', 10);
    if (sky.refraction)
        what += QStringLiteral(", elevations refracted");
    what += parser.isSet(txOption) ? QStringLiteral(", marked transmitting") : QStringLiteral(", marked receiving");
    QString when;
    if (once)
        when = QStringLiteral("once, for %1").arg(writer.hasOwnClock() ? utcText(writer.now()) : QStringLiteral("now"));
    else if (!writer.hasOwnClock())
        when = QStringLiteral("every second");
    else if (writer.clockRate() == 1.0)
        when = QStringLiteral("every second of a clock that starts at %1").arg(utcText(writer.now()));
    else
        when = QStringLiteral("every second of a clock that starts at %1 and runs %2 times as fast as real time")
                   .arg(utcText(writer.now()))
                   .arg(writer.clockRate(), 0, 'g', 6);
    say(QStringLiteral("writing %1 %2: %3").arg(QFileInfo(parser.value(outOption)).absoluteFilePath(), when, what));
    if (parser.isSet(verboseOption))
        QObject::connect(&writer, &EphemerisWriter::written,
                         [](const SkySnapshot &written) { say(writtenLine(written)); });

    // A first write that fails is a set-up mistake; later ones may be passing
    // trouble (a full disk, a share gone away), so keep trying and say so once.
    if (once)
        return writer.writeOnce() ? 0 : fail(writer.lastError());
    // Ctrl-C and kill end the event loop instead of the process, so a
    // replacement under way is finished and leaves no temporary file behind.
    const startup::QuitOnTerminate quitOnTerminate(application);
    if (!writer.start())
        return fail(writer.lastError());

    bool failing = false;
    QObject::connect(&writer, &EphemerisWriter::failed, [&](const QString &error) {
        if (!failing)
            QTextStream(stderr) << "vestrel-ephemeris: " << error << '\n';
        failing = true;
    });
    QObject::connect(&writer, &EphemerisWriter::written, [&] {
        if (failing)
            QTextStream(stderr) << "vestrel-ephemeris: writing again\n";
        failing = false;
    });
    return application.exec();
}

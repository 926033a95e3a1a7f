// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/ephemeris.h"
#include "settings/sourcesettings.h"
#include "station/trackingsource.h"
#include "erfareference.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(RadioSource)
Q_DECLARE_METATYPE(GeoPosition)

// Radio sources: typed positions are read or refused with a reason, and the
// place the station computes agrees with ERFA's full reduction.
class TestCoreRadioSources : public QObject
{
    Q_OBJECT

private slots:
    void parses_data();
    void parses();
    void refuses_data();
    void refuses();
    void agreesWithErfa_data();
    void agreesWithErfa();
    void refractionAgreesWithErfa();
    void skySourceFollowsIt_data();
    void skySourceFollowsIt();
    void settingsKeepIt_data();
    void settingsKeepIt();
};

void TestCoreRadioSources::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("ra");
    QTest::addColumn<double>("dec");

    const double casRa = 350.85, casDec = 58.815;
    QTest::newRow("name") << "Cas A" << casRa << casDec;
    QTest::newRow("Sgr A without star") << "Sgr A" << 266.41683 << -29.00782;
    QTest::newRow("hours and degrees") << "23h23m24s +58d48m54s" << casRa << casDec;
    QTest::newRow("colons") << "23:23:24 +58:48:54" << casRa << casDec;
    QTest::newRow("six numbers") << "  23 23 24   58 48 54 " << casRa << casDec;
    QTest::newRow("degree and minute signs") << "23h23m24.0s 58\u00b048'54\"" << casRa << casDec;
    QTest::newRow("decimal degrees") << "350.85 58.815" << casRa << casDec;
    QTest::newRow("south, under one degree") << "17h45m40s -00d30m" << 266.41667 << -0.5;
    QTest::newRow("hours only") << "12h -5" << 180.0 << -5.0;
    QTest::newRow("pole") << "0 90" << 0.0 << 90.0;
}

void TestCoreRadioSources::parses()
{
    QFETCH(QString, text);
    QFETCH(double, ra);
    QFETCH(double, dec);
    QString problem;
    const auto source = radiosource::fromText(text, &problem);
    QVERIFY2(source, qPrintable(problem));
    QVERIFY2(std::fabs(source->raDeg - ra) < 1e-4, qPrintable(QString::number(source->raDeg, 'f', 6)));
    QVERIFY2(std::fabs(source->decDeg - dec) < 1e-4, qPrintable(QString::number(source->decDeg, 'f', 6)));
    // What is stored in source.cfg is the name; it must give the same place.
    const auto again = radiosource::fromText(source->name);
    QVERIFY2(again, qPrintable(source->name));
    QVERIFY(std::fabs(again->raDeg - source->raDeg) < 1e-5 && std::fabs(again->decDeg - source->decDeg) < 1e-5);
}

void TestCoreRadioSources::refuses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");

    QTest::newRow("empty") << "  " << "no radio source given";
    QTest::newRow("unknown name") << "Crab" << "'Crab' is neither a known source (Cas A, Cyg A";
    QTest::newRow("one number") << "350.85" << "nor a right ascension and declination";
    QTest::newRow("hours past 24") << "24h00m +10d" << "right ascension '24h00m' is not below 24h";
    QTest::newRow("degrees past 360") << "360 10" << "right ascension '360' is not below 360 degrees";
    QTest::newRow("negative right ascension") << "-10 10" << "'-10' is not a right ascension";
    QTest::newRow("minutes of 60") << "23h60m +10d" << "'23h60m' is not a right ascension";
    QTest::newRow("seconds of 60") << "10h +10d20m60s" << "'+10d20m60s' is not a declination";
    QTest::newRow("declination past the pole") << "10h -90.5" << "declination '-90.5' is beyond 90 degrees";
    QTest::newRow("hours for declination") << "10h 10h" << "'10h' is not a declination";
    QTest::newRow("not a number") << "nan 10" << "'nan' is not a right ascension";
    QTest::newRow("too long") << QString(65, u'1') << "longer than 64 characters";
}

void TestCoreRadioSources::refuses()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    QString problem;
    QVERIFY(!radiosource::fromText(text, &problem));
    QVERIFY2(problem.contains(message), qPrintable(problem));
}

void TestCoreRadioSources::agreesWithErfa_data()
{
    QTest::addColumn<RadioSource>("source");
    QTest::addColumn<GeoPosition>("station");

    // Equator, mid and high north, the south; the two sites where Cas A and
    // Sgr A* pass through the zenith; each source sweeps the horizon too.
    const QList<QPair<const char *, GeoPosition>> stations {
        {"equator", {0.0, -78.5}}, {"52N", {52.0, 13.4}},     {"70N", {70.0, 25.0}},
        {"35S", {-35.0, 149.1}},   {"58.8N", {58.815, -3.0}}, {"29S", {-29.0078, 21.4}},
    };
    for (const RadioSource &source : radiosource::catalogue()) {
        for (const auto &[name, station] : stations)
            QTest::newRow(qPrintable(source.name + QLatin1Char(' ') + QLatin1String(name))) << source << station;
    }
    QTest::newRow("typed, near the pole, 70N") << *radiosource::fromText(QStringLiteral("02h31m49s +89d15m51s"))
                                                << GeoPosition {70.0, 25.0};
}

void TestCoreRadioSources::agreesWithErfa()
{
    QFETCH(RadioSource, source);
    QFETCH(GeoPosition, station);

    // Across a day every 7 minutes, in three years a generation apart.
    double lowest = 90, highest = -90;
    for (const QDate date : {QDate(2001, 3, 20), QDate(2026, 12, 7), QDate(2044, 7, 1)}) {
        for (int minute = 0; minute < 24 * 60; minute += 7) {
            const QDateTime utc = QDateTime(date, QTime(0, 0), Qt::UTC).addSecs(minute * 60 + 13);
            const HorizontalPlace ours = radioSourcePlace(source, station, utc);
            const auto theirs = erfareference::place(source, station, utc);
            QVERIFY(theirs);
            const double apart = erfareference::separationDeg(ours, *theirs);
            QVERIFY2(apart < 0.01, qPrintable(QStringLiteral("%1: %2 deg apart at az %3 el %4")
                                                  .arg(utc.toString(Qt::ISODate))
                                                  .arg(apart)
                                                  .arg(theirs->azimuth)
                                                  .arg(theirs->elevation)));
            lowest = std::min(lowest, std::fabs(ours.elevation));
            highest = std::max(highest, ours.elevation);
        }
    }
    // The sweep did pass near the horizon wherever the source rises and sets.
    if (std::fabs(source.decDeg) < 90.0 - std::fabs(station.latitudeDeg))
        QVERIFY2(lowest < 1.0, qPrintable(QString::number(lowest)));
    if (std::fabs(station.latitudeDeg - source.decDeg) < 0.01)
        QVERIFY2(highest > 89.0, qPrintable(QString::number(highest)));
}

void TestCoreRadioSources::refractionAgreesWithErfa()
{
    // Above 15 degrees ERFA's two-term model is good to an arc second, so
    // both lifts must agree; lower down the models part ways by design.
    const RadioSource cyg = radiosource::catalogue().at(1);
    const GeoPosition station {52.0, 13.4};
    int compared = 0;
    for (int minute = 0; minute < 24 * 60; minute += 5) {
        const QDateTime utc = QDateTime(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC).addSecs(minute * 60);
        HorizontalPlace ours = radioSourcePlace(cyg, station, utc);
        if (ours.elevation < 15.0)
            continue;
        ours.elevation += refractionDeg(ours.elevation);
        const auto theirs = erfareference::place(cyg, station, utc, {1010.0, 10.0});
        QVERIFY(theirs);
        QVERIFY2(erfareference::separationDeg(ours, *theirs) < 0.01,
                 qPrintable(QStringLiteral("el %1: %2 against %3").arg(ours.elevation).arg(theirs->elevation)));
        ++compared;
    }
    QVERIFY(compared > 50);

    // Near the horizon the lift is taken for the geometric elevation: what
    // lies 34.5 arc minutes below is seen on the horizon (Bennett's R(0)).
    const double belowHorizon = -34.46 / 60.0;
    QVERIFY2(std::fabs(belowHorizon + refractionDeg(belowHorizon)) < 0.002,
             qPrintable(QString::number(refractionDeg(belowHorizon))));
}

void TestCoreRadioSources::skySourceFollowsIt_data()
{
    QTest::addColumn<QString>("radio");
    QTest::addColumn<bool>("refraction");
    QTest::addColumn<int>("target");
    QTest::newRow("Source: the radio source") << "Cyg A" << false << int(TrackingTarget::Source);
    QTest::newRow("Source, refracted") << "Cyg A" << true << int(TrackingTarget::Source);
    QTest::newRow("Source without a radio source") << "" << false << int(TrackingTarget::Source);
    QTest::newRow("Moon beside a radio source") << "Cyg A" << false << int(TrackingTarget::Moon);
    QTest::newRow("Moon, refracted") << "" << true << int(TrackingTarget::Moon);
}

// The built-in sky gives the radio source for the Source target, with no
// echo Doppler; the Moon keeps its place and Doppler beside it.
void TestCoreRadioSources::skySourceFollowsIt()
{
    QFETCH(QString, radio);
    QFETCH(bool, refraction);
    QFETCH(int, target);
    const GeoPosition home {50.2, 15.8};
    const GeoPosition dx {40.7, -74.0};
    const QDateTime utc(QDate(2026, 12, 7), QTime(4, 30, 48), Qt::UTC);
    SkyOptions options;
    options.source = radiosource::fromText(radio);
    options.refraction = refraction;
    SkyTrackingSource sky(home, dx, 1296.1, options);
    sky.setClock([&] { return utc; });
    TrackingRecord record;
    QStringList said;
    const bool read = sky.read(TrackingTarget(target), record, [&said](const QString &text) { said << text; });
    if (TrackingTarget(target) == TrackingTarget::Source && !options.source) {
        // No radio source, no place: nothing to steer to, and the log says why.
        QVERIFY(!read);
        QCOMPARE(said, QStringList {SkyTrackingSource::noRadioSource()});
        return;
    }
    QVERIFY(read);

    const SkySnapshot plain = computeSky(home, dx, 1296.1, utc);
    double azimuth = plain.moonAzimuth, elevation = plain.moonElevation;
    bool echo = true;
    if (TrackingTarget(target) == TrackingTarget::Source) {
        const HorizontalPlace place =
            options.source ? radioSourcePlace(*options.source, home, utc) : HorizontalPlace {};
        azimuth = place.azimuth;
        elevation = place.elevation;
        echo = !options.source;
    }
    if (refraction)
        elevation += refractionDeg(elevation);
    QCOMPARE(record.azimuth, azimuth);
    QCOMPARE(record.elevation, elevation);
    QCOMPARE(record.dopplerHome, echo ? plain.selfDopplerHz : 0.0);
    QCOMPARE(record.dopplerDx, echo ? plain.dxDopplerHz : 0.0);
    QVERIFY(!echo || record.dopplerHome != 0.0);
}

void TestCoreRadioSources::settingsKeepIt_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("radio");
    QTest::addColumn<bool>("refraction");
    QTest::newRow("file from before: none, off") << QByteArray("tracking source: 'built-in'\n") << "" << false;
    QTest::newRow("name, on") << QByteArray("radio source: 'Cas A'\nrefraction: 'on'\n") << "Cas A" << true;
    QTest::newRow("coordinates") << QByteArray("radio source: '23h23m24s +58d48m54s'\n") << "23h23m24s +58d48m54s"
                                 << false;
    QTest::newRow("bad coordinates ignored") << QByteArray("radio source: '25h 91d'\nrefraction: 'yes'\n") << ""
                                             << false;
}

// New keys beside the old ones: a file without them means no radio source
// and no refraction; a bad value is dropped, not used.
void TestCoreRadioSources::settingsKeepIt()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, radio);
    QFETCH(bool, refraction);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("source.cfg"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    out.close();
    const SourceSettings settings = SourceSettings::read(path);
    QCOMPARE(settings.radioSource, radio);
    QCOMPARE(settings.refraction, refraction);
    QVERIFY(settings.write(path));
    QCOMPARE(SourceSettings::read(path), settings);
}

QTEST_GUILESS_MAIN(TestCoreRadioSources)
#include "tst_coreradiosources.moc"

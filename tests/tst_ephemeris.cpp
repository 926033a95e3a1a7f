// SPDX-License-Identifier: GPL-3.0-or-later
#include "ephemeris/ephemeris.h"
#include "station/trackingdata.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(TrackingTarget)

namespace {

constexpr double speedOfLightMPerS = 299792458.0;

// Doppler equivalent of 3.5 m/s radial velocity on the echo path.
double dopplerTolerance(double mhz)
{
    return 2.0 * mhz * 1e6 * 3.5 / speedOfLightMPerS;
}

double angleDifference(double a, double b)
{
    return std::fabs(std::remainder(a - b, 360.0));
}

GeoPosition at(const char *locator)
{
    return positionOfLocator(QString::fromLatin1(locator)).value_or(GeoPosition {-999, -999});
}

} // namespace

class TestEphemeris : public QObject
{
    Q_OBJECT

private slots:
    void locators_data();
    void locators();
    void fixedFields_data();
    void fixedFields();
    void integerFields_data();
    void integerFields();
    void fileLayout_data();
    void fileLayout();
    void referenceFigures_data();
    void referenceFigures();
    void sameStationDopplerIsOwnEcho();
    void readBackByTrackingReader_data();
    void readBackByTrackingReader();
};

void TestEphemeris::locators_data()
{
    QTest::addColumn<QString>("locator");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("latitude");
    QTest::addColumn<double>("longitude");

    // A square alone is its subsquare "mm", as WSJT-X takes it, not its centre.
    QTest::newRow("square as its subsquare mm") << "JO70" << true << 50.0 + 12.5 / 24 << 14.0 + 12.5 / 12;
    QTest::newRow("subsquare centre") << "JO70FD" << true << 50.0 + 3.5 / 24 << 14.0 + 5.5 / 12;
    QTest::newRow("lower case") << "jo70fd" << true << 50.0 + 3.5 / 24 << 14.0 + 5.5 / 12;
    QTest::newRow("mixed case, west") << "FN31pr" << true << 41.0 + 17.5 / 24 << -74.0 + 15.5 / 12;
    QTest::newRow("south-west corner") << "AA00aa" << true << -90.0 + 0.5 / 24 << -180.0 + 0.5 / 12;
    QTest::newRow("north-east corner") << "RR99xx" << true << 90.0 - 0.5 / 24 << 180.0 - 0.5 / 12;
    QTest::newRow("southern, 4 chars") << "GG66" << true << -24.0 + 12.5 / 24 << -48.0 + 12.5 / 12;
    QTest::newRow("surrounding blanks") << " JO70 " << true << 50.0 + 12.5 / 24 << 14.0 + 12.5 / 12;

    QTest::newRow("empty") << "" << false << 0.0 << 0.0;
    QTest::newRow("field only") << "JO" << false << 0.0 << 0.0;
    QTest::newRow("5 chars") << "JO70F" << false << 0.0 << 0.0;
    QTest::newRow("8 chars") << "JO70FD12" << false << 0.0 << 0.0;
    QTest::newRow("field past R") << "SO70" << false << 0.0 << 0.0;
    QTest::newRow("letter for digit") << "JOA0" << false << 0.0 << 0.0;
    QTest::newRow("digit for letter") << "J070" << false << 0.0 << 0.0;
    QTest::newRow("subsquare past X") << "JO70YA" << false << 0.0 << 0.0;
    QTest::newRow("digit subsquare") << "JO7012" << false << 0.0 << 0.0;
    QTest::newRow("inner blank") << "JO 70" << false << 0.0 << 0.0;
}

void TestEphemeris::locators()
{
    QFETCH(QString, locator);
    QFETCH(bool, valid);
    QFETCH(double, latitude);
    QFETCH(double, longitude);

    const std::optional<GeoPosition> position = positionOfLocator(locator);
    QCOMPARE(position.has_value(), valid);
    if (!valid)
        return;
    QVERIFY2(std::fabs(position->latitudeDeg - latitude) < 1e-9, qPrintable(QString::number(position->latitudeDeg)));
    QVERIFY2(std::fabs(position->longitudeDeg - longitude) < 1e-9,
             qPrintable(QString::number(position->longitudeDeg)));
}

void TestEphemeris::fixedFields_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("text");

    const double nan = std::nan("");
    QTest::newRow("azimuth") << 118.14 << 5 << 1 << QByteArray("118.1");
    QTest::newRow("small elevation") << 5.24 << 5 << 1 << QByteArray("  5.2");
    QTest::newRow("negative elevation") << -8.66 << 5 << 1 << QByteArray(" -8.7");
    QTest::newRow("two-digit negative") << -59.44 << 5 << 1 << QByteArray("-59.4");
    QTest::newRow("zero") << 0.0 << 5 << 1 << QByteArray("  0.0");
    QTest::newRow("just below zero keeps sign") << -0.04 << 5 << 1 << QByteArray(" -0.0");
    QTest::newRow("fills the field") << 999.94 << 5 << 1 << QByteArray("999.9");
    QTest::newRow("rounds past the field") << 999.96 << 5 << 1 << QByteArray("*****");
    QTest::newRow("negative past the field") << -100.0 << 5 << 1 << QByteArray("*****");
    QTest::newRow("negative rounds past") << -99.96 << 5 << 1 << QByteArray("*****");
    QTest::newRow("not a number") << nan << 5 << 1 << QByteArray("*****");
    QTest::newRow("infinite") << HUGE_VAL << 8 << 1 << QByteArray("********");
    QTest::newRow("doppler") << 423.0 << 8 << 1 << QByteArray("   423.0");
    QTest::newRow("negative doppler") << -2080.0 << 8 << 1 << QByteArray(" -2080.0");
    QTest::newRow("10 GHz doppler fits") << -54321.0 << 8 << 1 << QByteArray("-54321.0");
    QTest::newRow("24 GHz doppler does not") << -128000.0 << 8 << 1 << QByteArray("********");
    QTest::newRow("rate") << -0.934 << 8 << 2 << QByteArray("   -0.93");
    QTest::newRow("rate fills") << -9999.99 << 8 << 2 << QByteArray("-9999.99");
    QTest::newRow("rate too wide") << 123456.7 << 8 << 2 << QByteArray("********");
    QTest::newRow("optional zero dropped") << 0.5 << 2 << 1 << QByteArray(".5");
    QTest::newRow("negative, zero dropped") << -0.5 << 3 << 1 << QByteArray("-.5");
}

void TestEphemeris::fixedFields()
{
    QFETCH(double, value);
    QFETCH(int, width);
    QFETCH(int, decimals);
    QFETCH(QByteArray, text);
    QCOMPARE(fortranFixed(value, width, decimals), text);
}

void TestEphemeris::integerFields_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("2 m") << 144.0 << QByteArray("  144");
    QTest::newRow("3 cm") << 10368.0 << QByteArray("10368");
    QTest::newRow("too wide") << 100000.0 << QByteArray("*****");
    QTest::newRow("negative") << -5.0 << QByteArray("   -5");
    QTest::newRow("negative too wide") << -10000.0 << QByteArray("*****");
    QTest::newRow("not a number") << std::nan("") << QByteArray("*****");
}

void TestEphemeris::integerFields()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(fortranInteger(value, 5), text);
}

void TestEphemeris::fileLayout_data()
{
    QTest::addColumn<double>("mhz");
    QTest::addColumn<double>("dxDoppler");
    QTest::addColumn<double>("selfDoppler");
    QTest::addColumn<bool>("transmitting");
    QTest::addColumn<QByteArray>("lastLine");

    // Doppler goes out in whole hertz (halves away from zero), the dial
    // frequency in whole MHz, dropping the fraction.
    QTest::newRow("receiving") << 432.065 << 423.4 << 633.6 << false
                               << QByteArray("  432,   423.0,    1.27,   634.0,   -0.93,Doppler, R\n");
    QTest::newRow("transmitting") << 432.065 << 423.4 << 633.6 << true
                                  << QByteArray("  432,   423.0,    1.27,   634.0,   -0.93,Doppler, T\n");
    QTest::newRow("halves away from zero") << 144.999 << -98.5 << 98.5 << false
                                           << QByteArray("  144,   -99.0,    1.27,    99.0,   -0.93,Doppler, R\n");
    QTest::newRow("no negative zero") << 144.1 << -0.4 << 0.2 << false
                                      << QByteArray("  144,     0.0,    1.27,     0.0,   -0.93,Doppler, R\n");
    QTest::newRow("too wide for the fields") << 123456.0 << -128000.0 << 1e9 << false
                                             << QByteArray("*****,********,    1.27,********,   -0.93,Doppler, R\n");
}

void TestEphemeris::fileLayout()
{
    QFETCH(double, mhz);
    QFETCH(double, dxDoppler);
    QFETCH(double, selfDoppler);
    QFETCH(bool, transmitting);
    QFETCH(QByteArray, lastLine);

    SkySnapshot sky;
    sky.utc = QDateTime(QDate(2026, 12, 7), QTime(4, 30, 50, 999), Qt::UTC);
    sky.moonAzimuth = 118.14;
    sky.moonElevation = -8.66;
    sky.sunAzimuth = 100.91;
    sky.sunElevation = -20.7;
    sky.frequencyMHz = mhz;
    sky.dxDopplerHz = dxDoppler;
    sky.dxRateHzPerMin = 1.2749;
    sky.selfDopplerHz = selfDoppler;
    sky.selfRateHzPerMin = -0.934;

    const QByteArray expected = "04:30:50,118.1, -8.7,Moon\n"
                                "04:30:50,100.9,-20.7,Sun\n"
                                "04:30:50,  ---,  ---,Source\n"
        + lastLine;
    QCOMPARE(formatTrackingFile(sky, transmitting), expected);
}

void TestEphemeris::referenceFigures_data()
{
    QTest::addColumn<QDateTime>("utc");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("dx");
    QTest::addColumn<double>("mhz");
    // Moon az, el; Sun az, el; DX Doppler, rate; own-echo Doppler, rate
    QTest::addColumn<QList<double>>("figures");

    // Recorded from WSJT-X 2.6.1 (the Debian 12 package), which writes this
    // same file while its Astronomical Data window is open: run under Xvfb with
    // its clock set by libfaketime, MyGrid, DXgrid and the dial frequency as
    // below, azel.dat copied a few seconds in. WSJT-X takes a 4-character grid
    // as its subsquare "mm", and so does this station.
    auto row = [](const char *home, const char *dx, double mhz, const char *utc, const QList<double> &figures) {
        QTest::addRow("%s>%s %g MHz %s", home, dx, mhz, utc)
            << QDateTime::fromString(QString::fromLatin1(utc), Qt::ISODate) << QString::fromLatin1(home)
            << QString::fromLatin1(dx) << mhz << figures;
    };
    row("JO70FD", "FN31PR", 432.065, "2026-12-07T04:30:50Z", {118.1, -8.7, 100.9, -20.7, 423.0, 1.27, 634.0, -0.93});
    row("JO70FD", "FN31PR", 432.065, "2026-12-07T20:15:10Z", {313.3, -59.4, 296.9, -48.7, -633.0, 0.78, -381.0, 2.86});
    row("FN31PR", "JO70FD", 144.12, "2026-12-08T11:02:09Z", {118.0, -9.8, 110.3, -11.5, 98.0, -0.64, 259.0, -0.25});
    row("FN31PR", "JO70FD", 1296.065, "2027-03-15T02:45:10Z", {277.2, 34.5, 313.4, -40.3, -1398.0, 1.93, -2080.0, -4.30});
    row("IO91WM", "KP20", 144.12, "2027-03-15T18:20:08Z", {185.6, 65.6, 270.9, -3.2, -22.0, -0.86, 17.0, -1.01});
    row("IO91WM", "KP20", 1296.065, "2026-06-21T12:00:08Z", {93.7, 2.1, 178.9, 61.9, 1409.0, -2.36, 1787.0, -0.72});
    row("QF56OD", "JO70FD", 10368.2, "2026-06-21T23:40:08Z", {113.0, -26.6, 34.4, 24.1, -3648.0, 38.58, 17198.0, 62.07});
    row("QF56OD", "JO70FD", 10368.2, "2025-09-01T06:10:08Z", {88.7, 59.8, 292.2, 16.5, 10399.0, -3.39, 15552.0, -78.98});
    row("PM95VQ", "QF56OD", 432.065, "2025-09-01T15:55:08Z", {248.7, -21.1, 25.6, -42.9, -784.0, 0.82, -789.0, 0.43});
    row("PM95VQ", "QF56OD", 2304.1, "2027-01-20T09:30:10Z", {87.4, 47.8, 258.5, -19.1, 3875.0, -15.42, 4209.0, -13.90});
    row("GG66", "EM12KP", 144.12, "2027-01-20T21:05:21Z", {56.9, 5.6, 252.7, 10.8, 325.0, 0.07, 349.0, -0.51});
    row("GG66", "EM12KP", 10368.2, "2026-10-03T03:33:15Z", {59.7, -1.0, 161.0, -61.2, 20729.0, 18.10, 23837.0, -22.24});
    row("KP20", "GG66", 1296.065, "2026-10-03T16:48:14Z", {5.1, -3.7, 276.6, -8.5, -1457.0, 6.14, 46.0, 7.00});
    row("EM12KP", "PM95VQ", 432.065, "2026-12-07T08:00:13Z", {90.4, -49.4, 72.0, -65.7, -192.0, 1.94, 627.0, 2.88});
}

void TestEphemeris::referenceFigures()
{
    QFETCH(QDateTime, utc);
    QFETCH(QString, home);
    QFETCH(QString, dx);
    QFETCH(double, mhz);
    QFETCH(QList<double>, figures);

    const SkySnapshot sky = computeSky(*positionOfLocator(home), *positionOfLocator(dx), mhz, utc);
    const QString got = QStringLiteral("Moon %1 %2, Sun %3 %4, DX %5 %6, self %7 %8")
                            .arg(sky.moonAzimuth, 0, 'f', 2)
                            .arg(sky.moonElevation, 0, 'f', 2)
                            .arg(sky.sunAzimuth, 0, 'f', 2)
                            .arg(sky.sunElevation, 0, 'f', 2)
                            .arg(sky.dxDopplerHz, 0, 'f', 1)
                            .arg(sky.dxRateHzPerMin, 0, 'f', 2)
                            .arg(sky.selfDopplerHz, 0, 'f', 1)
                            .arg(sky.selfRateHzPerMin, 0, 'f', 2);

    // The reference prints tenths of a degree and whole hertz; allow for its rounding too.
    const double angle = 0.1 + 0.05;
    const double doppler = dopplerTolerance(mhz) + 0.5;
    const double rate = 0.01 + 2.0 * mhz * 1e6 * 0.01 / speedOfLightMPerS;  // and 0.01 m/s per minute
    QVERIFY2(angleDifference(sky.moonAzimuth, figures[0]) <= angle, qPrintable(got));
    QVERIFY2(std::fabs(sky.moonElevation - figures[1]) <= angle, qPrintable(got));
    QVERIFY2(angleDifference(sky.sunAzimuth, figures[2]) <= angle, qPrintable(got));
    QVERIFY2(std::fabs(sky.sunElevation - figures[3]) <= angle, qPrintable(got));
    QVERIFY2(std::fabs(sky.dxDopplerHz - figures[4]) <= doppler, qPrintable(got));
    QVERIFY2(std::fabs(sky.dxRateHzPerMin - figures[5]) <= rate, qPrintable(got));
    QVERIFY2(std::fabs(sky.selfDopplerHz - figures[6]) <= doppler, qPrintable(got));
    QVERIFY2(std::fabs(sky.selfRateHzPerMin - figures[7]) <= rate, qPrintable(got));
}

void TestEphemeris::sameStationDopplerIsOwnEcho()
{
    const SkySnapshot sky = computeSky(at("QF56od"), at("QF56od"), 1296.1, QDateTime::currentDateTimeUtc());
    QCOMPARE(sky.dxDopplerHz, sky.selfDopplerHz);
    QCOMPARE(sky.dxRateHzPerMin, sky.selfRateHzPerMin);
    // Radial speed of the Moon seen from the Earth's surface stays under 1.5 km/s.
    QVERIFY(std::fabs(sky.selfDopplerHz) < 2.0 * 1296.1e6 * 1500.0 / speedOfLightMPerS);
}

void TestEphemeris::readBackByTrackingReader_data()
{
    QTest::addColumn<TrackingTarget>("target");
    QTest::newRow("Moon") << TrackingTarget::Moon;
    QTest::newRow("Sun") << TrackingTarget::Sun;
    QTest::newRow("Source") << TrackingTarget::Source;
}

void TestEphemeris::readBackByTrackingReader()
{
    QFETCH(TrackingTarget, target);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("azel.dat"));
    const SkySnapshot sky = computeSky(at("JO70fd"), at("FN31pr"), 432.065,
                                       QDateTime(QDate(2027, 3, 15), QTime(2, 45, 10), Qt::UTC));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(formatTrackingFile(sky, true));
    file.close();

    TrackingRecord record;
    QStringList messages;
    QVERIFY(readTrackingData(path, target, record, [&](const QString &m) { messages << m; }));
    // Without a radio source the Source line holds no position, and the
    // reader says so for the Source target alone, taking 0 as it does for any
    // field that does not convert.
    const QStringList unplaced {"azimuth Source error", "elevation Source error"};
    QCOMPARE(messages, target == TrackingTarget::Source ? unplaced : QStringList());

    const double azimuth[] = {sky.moonAzimuth, sky.sunAzimuth, 0.0};
    const double elevation[] = {sky.moonElevation, sky.sunElevation, 0.0};
    const int i = int(target);
    QVERIFY(angleDifference(record.azimuth, azimuth[i]) <= 0.05 + 1e-4);
    QVERIFY(std::fabs(record.elevation - elevation[i]) <= 0.05 + 1e-4);
    QCOMPARE(record.frequency, 432.0);
    QCOMPARE(record.dopplerDx, std::round(sky.dxDopplerHz));
    QCOMPARE(record.dopplerHome, std::round(sky.selfDopplerHz));
    QVERIFY(std::fabs(record.relativeSpeed - sky.dxRateHzPerMin) <= 0.005 + 1e-4);
}

QTEST_GUILESS_MAIN(TestEphemeris)
#include "tst_ephemeris.moc"

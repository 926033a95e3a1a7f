// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's clock: the real time while the Moon is up at the station,
// otherwise a faster one from where the Moon has risen; for a calibration
// the same for the Sun, high enough to scan under it, at the real speed.

#include "demo/democlock.h"
#include "ephemeris/passes.h"

#include <QtTest>

namespace {

QDateTime utc(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
}

constexpr double notGiven = -1;

} // namespace

class tst_DemoClock : public QObject
{
    Q_OBJECT

private slots:
    void choose_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<double>("rateGiven");
        QTest::addColumn<QString>("start");  // "real", "now" or "rise"
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("sun");
        // At JO70FD the Moon is 14 degrees up at 10:00 and set by 15:27 UTC.
        QTest::newRow("Moon down") << utc("2026-12-07T15:27:00Z") << notGiven << "rise" << 10.0 << false;
        QTest::newRow("Moon down, a rate given") << utc("2026-12-07T15:27:00Z") << 25.0 << "rise" << 25.0 << false;
        QTest::newRow("Moon down, real speed") << utc("2026-12-07T15:27:00Z") << 1.0 << "rise" << 1.0 << false;
        QTest::newRow("Moon down, late evening") << utc("2026-12-07T23:59:59.900Z") << notGiven << "rise" << 10.0 << false;
        QTest::newRow("Moon up") << utc("2026-12-07T10:00:00Z") << notGiven << "real" << 1.0 << false;
        QTest::newRow("Moon up, real speed") << utc("2026-12-07T10:00:00Z") << 1.0 << "real" << 1.0 << false;
        QTest::newRow("Moon up, faster") << utc("2026-12-07T10:00:00.750Z") << 5.0 << "now" << 5.0 << false;
        // At JO70FD (50.15 N, 14.46 E) on 7 December the Sun (declination
        // -22.6, equation of time +8.6 min) culminates at 17.3 degrees at
        // 10:54 UTC and stands over 10 degrees from 8:23 to 13:24 (hour angle
        // 37.6 degrees either side).
        QTest::newRow("Sun low in the morning") << utc("2026-12-07T07:30:00Z") << notGiven << "rise" << 1.0 << true;
        QTest::newRow("Sun set, a rate given") << utc("2026-12-07T16:00:00Z") << 5.0 << "rise" << 5.0 << true;
        QTest::newRow("Sun up") << utc("2026-12-07T10:30:00Z") << notGiven << "real" << 1.0 << true;
    }

    void choose()
    {
        QFETCH(QDateTime, now);
        QFETCH(double, rateGiven);
        QFETCH(QString, start);
        QFETCH(double, rate);
        QFETCH(bool, sun);
        const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
        const passes::Body body = sun ? passes::Body::Sun : passes::Body::Moon;
        const double mark = sun ? DemoClock::sunRisenElevation : DemoClock::risenElevation;
        const DemoClock clock = DemoClock::choose(
            home, now, rateGiven == notGiven ? std::nullopt : std::optional<double>(rateGiven), body);
        QCOMPARE(clock.rate, rate);
        QCOMPARE(clock.isSimulated(), start != QLatin1String("real"));
        if (start == QLatin1String("now"))
            QCOMPARE(clock.startUtc, now.addMSecs(-now.time().msec()));
        if (start != QLatin1String("rise"))
            return;
        // The body has just risen to the mark, on the same day or the next,
        // and at no minute before (a plain walk, not the search's steps).
        const auto elevation = [&home, body](const QDateTime &t) { return passes::elevation(body, home, t); };
        QVERIFY(clock.startUtc > now);
        QVERIFY(clock.startUtc < now.addDays(1));
        QVERIFY(elevation(clock.startUtc) > mark);
        QVERIFY(elevation(clock.startUtc.addSecs(-2)) <= mark);
        for (QDateTime t = now; t < clock.startUtc; t = t.addSecs(60))
            QVERIFY2(elevation(t) <= mark, qPrintable(t.toString(Qt::ISODate)));
        QCOMPARE(clock.startUtc.time().msec(), 0);
    }

    void describe_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("text");
        QTest::newRow("ten times") << 10.0 << utc("2026-12-07T22:14:59Z") << "simulated time, 10×, 2026-12-07 22:14 UTC";
        QTest::newRow("a fraction") << 2.5 << utc("2026-12-08T07:08:00Z") << "simulated time, 2.5×, 2026-12-08 07:08 UTC";
        QTest::newRow("given in local time")
            << 10.0 << utc("2026-12-08T00:30:00+01:00") << "simulated time, 10×, 2026-12-07 23:30 UTC";
    }

    void describe()
    {
        QFETCH(double, rate);
        QFETCH(QDateTime, when);
        QFETCH(QString, text);
        QCOMPARE(DemoClock::describe(rate, when), text);
    }
};

QTEST_GUILESS_MAIN(tst_DemoClock)
#include "tst_democlock.moc"

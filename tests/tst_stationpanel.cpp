// The station panel shows the record as read, and the rise, set and common
// windows it gives are where the ephemeris crosses the horizon.

#include "ephemeris/passes.h"
#include "station/trackingcontrol.h"
#include "ui/sourcedialog.h"
#include "ui/stationpanel.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

using passes::Body;

class tst_StationPanel : public QObject
{
    Q_OBJECT

private slots:
    void crossingsAreOnTheHorizon_data()
    {
        QTest::addColumn<int>("body");
        QTest::addColumn<bool>("rising");
        QTest::newRow("moonrise") << int(Body::Moon) << true;
        QTest::newRow("moonset") << int(Body::Moon) << false;
        QTest::newRow("sunrise") << int(Body::Sun) << true;
        QTest::newRow("sunset") << int(Body::Sun) << false;
    }

    void crossingsAreOnTheHorizon()
    {
        QFETCH(int, body);
        QFETCH(bool, rising);
        const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
        const QDateTime from(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        const auto crossing = passes::nextCrossing(Body(body), home, from, rising);
        QVERIFY(crossing);
        QVERIFY(from.secsTo(*crossing) < 26 * 3600);
        const double before = passes::elevation(Body(body), home, crossing->addSecs(-2));
        const double after = passes::elevation(Body(body), home, crossing->addSecs(1));
        QVERIFY2(rising ? before <= 0 && after > 0 : before > 0 && after <= 0,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(crossing->toString(Qt::ISODate)).arg(before).arg(after)));
    }

    void commonWindowIsSeenFromBoth()
    {
        const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
        const GeoPosition dx = *positionOfLocator(QStringLiteral("FN20"));
        const QDateTime from(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
        const auto window = passes::nextCommonWindow(Body::Moon, home, dx, from);
        QVERIFY(window && window->end.isValid());
        const QDateTime start = window->start.isValid() ? window->start : from;
        QVERIFY(start < window->end);
        const auto seen = [&](const QDateTime &t) {
            return passes::elevation(Body::Moon, home, t) > 0 && passes::elevation(Body::Moon, dx, t) > 0;
        };
        QVERIFY(seen(start.addSecs(1)) && seen(window->end.addSecs(-2)) && !seen(window->end.addSecs(1)));
        if (window->start.isValid())
            QVERIFY(!seen(window->start.addSecs(-2)));
    }

    // The panel shows what the station read: positions, shifts, and the
    // target below the horizon.
    void showsTheRecord_data()
    {
        QTest::addColumn<double>("elevation");
        QTest::addColumn<QString>("horizon");
        QTest::newRow("up") << 12.5 << QString();
        QTest::newRow("below") << -0.2 << QStringLiteral("below horizon");
    }

    void showsTheRecord()
    {
        QFETCH(double, elevation);
        QFETCH(QString, horizon);
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        QFile data(dir.filePath(QStringLiteral("azel.dat")));
        QVERIFY(data.open(QIODevice::WriteOnly));
        data.write("12:00:00,227.8," + QByteArray::number(elevation) + ",Moon\n0,0,0,Sun\n0,0,0,Source\n"
                   "432,-345.0,12.5,-612.0,-3.5,Doppler, R\n");
        data.close();
        TrackingControl station;
        station.setDataFile(data.fileName());
        station.setAuto(StationPort::A, true);
        StationPanel panel(station);
        station.repetition();
        panel.refresh();
        const auto text = [&](const char *name) {
            return panel.findChild<QLabel *>(QString::fromLatin1(name))->text();
        };
        QCOMPARE(text("labelPanelTarget"),
                 QStringLiteral("Moon: az 227.80, el %1").arg(elevation, 0, 'f', 2));
        QCOMPARE(text("labelPanelDoppler"),
                 QStringLiteral("Doppler: own echo -612 Hz (-3.5 Hz/min), DX -345 Hz (12.5 Hz/min)"));
        QCOMPARE(text("labelPanelHorizon"), horizon);
        QCOMPARE(station.health().active(Alarm::BelowHorizon), elevation < 0);
    }

    // The source dialog takes only what the sky can be computed from.
    void sourceEntries_data()
    {
        QTest::addColumn<bool>("builtIn");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("dx");
        QTest::addColumn<QString>("frequency");
        QTest::addColumn<bool>("taken");
        QTest::newRow("file, nothing else") << false << "" << "" << "432.065" << true;
        QTest::newRow("built-in, both") << true << "jo70fd" << "FN20" << "1296.1" << true;
        QTest::newRow("built-in without home") << true << "" << "FN20" << "432" << false;
        QTest::newRow("not a locator") << true << "JO70ZZ" << "" << "432" << false;
        QTest::newRow("not a frequency") << false << "" << "" << "nan" << false;
    }

    void sourceEntries()
    {
        QFETCH(bool, builtIn);
        QFETCH(QString, home);
        QFETCH(QString, dx);
        QFETCH(QString, frequency);
        QFETCH(bool, taken);
        SourceDialog dialog;
        dialog.show(SourceSettings());
        dialog.findChild<QRadioButton *>(builtIn ? "radioSourceBuiltIn" : "radioSourceFile")->setChecked(true);
        dialog.findChild<QLineEdit *>("lineHomeLocator")->setText(home);
        dialog.findChild<QLineEdit *>("lineDxLocator")->setText(dx);
        dialog.findChild<QLineEdit *>("lineSourceFrequency")->setText(frequency);
        const auto settings = dialog.entered();
        QCOMPARE(bool(settings), taken);
        QCOMPARE(dialog.findChild<QLabel *>("labelSourceProblem")->text().isEmpty(), taken);
        if (settings)
            QCOMPARE(settings->homeLocator, home.toUpper());
    }
};

QTEST_MAIN(tst_StationPanel)
#include "tst_stationpanel.moc"

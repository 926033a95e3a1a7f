// SPDX-License-Identifier: GPL-3.0-or-later
// The station never goes quiet: each fault raises its alarm once and clears
// it once, and a device that comes back is used again as before, on the
// simulated devices over ptys and on Hamlib's own daemons.

#include "hamlibtesting.h"
#include "sim/simrotator.h"
#include "sim/simtransceiver.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QByteArray trackLine(double azimuth, double elevation, double dopplerHome, const QByteArray &time = "0")
{
    QList<QByteArray> fields(17, "0");
    fields[0] = time;
    fields[1] = QByteArray::number(azimuth);
    fields[2] = QByteArray::number(elevation);
    fields[12] = "432.065";
    fields[15] = QByteArray::number(dopplerHome);
    return fields.join(',') + '\n';
}

// Both simulated devices behind links named like /dev/serial/by-id, the
// station tracking a data file with both ports in Auto.
struct Rig {
    Rig()
    {
        QDir::setCurrent(dir.path());
        relink();
        write(trackLine(100, 10, 500));
        station = std::make_unique<TrackingControl>();
        QObject::connect(station.get(), &TrackingControl::message, [this](const QString &text) { log << text; });
        station->setTimes(1, 60000);
        station->setDataFile(dataPath());
        station->setAuto(StationPort::A, true);
        station->setAuto(StationPort::B, true);
    }
    QString linkA() const { return dir.filePath(QStringLiteral("rotator")); }
    QString linkB() const { return dir.filePath(QStringLiteral("radio")); }
    QString dataPath() const { return dir.filePath(QStringLiteral("azel.dat")); }
    void relink()
    {
        QFile::remove(linkA());
        QFile::link(rotator.slavePath(), linkA());
        QFile::remove(linkB());
        QFile::link(radio.slavePath(), linkB());
    }
    void write(const QByteArray &content)
    {
        QFile file(dataPath());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(content);
    }
    bool openBoth()
    {
        return station->open(StationPort::A, linkA(), {}, false) && station->open(StationPort::B, linkB(), {}, false);
    }
    bool logged(const QString &start) const
    {
        return std::any_of(log.begin(), log.end(), [&](const QString &line) { return line.startsWith(start); });
    }
    int count(const QString &start) const
    {
        return int(std::count_if(log.begin(), log.end(), [&](const QString &line) { return line.startsWith(start); }));
    }

    QTemporaryDir dir;
    SimRotator rotator;
    SimTransceiver radio;
    QStringList log;
    std::unique_ptr<TrackingControl> station;
};

enum class Fault { RotatorSilent, RotatorRefusing, RadioSilent, FileNotRewritten, FileTimeBehind, BelowHorizon };

} // namespace

class tst_CoreAlarms : public QObject
{
    Q_OBJECT

private slots:
    void alarmRaisedAndCleared_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("begins");
        QTest::addColumn<QString>("ends");
        QTest::newRow("rotator silent") << Fault::RotatorSilent << "rotator not answering: no answer to &* AZ=120.00"
                                        << "rotator answering again";
        QTest::newRow("rotator refusing") << Fault::RotatorRefusing << "rotator refused azimuth 120.00: ERROR/LIMIT"
                                          << "rotator accepting positions again";
        QTest::newRow("radio silent") << Fault::RadioSilent << "radio not answering: 3 readouts without an answer"
                                      << "radio answering again";
        QTest::newRow("file not rewritten") << Fault::FileNotRewritten << "tracking data stale: " << "tracking data up to date again";
        QTest::newRow("file's time behind") << Fault::FileTimeBehind << "tracking data stale: written for "
                                            << "tracking data up to date again";
        QTest::newRow("below the horizon") << Fault::BelowHorizon << "target below the horizon: elevation -3.00"
                                           << "target above the horizon";
    }

    void alarmRaisedAndCleared()
    {
        QFETCH(Fault, fault);
        QFETCH(QString, begins);
        QFETCH(QString, ends);
        Rig rig;
        QVERIFY(rig.openBoth());
        QTRY_VERIFY(rig.station->isFrequencyKnown());
        QTRY_VERIFY(rig.station->steering().pending.isEmpty());
        const QTime now = QDateTime::currentDateTimeUtc().time();
        const QByteArray late = now.addSecs(-60).toString(QStringLiteral("hh:mm:ss")).toLatin1();

        switch (fault) {
        case Fault::RotatorSilent:
            rig.rotator.setSilent(true);
            break;
        case Fault::RotatorRefusing:
            rig.rotator.setRefusing(true);
            break;
        case Fault::RadioSilent:
            rig.radio.setSilent(true);
            break;
        case Fault::FileNotRewritten:
            break;
        case Fault::FileTimeBehind:
            rig.write(trackLine(120, 10, 500, late));
            break;
        case Fault::BelowHorizon:
            rig.write(trackLine(120, -3, 500));
            break;
        }
        if (fault == Fault::FileNotRewritten) {
            QFile file(rig.dataPath());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-30), QFileDevice::FileModificationTime));
        } else if (fault != Fault::FileTimeBehind && fault != Fault::BelowHorizon) {
            rig.write(trackLine(120, 10, 500));
        }
        // Every repetition, as the timer would give them; the alarm is said once.
        const auto repeatUntil = [&](const QString &start) {
            for (int i = 0; i < 40 && !rig.logged(start); ++i) {
                rig.station->repetition();
                rig.station->readout();
                QTest::qWait(250);
            }
            return rig.logged(start);
        };
        QVERIFY2(repeatUntil(begins), qPrintable(rig.log.join(QLatin1Char('\n'))));
        for (int i = 0; i < 3; ++i)
            rig.station->repetition();
        QCOMPARE(rig.count(begins), 1);

        rig.rotator.setSilent(false);
        rig.rotator.setRefusing(false);
        rig.radio.setSilent(false);
        const QByteArray fresh = now.toString(QStringLiteral("hh:mm:ss")).toLatin1();
        rig.write(trackLine(130, 12, 500, fault == Fault::FileTimeBehind ? fresh : QByteArray("0")));
        for (int i = 0; i < 70 && !rig.logged(ends); ++i) {  // past the stale rule's minute of repetitions
            rig.station->repetition();
            rig.station->readout();
            QTest::qWait(fault == Fault::RotatorSilent ? 5 : 100);
        }
        QVERIFY2(rig.logged(ends), qPrintable(rig.log.join(QLatin1Char('\n'))));
        QCOMPARE(rig.count(ends), 1);
        QCOMPARE(rig.count(begins), 1);
    }

    // A refusal every cycle is said once, and summed up when a position is accepted.
    void repeatedErrorSaidOnce()
    {
        Rig rig;
        QVERIFY(rig.openBoth());
        QTRY_VERIFY(rig.station->steering().pending.isEmpty());
        rig.rotator.setRefusing(true);
        for (int i = 0; i < 6; ++i) {
            rig.write(trackLine(120 + i, 10, 500));
            rig.station->repetition();
            QTRY_VERIFY(rig.station->steering().pending.isEmpty());
        }
        rig.rotator.setRefusing(false);
        rig.write(trackLine(140, 10, 500));
        rig.station->repetition();
        QTRY_VERIFY(rig.logged(QStringLiteral("rotator accepting positions again")));
        QCOMPARE(rig.count(QStringLiteral("Rotator error code: ")), 2);
        QVERIFY(rig.logged(QStringLiteral("Rotator error code: ERROR/LIMIT (repeated 6 times)")));
    }

    // Both cables pulled and plugged back: both ports open again by
    // themselves, tracking and frequency tracking go on as before.
    void cablesPluggedBack()
    {
        Rig rig;
        QVERIFY(rig.openBoth());
        QTRY_VERIFY(rig.station->isFrequencyKnown());
        rig.station->setFrequencyTracking(true);
        const double working = rig.station->doppler().workingMHz();
        rig.rotator.hangUp();
        rig.radio.hangUp();
        QTRY_VERIFY(!rig.station->portSession(StationPort::A).open && !rig.station->portSession(StationPort::B).open);
        QVERIFY(rig.station->isReconnecting(StationPort::A) && rig.station->isReconnecting(StationPort::B));
        QTest::qWait(1500);  // a while away: nothing is said meanwhile
        const int said = rig.log.size();
        QElapsedTimer back;
        rig.rotator.reopen();
        rig.radio.reopen();
        rig.relink();
        back.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.station->portSession(StationPort::A).open && rig.station->portSession(StationPort::B).open, 3000);
        QVERIFY2(back.elapsed() < 3000, qPrintable(QString::number(back.elapsed())));
        QCOMPARE(rig.log.mid(said).filter(QStringLiteral("connected to ")).size(), 2);
        QVERIFY(rig.log.mid(said).filter(QStringLiteral("Serial Port")).isEmpty());
        QVERIFY(rig.station->isTrackingActive());
        QVERIFY(rig.station->doppler().tracking());
        QCOMPARE(rig.station->doppler().workingMHz(), working);
        rig.write(trackLine(150, 20, 700));
        rig.station->repetition();
        QTRY_VERIFY(rig.rotator.commands().contains(QStringLiteral("&* AZ=150.00")));
        QTRY_COMPARE(rig.radio.frequency(), quint32(working * 1e6 + 700));
    }

    // The operator's own close ends the waiting.
    void closedByTheOperatorStaysClosed()
    {
        Rig rig;
        QVERIFY(rig.openBoth());
        rig.rotator.hangUp();
        QTRY_VERIFY(rig.station->isReconnecting(StationPort::A));
        rig.station->close(StationPort::A);
        QVERIFY(!rig.station->isReconnecting(StationPort::A));
        rig.rotator.reopen();
        rig.relink();
        QTest::qWait(1500);
        QVERIFY(!rig.station->portSession(StationPort::A).open);
    }

    // rotctld and rigctld restarted: the links come back with backoff and
    // the station carries on; a stopped rigctld raises its alarm.
    void daemonsRestarted()
    {
        if (!hamlibtesting::daemonsInstalled())
            QSKIP("rigctld and rotctld are not installed");
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        hamlibtesting::Daemon rotctld(QStringLiteral("rotctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        hamlibtesting::Daemon rigctld(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        QVERIFY(rotctld.start() && rigctld.start());
        QStringList log;
        TrackingControl station;
        QObject::connect(&station, &TrackingControl::message, [&log](const QString &text) { log << text; });
        station.setTimes(1, 200);
        station.setNetwork(StationPort::A, true);
        station.setNetwork(StationPort::B, true);
        station.setAuto(StationPort::B, true);
        QVERIFY(station.open(StationPort::A, rotctld.address(), {}, false));
        QVERIFY(station.open(StationPort::B, rigctld.address(), {}, false));
        QTRY_VERIFY(station.portSession(StationPort::A).open && station.isFrequencyKnown());

        ::kill(qint64(rigctld.pid()), SIGSTOP);
        QTRY_VERIFY_WITH_TIMEOUT(station.health().active(Alarm::RadioSilent), 10000);
        ::kill(qint64(rigctld.pid()), SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(!station.health().active(Alarm::RadioSilent), 10000);

        rotctld.kill();
        rigctld.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!station.portSession(StationPort::A).open && !station.portSession(StationPort::B).open,
                                 10000);
        QVERIFY(station.isReconnecting(StationPort::A) && station.isReconnecting(StationPort::B));
        QVERIFY(rotctld.start() && rigctld.start());
        QElapsedTimer back;
        back.start();
        QTRY_VERIFY_WITH_TIMEOUT(station.portSession(StationPort::A).open && station.portSession(StationPort::B).open,
                                 35000);
        qInfo("daemons back after %lld ms", back.elapsed());
        QTRY_VERIFY(station.isFrequencyKnown());
        QCOMPARE(log.filter(QStringLiteral(" lost")).size(), 2);
        QVERIFY(log.filter(QStringLiteral(" failed")).isEmpty());  // the tries meanwhile are not said
    }
};

QTEST_GUILESS_MAIN(tst_CoreAlarms)
#include "tst_corealarms.moc"

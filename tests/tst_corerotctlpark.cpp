// SPDX-License-Identifier: GPL-3.0-or-later
// "K" from Hamlib's own rotctl -m 2 while the station tracks, at store.cfg's
// defaults, against the simulated "&*" controller on a pty: the antenna
// parks as the client's aim, parking ends once the rotator has taken it, and
// whatever comes next (the client's position, its silence, the operator's
// target or Manual) is what the antenna does and what the state says.

#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlibtesting.h"
#include "sim/simrotator.h"
#include "stationinvariants.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

namespace {

// rotctl -m 2 against the station's server; its standard output and exit code.
std::pair<QByteArray, int> rotctl(quint16 port, const QStringList &command)
{
    QProcess client;
    client.start(QStringLiteral("rotctl"), QStringList {QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                                                        QStringLiteral("127.0.0.1:%1").arg(port)}
                                               + command);
    if (!QTest::qWaitFor([&] { return client.state() == QProcess::NotRunning; }, 10000))
        client.kill();
    return {client.readAllStandardOutput(), client.exitCode()};
}

QByteArray ask(QTcpSocket &socket, const QByteArray &line)
{
    socket.write(line + '\n');
    QByteArray answer;
    const bool whole = QTest::qWaitFor([&] {
        answer += socket.readAll();
        return answer.endsWith('\n');
    }, 5000);
    return whole ? answer : answer + "(cut short)";
}

enum class After { Position, Silence, TargetChosen, ManualThenAuto };

} // namespace

class tst_CoreRotctlPark : public QObject
{
    Q_OBJECT

    struct Served : DefaultStation {
        Served()
        {
            record.azimuth = 100;
            record.elevation = 20;
            record.frequency = 432.065;
            station.setTrackingSource(std::make_unique<FixedSource>(&record));
            station.setClock([this] { return now; });
            settings.rotServer = true;
            settings.rotPort = hamlibtesting::freePort();
            listening = station.setServerSettings(settings);
            QObject::connect(&station, &TrackingControl::changed,
                             [this] { parked |= station.steering().parkingActive(); });
        }
        bool at(double azimuth, double elevation) const
        {
            return rotator.azimuth() == azimuth && rotator.elevation() == elevation;
        }
        // Waits for this many of the station's own repetitions.
        bool repetitions(int count)
        {
            QSignalSpy spy(station.findChild<QTimer *>(QStringLiteral("repetitionTimer")), &QTimer::timeout);
            return QTest::qWaitFor([&] { return spy.count() >= count; }, count * 2000 * 2);
        }

        SimRotator rotator;
        TrackingRecord record;
        ServerSettings settings;
        QDateTime now = QDateTime(QDate(2026, 12, 9), QTime(22, 0), Qt::UTC);
        // Among them: parking said only while the park is what the rotator was sent last.
        invariants::Checker rules {station, {}, {}};
        bool listening = false;
        bool parked = false;  // parking was said active at some time
    };

private slots:
    void initTestCase()
    {
        if (!hamlibtesting::daemonsInstalled())
            QSKIP("Hamlib's programs are not installed");
    }

    void parkThenWhatFollows_data()
    {
        QTest::addColumn<int>("after");
        QTest::addColumn<double>("azimuth");  // where the antenna ends
        QTest::addColumn<double>("elevation");
        QTest::addColumn<bool>("client");     // the client's aim still holds it
        QTest::newRow("the client's position 25 s later") << int(After::Position) << 150.0 << 20.0 << true;
        QTest::newRow("the client silent for a minute") << int(After::Silence) << 100.0 << 20.0 << false;
        QTest::newRow("the operator chooses a target") << int(After::TargetChosen) << 100.0 << 20.0 << false;
        QTest::newRow("the operator's Manual, then Auto") << int(After::ManualThenAuto) << 90.0 << 10.0 << true;
    }
    void parkThenWhatFollows()
    {
        QFETCH(int, after);
        QFETCH(double, azimuth);
        QFETCH(double, elevation);
        QFETCH(bool, client);
        Served s;
        QVERIFY(s.listening);
        s.station.setAuto(StationPort::A, true);
        QVERIFY(s.station.open(StationPort::A, s.rotator.slavePath(), {}, false));
        QTRY_VERIFY_WITH_TIMEOUT(s.at(100, 20), 3 * 2000);

        QCOMPARE(rotctl(s.settings.rotPort, {"K"}), std::pair(QByteArray(), 0));
        QTRY_VERIFY_WITH_TIMEOUT(s.at(90, 10), 1000);
        QVERIFY(s.parked);
        QTRY_VERIFY(!s.station.steering().parkingActive());
        QCOMPARE(s.station.externalAim(), std::optional(std::pair(90.0, 10.0)));
        QVERIFY(s.station.portSession(StationPort::A).automatic);

        // Held there by the client, as its positions are: tracking waits.
        s.now = s.now.addSecs(25);
        const int sent = int(s.rotator.commands().size());
        QVERIFY(s.repetitions(3));
        QCOMPARE(int(s.rotator.commands().size()), sent);
        QVERIFY(s.station.pointingNote().startsWith(QStringLiteral("aimed by a rotctl client at az 90.0, el 10.0")));

        switch (After(after)) {
        case After::Position:
            QCOMPARE(rotctl(s.settings.rotPort, {"P", "150", "20"}), std::pair(QByteArray(), 0));
            break;
        case After::Silence:
            s.now = s.now.addSecs(TrackingControl::externalSilentSeconds);
            break;
        case After::TargetChosen:
            s.station.setTarget(TrackingTarget::Moon);
            break;
        case After::ManualThenAuto: {
            s.station.setAuto(StationPort::A, false);
            QTcpSocket gpredict;
            gpredict.connectToHost(QHostAddress::LocalHost, s.settings.rotPort);
            QVERIFY(gpredict.waitForConnected(3000));
            QCOMPARE(ask(gpredict, "K"), QByteArray("RPRT -9\n"));  // the operator's Manual wins
            s.station.setAuto(StationPort::A, true);  // the client's minute is not over
            break;
        }
        }
        QTRY_VERIFY_WITH_TIMEOUT(s.at(azimuth, elevation), 2 * 2000 + 1000);
        QVERIFY(!s.station.steering().parkingActive());
        QCOMPARE(s.station.externalAim().has_value(), client);
        QCOMPARE(s.rules.violations(), QStringList());
        s.station.closeAll();
    }
};

QTEST_GUILESS_MAIN(tst_CoreRotctlPark)
#include "tst_corerotctlpark.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The Source target where nothing places it: the tracking file's Source line
// written without a radio source, and the sky computed here with none
// chosen. The antenna holds with a word in the log, or the target is refused
// with the reason; it is never sent to azimuth 0, elevation 0. The simulated
// "&*" controller on a pseudo-terminal, at the operator's 2 s repetition.

#include "ephemeris/ephemeris.h"
#include "settings/sourcesettings.h"
#include "sim/simrotator.h"
#include "station/trackingcontrol.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(TrackingTarget)

namespace {

const QDateTime utc(QDate(2026, 12, 7), QTime(4, 30, 48), Qt::UTC);

// What vestrel-ephemeris writes for JO70FD at that second.
QByteArray writtenFile(const QString &source)
{
    const GeoPosition home = *positionOfLocator(QStringLiteral("JO70FD"));
    SkyOptions options;
    if (!source.isEmpty())
        options.source = radiosource::fromText(source);
    return formatTrackingFile(computeSky(home, home, 432.065, utc, options), false);
}

} // namespace

class tst_CoreSourceTarget : public QObject
{
    Q_OBJECT

    struct Core {
        Core()
        {
            QDir::setCurrent(dir.path());
            station.setClock([] { return utc; });
            QObject::connect(&station, &TrackingControl::message, [this](const QString &t) { log << t; });
            station.enterElevationOffset(QStringLiteral("debug"));  // to count the repetitions
        }
        // Tracking at the operator's 2 s until n repetitions have run.
        void track(int repetitions)
        {
            const qsizetype before = log.count(QStringLiteral("--repetition timer expired"));
            QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("--repetition timer expired")) >= before + repetitions,
                                     2500 * repetitions + 2000);
        }
        QTemporaryDir dir;
        QStringList log;
        TrackingControl station;
    };

private slots:
    void initTestCase() { qRegisterMetaType<TrackingTarget>(); }

    // Where the Source has no place the antenna is not moved; the Moon from
    // the same file, or a radio source the sky places, is steered to.
    void heldWithoutAPlace_data()
    {
        QTest::addColumn<bool>("builtIn");
        QTest::addColumn<QString>("radioSource");
        QTest::addColumn<TrackingTarget>("target");
        QTest::addColumn<QString>("said");  // empty: steered
        QTest::newRow("file without a source, the Source")
            << false << QString() << TrackingTarget::Source << "holding: the file gives no Source position";
        QTest::newRow("file without a source, the Moon") << false << QString() << TrackingTarget::Moon << QString();
        QTest::newRow("file following Cyg A, the Source")
            << false << QStringLiteral("Cyg A") << TrackingTarget::Source << QString();
        QTest::newRow("built-in sky without a source, the Source kept from the file")
            << true << QString() << TrackingTarget::Source
            << "holding: no radio source is chosen for the Source (\"Tracking source...\")";
        QTest::newRow("built-in sky following Cyg A, the Source")
            << true << QStringLiteral("Cyg A") << TrackingTarget::Source << QString();
    }
    void heldWithoutAPlace()
    {
        QFETCH(bool, builtIn);
        QFETCH(QString, radioSource);
        QFETCH(TrackingTarget, target);
        QFETCH(QString, said);
        Core core;
        const QString path = core.dir.filePath(QStringLiteral("azel.dat"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(writtenFile(builtIn ? QString() : radioSource));
        file.close();
        core.station.setDataFile(path);
        core.station.setTarget(target);  // chosen while the file was the source
        QCOMPARE(core.station.target(), target);
        if (builtIn) {
            SourceSettings sky;
            sky.builtIn = true;
            sky.homeLocator = QStringLiteral("JO70FD");
            sky.radioSource = radioSource;
            core.station.setSource(sky);
        }
        SimRotator rotator;
        core.station.setAuto(StationPort::A, true);
        QVERIFY(core.station.open(StationPort::A, rotator.slavePath(), {}, false));
        core.track(3);
        const QStringList azimuths = rotator.commands().filter(QStringLiteral("&* AZ="));
        if (said.isEmpty()) {
            QVERIFY2(!azimuths.isEmpty(), qPrintable(core.log.join('\n')));
            QVERIFY2(!azimuths.contains(QLatin1String("&* AZ=000.00")), qPrintable(azimuths.join(' ')));
        } else {
            QCOMPARE(rotator.commands(), QStringList());
            QVERIFY2(core.log.contains(said), qPrintable(core.log.join('\n')));
            QVERIFY(!core.station.lastRecordTime().isValid());  // nothing for a view to draw
        }
        core.station.closeAll();
    }

    // Chosen where the sky computed here places no radio source, the Source
    // is refused with the reason, and the target in force stays; one chosen
    // in "Tracking source..." is taken.
    void refusedWithoutARadioSource_data()
    {
        QTest::addColumn<QString>("radioSource");
        QTest::addColumn<bool>("taken");
        QTest::newRow("none") << QString() << false;
        QTest::newRow("Cas A") << QStringLiteral("Cas A") << true;
    }
    void refusedWithoutARadioSource()
    {
        QFETCH(QString, radioSource);
        QFETCH(bool, taken);
        Core core;
        SourceSettings sky;
        sky.builtIn = true;
        sky.homeLocator = QStringLiteral("JO70FD");
        sky.radioSource = radioSource;
        core.station.setSource(sky);
        core.station.setTarget(TrackingTarget::Sun);
        core.log.clear();
        core.station.setTarget(TrackingTarget::Source);
        const QString refusal = QStringLiteral(
            "Source refused: no radio source is chosen for the sky computed here (\"Tracking source...\")");
        QCOMPARE(core.station.target(), taken ? TrackingTarget::Source : TrackingTarget::Sun);
        QCOMPARE(core.station.targetRefusal(TrackingTarget::Source), taken ? QString() : refusal);
        QCOMPARE(core.log, taken ? QStringList() : QStringList {refusal});
    }
};

QTEST_GUILESS_MAIN(tst_CoreSourceTarget)
#include "tst_coresourcetarget.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// A whole night at the station in a few seconds, through the real window on
// the simulated devices: what the operator reads in the log, the bytes each
// device received and store.cfg afterwards must stay exactly as recorded in
// data/station-transcript.txt. Any change to what the station does shows here.
// VESTREL_RECORD_TRANSCRIPT=1 writes the file anew (review the difference!).

#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QtTest>

using namespace windowtesting;
using FullStation = Station<SimRotator, SimTransceiver>;

class tst_StationTranscript : public QObject
{
    Q_OBJECT

private:
    // One repetition, by hand: the window's own timers are far away, so
    // every command and frame in the transcript comes from these calls.
    static void cycle(FullStation &s, const QByteArray &data)
    {
        s.writeData(data);
        const int frames = s.radio.frames().size();
        const bool tracking = s.w<QCheckBox>("checkDoppler")->isChecked()
            && s.w<QRadioButton>("radioSerialBAuto")->isChecked() && s.window->isTrackingActive();
        s.window->timerTimeout();
        QTRY_VERIFY2(s.window->pendingCommand().isEmpty() || s.rotator.isSilent(), data.constData());
        if (tracking)
            QTRY_COMPARE(s.radio.frames().size(), frames + 1);
    }

    // The radio's state as the window shows it: "T ..." or "R ...".
    static void readout(FullStation &s, const QString &state)
    {
        s.window->freqReadTimeout();
        QTRY_VERIFY(s.w<QLabel>("labelFreq")->text().startsWith(state));
    }

private slots:
    void wholeStation()
    {
        FullStation s(600, true, 60000);
        s.radio.setFrequency(432065000);
        s.selectData(trackLine(100, 10, 0, 500));
        s.setAutoA(true);
        s.setAutoB(true);
        s.clickOpenA();
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        s.clickOpenB();
        QTRY_VERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());

        // The Moon climbs; "Track frequency" is engaged half way.
        for (int i = 1; i <= 12; ++i) {
            if (i == 6)
                s.w<QCheckBox>("checkDoppler")->click();
            cycle(s, trackLine(100 + i * 0.37, 10 + i * 0.23, 40 - i, 500 + i * 3));
        }

        // The Sun instead, and offsets typed (one refused).
        action(*s.window, "actionRotSun")->trigger();
        cycle(s, trackLine(130, 20, 10, 520, 200.5, 30.25));
        enter(s.w<QLineEdit>("lineAzimutOffset"), QStringLiteral("1.5"));
        enter(s.w<QLineEdit>("lineElevationOffset"), QStringLiteral("-0.5"));
        enter(s.w<QLineEdit>("lineElevationOffset"), QStringLiteral("x"));
        enter(s.w<QLineEdit>("lineElevationOffset"), QStringLiteral("-0.5"));
        cycle(s, trackLine(130, 20, 10, 520, 200.5, 30.25));
        cycle(s, trackLine(130, 20, 10, 520, 200.5, 30.25));
        action(*s.window, "actionRotMoon")->trigger();

        // Transmitting with PTT ticked: the shift is taken off.
        s.w<QCheckBox>("check_PTT")->click();
        s.radio.setTransmitting(true);
        readout(s, QStringLiteral("T "));
        cycle(s, trackLine(105, 13, 20, 560));
        s.radio.setTransmitting(false);
        readout(s, QStringLiteral("R "));
        cycle(s, trackLine(105.5, 13.5, 20, 561));

        // A frequency typed by hand, one that cannot be, then tracking again.
        s.w<QCheckBox>("checkDoppler")->click();
        const int frames = s.radio.frames().size();
        enter(s.w<QLineEdit>("lineTransceiverFrequency"), QStringLiteral("432.1"));
        QTRY_COMPARE(s.radio.frames().size(), frames + 1);
        enter(s.w<QLineEdit>("lineTransceiverFrequency"), QStringLiteral("4321"));
        enter(s.w<QLineEdit>("lineTransceiverFrequency"), QStringLiteral("abc"));
        readout(s, QStringLiteral("R 432.10000"));
        s.w<QCheckBox>("checkDoppler")->click();
        cycle(s, trackLine(106, 14, 20, 562));

        // Parking in Manual: azimuth, then elevation once the azimuth is answered.
        s.setAutoA(false);
        s.window->parkingDialogConfirmed();
        QTRY_COMPARE(s.rotator.commands().filter(QStringLiteral("EL=010.00")).size(), 1);
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        s.window->parkingDialogClosed();
        s.setAutoA(true);
        cycle(s, trackLine(107, 15, 20, 563));

        // A refused command, then one that is never answered and goes stale.
        s.rotator.setRefusing(true);
        cycle(s, trackLine(108, 16, 20, 564));
        QTRY_VERIFY(s.logged(QStringLiteral("Rotator error code: ERROR/LIMIT")));
        s.rotator.setRefusing(false);
        s.rotator.setSilent(true);
        cycle(s, trackLine(109, 17, 20, 565));
        QTRY_COMPARE(s.rotator.commands().filter(QStringLiteral("AZ=110.50")).size(), 1);
        cycle(s, trackLine(109, 17, 20, 565));
        s.rotator.setSilent(false);
        cycle(s, trackLine(110, 18, 20, 566));

        // The rotator's cable pulled and plugged back, the port opened again.
        s.rotator.hangUp();
        QTRY_VERIFY(s.logged(QStringLiteral("connection to %1 lost").arg(s.linkA())));
        s.writeData(trackLine(111, 19, 20, 567));
        const int beforeLoss = s.radio.frames().size();
        s.window->timerTimeout();  // the radio tracks on; the rotator's command waits
        QTRY_COMPARE(s.radio.frames().size(), beforeLoss + 1);
        s.rotator.reopen();
        s.relinkPorts();
        s.clickOpenA();
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());

        // The radio closed, the rotator closed, the window closed.
        s.w<QPushButton>("buttonOpenSerialB")->click();
        s.w<QPushButton>("buttonOpenSerialA")->click();
        const QStringList log = s.log();
        s.window.reset();

        QString transcript = QStringLiteral("== log\n") + log.join(QLatin1Char('\n'));
        transcript += QStringLiteral("\n== rotator\n") + s.rotator.commands().join(QLatin1Char('\n'));
        transcript += QStringLiteral("\n== radio\n");
        for (const QByteArray &frame : s.radio.frames())
            transcript += QString::fromLatin1(frame.toHex()) + QLatin1Char('\n');
        QFile store(s.dir.file(QStringLiteral("store.cfg")));
        QVERIFY(store.open(QIODevice::ReadOnly));
        transcript += QStringLiteral("== store.cfg\n") + QString::fromLocal8Bit(store.readAll());
        transcript.replace(s.dir.path(), QStringLiteral("<dir>"));

        const QString path = QStringLiteral(VESTREL_TRANSCRIPT);
        QFile recorded(path);
        if (qEnvironmentVariableIsSet("VESTREL_RECORD_TRANSCRIPT")) {
            QVERIFY(recorded.open(QIODevice::WriteOnly | QIODevice::Truncate));
            recorded.write(transcript.toUtf8());
            QSKIP("transcript recorded");
        }
        QVERIFY2(recorded.open(QIODevice::ReadOnly), qPrintable(path));
        const QStringList expected = QString::fromUtf8(recorded.readAll()).split(QLatin1Char('\n'));
        const QStringList actual = transcript.split(QLatin1Char('\n'));
        for (int i = 0; i < qMin(expected.size(), actual.size()); ++i)
            QVERIFY2(expected.at(i) == actual.at(i),
                     qPrintable(QStringLiteral("line %1: expected \"%2\", got \"%3\"")
                                    .arg(i + 1)
                                    .arg(expected.at(i), actual.at(i))));
        QCOMPARE(actual.size(), expected.size());
    }
};

QTEST_MAIN(tst_StationTranscript)
#include "tst_stationtranscript.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The transceiver side and the whole station end to end: the real window, its
// own widgets, the simulated radio and rotator controller on ptys.

#include "windowtesting.h"

#include "sim/simrotator.h"
#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QtTest>

using namespace windowtesting;
using FullStation = Station<SimRotator, SimTransceiver>;

namespace {

QList<QByteArray> framesWithOpcode(const SimTransceiver &radio, quint8 opcode)
{
    QList<QByteArray> found;
    for (const QByteArray &frame : radio.frames())
        if (frame.size() == 5 && quint8(frame.at(4)) == opcode)
            found << frame;
    return found;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

class tst_Station : public QObject
{
    Q_OBJECT

private:
    // Port B open in Auto with the data file read once (Doppler Home 1000 Hz)
    // and the first frequency reading shown.
    void openReading(FullStation &s, double dopplerHome = 1000)
    {
        s.selectData(trackLine(123.456, 5, 0, dopplerHome));
        s.setAutoB(true);
        s.clickOpenB();
        QVERIFY(s.window->isTrackingActive());
        QVERIFY(!s.w<QCheckBox>("checkDoppler")->isEnabled());  // until the first reading
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06500 MHz"));
        QVERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());
        QVERIFY(s.w<QLineEdit>("lineTransceiverFrequency")->isEnabled());
        QVERIFY(!action(*s.window, "actionDopDefault")->isEnabled());
        QVERIFY(!action(*s.window, "actionDopSource")->isEnabled());
    }

private slots:
    void catOnAndOffOnlyForTheFt847_data()
    {
        QTest::addColumn<int>("model");
        QTest::addColumn<int>("catFrames");
        QTest::newRow("FT-817") << 0 << 0;
        QTest::newRow("FT-847") << 1 << 1;
    }

    void catOnAndOffOnlyForTheFt847()
    {
        QFETCH(int, model);
        QFETCH(int, catFrames);
        FullStation s;
        s.w<QComboBox>("comboTransceiver")->setCurrentIndex(model);
        s.clickOpenB();
        QVERIFY(!s.w<QComboBox>("comboTransceiver")->isEnabled());
        if (catFrames)
            QTRY_COMPARE(s.radio.frames(), (QList<QByteArray> {hex("0000000000")}));
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QVERIFY(s.w<QComboBox>("comboTransceiver")->isEnabled());
        QTRY_COMPARE(s.radio.frames().size(), 2 * catFrames);
        if (catFrames)
            QCOMPARE(s.radio.frames().last(), hex("0000000080"));
        QTest::qWait(50);
        QCOMPARE(s.radio.frames().size(), 2 * catFrames);
    }

    void trackFrequencyFollowsTheDoppler_data()
    {
        QTest::addColumn<bool>("transmitting");
        QTest::addColumn<bool>("ptt");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("receive") << false << false << hex("4320652501") << "R";
        QTest::newRow("transmit with PTT") << true << true << hex("4320627501") << "T";
        QTest::newRow("transmit without PTT") << true << false << hex("4320652501") << "T";
    }

    void trackFrequencyFollowsTheDoppler()
    {
        QFETCH(bool, transmitting);
        QFETCH(bool, ptt);
        QFETCH(QByteArray, frame);
        QFETCH(QString, prefix);
        FullStation s;
        s.debugOn();
        openReading(s);
        if (transmitting) {
            s.radio.setTransmitting(true);
            QTRY_VERIFY(s.w<QLabel>("labelFreq")->text().startsWith(QStringLiteral("T ")));
        }
        s.w<QCheckBox>("check_PTT")->setChecked(ptt);
        s.w<QCheckBox>("checkDoppler")->click();
        QCOMPARE(s.w<QLineEdit>("lineTransceiverFrequency")->text(), QStringLiteral("432.06500"));
        QVERIFY(!s.w<QLineEdit>("lineTransceiverFrequency")->isEnabled());
        QCOMPARE(s.w<QLabel>("labelFreqStart")->text(), QStringLiteral("432.06400 MHz"));
        QCOMPARE(s.window->workingFrequency(), 432.064);

        s.writeData(trackLine(123.456, 5, 0, 1250));
        s.window->timerTimeout();
        QTRY_COMPARE(framesWithOpcode(s.radio, 0x01), (QList<QByteArray> {frame}));
        QVERIFY(s.logged(QStringLiteral("--frequency = 432.064; doppler Home = 1250; doppler Dx = 0")));
        // Readings go on updating the display only.
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(),
                     QStringLiteral("%1 %2 MHz").arg(prefix, ptt ? "432.06275" : "432.06525"));
        QCOMPARE(s.window->workingFrequency(), 432.064);

        // Unticking hands the entry back; the next reading becomes the working frequency.
        s.w<QCheckBox>("checkDoppler")->click();
        QVERIFY(s.w<QLineEdit>("lineTransceiverFrequency")->isEnabled());
        QCOMPARE(s.w<QLabel>("labelFreqStart")->text(), QStringLiteral("---.----- MHz"));
        QTRY_COMPARE(s.window->workingFrequency(), ptt ? 432.06275 : 432.06525);
    }

    void dxShiftIsUsedWhenChosen()
    {
        FullStation s;
        action(*s.window, "actionDopSource")->trigger();
        QVERIFY(!action(*s.window, "actionDopDefault")->isChecked());
        s.selectData(trackLine(123.456, 5, -500, 1000));
        s.setAutoB(true);
        s.clickOpenB();
        QTRY_VERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());
        s.w<QCheckBox>("checkDoppler")->click();
        QCOMPARE(s.w<QLabel>("labelFreqStart")->text(), QStringLiteral("432.06550 MHz"));
        s.writeData(trackLine(123.456, 5, -800, 1000));
        s.window->timerTimeout();
        QTRY_COMPARE(framesWithOpcode(s.radio, 0x01), (QList<QByteArray> {hex("4320647001")}));
    }

    void typedFrequencies_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("144.3") << "144.3" << hex("1443000001");
        QTest::newRow("432.065") << "432.065" << hex("4320650001");
        QTest::newRow("letters") << "abc" << QByteArray();
        QTest::newRow("1000 MHz") << "1000" << QByteArray();
        QTest::newRow("negative") << "-1" << QByteArray();
        QTest::newRow("wraps 32 bits") << "4295.0" << QByteArray();
    }

    void typedFrequencies()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, frame);
        FullStation s;
        openReading(s);
        enter(s.w<QLineEdit>("lineTransceiverFrequency"), typed);
        if (frame.isEmpty()) {
            QCOMPARE(s.log().last(), QStringLiteral("Frequency error"));
            QTest::qWait(100);
            QVERIFY(framesWithOpcode(s.radio, 0x01).isEmpty());
        } else {
            QTRY_COMPARE(framesWithOpcode(s.radio, 0x01), (QList<QByteArray> {frame}));
        }
    }

    void computedFrequencyOutOfRangeIsNotSent()
    {
        FullStation s;
        s.radio.setFrequency(999'999'900);
        s.selectData(trackLine(123.456, 5, 0, 0));
        s.setAutoB(true);
        s.clickOpenB();
        QTRY_VERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());
        s.w<QCheckBox>("checkDoppler")->click();
        s.writeData(trackLine(123.456, 5, 0, 1000));
        s.window->timerTimeout();
        QCOMPARE(s.log().last(), QStringLiteral("frequency out of range"));
        s.writeData(trackLine(123.456, 5, 0, 90));
        s.window->timerTimeout();
        QTRY_COMPARE(framesWithOpcode(s.radio, 0x01), (QList<QByteArray> {hex("9999999901")}));
    }

    void manualPortBSendsNothing()
    {
        FullStation s;
        s.debugOn();
        s.selectData(trackLine(123.456, 5, 0, 1000));
        s.setAutoA(true);
        s.clickOpenA();
        s.clickOpenB();  // Manual
        QVERIFY(s.window->isTrackingActive());
        s.window->timerTimeout();
        QTest::qWait(100);
        QVERIFY(s.radio.frames().isEmpty());
        QVERIFY(s.log().filter(QStringLiteral("--frequency =")).isEmpty());
        QVERIFY(!s.w<QLineEdit>("lineTransceiverFrequency")->isEnabled());
        QCOMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("---.----- MHz"));

        // Auto starts the readout; Manual stops it again.
        s.setAutoB(true);
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06500 MHz"));
        s.setAutoB(false);
        QCOMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("---.----- MHz"));
        QVERIFY(!s.w<QCheckBox>("checkDoppler")->isEnabled());
        QVERIFY(action(*s.window, "actionDopDefault")->isEnabled());
        const int frames = s.radio.frames().size();
        QTest::qWait(300);
        QCOMPARE(s.radio.frames().size(), frames);
    }

    void readoutDebugLines_data()
    {
        QTest::addColumn<bool>("debugAfterOpen");
        QTest::newRow("debug mode first") << false;
        QTest::newRow("debug mode while port B is open") << true;
    }

    void readoutDebugLines()
    {
        QFETCH(bool, debugAfterOpen);
        FullStation s;
        if (!debugAfterOpen)
            s.debugOn();
        s.setAutoB(true);
        s.clickOpenB();
        QTRY_VERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());
        if (debugAfterOpen) {
            QVERIFY(s.log().filter(QStringLiteral("--")).isEmpty());
            s.debugOn();
        }
        s.radio.setFrequency(144'300'010);
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 144.30001 MHz"));
        // The readout that brought the new frequency, counted back from its
        // reply: a later tick may have begun by the time the label is seen.
        // The reply to the readout before may come in after this one's tick
        // on a slow machine: its line is not this readout's.
        QStringList lines = s.log();
        const QString last = QStringLiteral("--received from transceiver (request state = 1): 1443000101");
        lines = lines.mid(0, lines.indexOf(last) + 1);
        lines.removeIf([&](const QString &line) {
            return line != last && line.startsWith(QLatin1String("--received from transceiver (request state = 1)"));
        });
        const int reply = int(lines.size()) - 1;
        QVERIFY(reply >= 4);
        QCOMPARE(lines.mid(reply - 4, 5),
                 (QStringList {"--readout timer expired", "--thread sending: 00000000f7",
                               "--received from transceiver (request state = 2): 80",
                               "--thread sending: 0000000003",
                               "--received from transceiver (request state = 1): 1443000101"}));
    }

    void wholeStationFollowsTheFile()
    {
        FullStation s;
        s.selectData(trackLine(100, 10, 0, 0));
        s.setAutoA(true);
        s.setAutoB(true);
        s.clickOpenA();
        s.clickOpenB();
        QTRY_COMPARE(s.rotator.commands(), (QStringList {"&* AZ=100.00"}));
        // Opening port A forgets what was sent, so the azimuth goes once more.
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands(), (QStringList {"&* AZ=100.00", "&* AZ=100.00"}));
        QTRY_VERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());
        s.w<QCheckBox>("checkDoppler")->click();  // working frequency 432.065

        struct Step {
            double azimuth, elevation, doppler;
            const char *command;
            const char *frame;
        };
        const Step steps[] = {
            {100.0, 10.0, 300, "&* EL=010.00", "4320653001"},
            {100.5, 10.0, 600, "&* AZ=100.50", "4320656001"},
            {100.5, 10.5, -400, "&* EL=010.50", "4320646001"},
            {101.25, 11.0, -1230, "&* AZ=101.25", "4320637701"},
        };
        for (const Step &step : steps) {
            QTRY_VERIFY(s.window->pendingCommand().isEmpty());
            s.radio.clearFrames();
            s.writeData(trackLine(step.azimuth, step.elevation, 0, step.doppler));
            s.window->timerTimeout();
            QTRY_COMPARE(s.rotator.commands().last(), QString::fromLatin1(step.command));
            QTRY_COMPARE(framesWithOpcode(s.radio, 0x01), (QList<QByteArray> {hex(step.frame)}));
        }
        QTRY_COMPARE(s.rotator.azimuth().value_or(0), 101.25);
        QCOMPARE(s.rotator.elevation().value_or(0), 10.5);
        QCOMPARE(s.radio.frequency(), 432'063'770u);
    }
};

QTEST_MAIN(tst_Station)
#include "tst_station.moc"

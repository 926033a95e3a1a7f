// SPDX-License-Identifier: GPL-3.0-or-later
// The rotator side end to end: the real window, its own widgets, and the
// simulated controller answering over a pty.

#include "windowtesting.h"

#include "sim/simrotator.h"
#include "transceiver/manualentry.h"
#include "links/rotatorcommand.h"
#include "ui/parkingdialog.h"

#include <QSignalSpy>
#include <QtTest>

#include <ctime>

using namespace windowtesting;
using RotatorStation = Station<SimRotator, PtyPeer>;

namespace {

double processCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

const QByteArray crlf("\r\n");

} // namespace

class tst_Rotator : public QObject
{
    Q_OBJECT

private slots:
    void commandFormat_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("azimuth");
        QTest::addColumn<QByteArray>("elevation");
        QTest::newRow("123.456") << 123.456 << QByteArray("&* AZ=123.46\r\n") << QByteArray("&* EL=123.46\r\n");
        QTest::newRow("5") << 5.0 << QByteArray("&* AZ=005.00\r\n") << QByteArray("&* EL=005.00\r\n");
        QTest::newRow("12.3") << 12.3 << QByteArray("&* AZ=012.30\r\n") << QByteArray("&* EL=012.30\r\n");
        QTest::newRow("-3.2") << -3.2 << QByteArray("&* AZ=-03.20\r\n") << QByteArray("&* EL=-03.20\r\n");
        QTest::newRow("1234.5") << 1234.5 << QByteArray("&* AZ=1234.50\r\n") << QByteArray("&* EL=1234.50\r\n");
        QTest::newRow("-1") << -1.0 << QByteArray("&* AZ=-01.00\r\n") << QByteArray("&* EL=-01.00\r\n");
        QTest::newRow("0") << 0.0 << QByteArray("&* AZ=000.00\r\n") << QByteArray("&* EL=000.00\r\n");
        QTest::newRow("359.999") << 359.999 << QByteArray("&* AZ=360.00\r\n") << QByteArray("&* EL=360.00\r\n");
        // Exact ties go to the even digit, as printf rounds.
        QTest::newRow("tie 123.125") << 123.125 << QByteArray("&* AZ=123.12\r\n") << QByteArray("&* EL=123.12\r\n");
        QTest::newRow("tie 10.625") << 10.625 << QByteArray("&* AZ=010.62\r\n") << QByteArray("&* EL=010.62\r\n");
        QTest::newRow("tie -3.125") << -3.125 << QByteArray("&* AZ=-03.12\r\n") << QByteArray("&* EL=-03.12\r\n");
        QTest::newRow("tie 0.375 up") << 0.375 << QByteArray("&* AZ=000.38\r\n") << QByteArray("&* EL=000.38\r\n");
        QTest::newRow("tie -0.125") << -0.125 << QByteArray("&* AZ=-00.12\r\n") << QByteArray("&* EL=-00.12\r\n");
        QTest::newRow("tie 4095.875") << 4095.875 << QByteArray("&* AZ=4095.88\r\n") << QByteArray("&* EL=4095.88\r\n");
        QTest::newRow("not a tie 2.675") << 2.675 << QByteArray("&* AZ=002.67\r\n") << QByteArray("&* EL=002.67\r\n");
        QTest::newRow("negative zero") << -0.0 << QByteArray("&* AZ=000.00\r\n") << QByteArray("&* EL=000.00\r\n");
        QTest::newRow("rounds to zero") << -0.001 << QByteArray("&* AZ=-00.00\r\n") << QByteArray("&* EL=-00.00\r\n");
    }

    void commandFormat()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, azimuth);
        QFETCH(QByteArray, elevation);
        QCOMPARE(rotator::azimuthCommand(value), azimuth);
        QCOMPARE(rotator::elevationCommand(value), elevation);
    }

    void deadBand_data()
    {
        QTest::addColumn<double>("position");
        QTest::addColumn<double>("last");
        QTest::addColumn<double>("band");
        QTest::addColumn<bool>("sends");
        QTest::newRow("exactly the band") << 10.5 << 10.0 << 0.5 << false;
        QTest::newRow("beyond the band") << 10.75 << 10.0 << 0.5 << true;
        QTest::newRow("backwards beyond") << 9.25 << 10.0 << 0.5 << true;
        QTest::newRow("zero band, no move") << 10.0 << 10.0 << 0.0 << false;
        QTest::newRow("zero band, any move") << 10.01 << 10.0 << 0.0 << true;
        QTest::newRow("start value") << 0.0 << -1.0 << 0.1 << true;
    }

    void deadBand()
    {
        QFETCH(double, position);
        QFETCH(double, last);
        QFETCH(double, band);
        QFETCH(bool, sends);
        QCOMPARE(rotator::movedBeyond(position, last, band), sends);
    }

    void nextStep_data()
    {
        QTest::addColumn<bool>("azimuthMoved");
        QTest::addColumn<bool>("elevationMoved");
        QTest::addColumn<bool>("elevationNext");
        QTest::addColumn<int>("step");
        using rotator::Step;
        QTest::newRow("nothing moved") << false << false << true << int(Step::None);
        QTest::newRow("both, azimuth first") << true << true << false << int(Step::Azimuth);
        QTest::newRow("both, elevation after an acknowledged azimuth") << true << true << true << int(Step::Elevation);
        QTest::newRow("azimuth only, elevation was next") << true << false << true << int(Step::Azimuth);
        QTest::newRow("elevation only") << false << true << false << int(Step::Elevation);
    }

    void nextStep()
    {
        QFETCH(bool, azimuthMoved);
        QFETCH(bool, elevationMoved);
        QFETCH(bool, elevationNext);
        QFETCH(int, step);
        QCOMPARE(int(rotator::nextStep(azimuthMoved, elevationMoved, elevationNext)), step);
    }

    void staleLimit_data()
    {
        QTest::addColumn<quint32>("seconds");
        QTest::addColumn<unsigned>("limit");
        QTest::newRow("0 counts as 1 s") << 0u << 60u;
        QTest::newRow("1 s") << 1u << 60u;
        QTest::newRow("2 s") << 2u << 30u;
        QTest::newRow("7 s") << 7u << 8u;
        QTest::newRow("60 s") << 60u << 1u;
        QTest::newRow("600 s") << 600u << 0u;
    }

    void staleLimit()
    {
        QFETCH(quint32, seconds);
        QFETCH(unsigned, limit);
        QCOMPARE(rotator::staleCommandLimit(seconds), limit);
    }

    void byteEntry_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("hex and decimal") << "0x26 0x2A 65" << QByteArray::fromHex("262a41");
        QTest::newRow("two spaces") << "1  2" << QByteArray::fromHex("0102");
        QTest::newRow("hex without prefix") << "FE" << QByteArray();
        QTest::newRow("low 8 bits") << "300" << QByteArray::fromHex("2c");
        QTest::newRow("octal") << "010" << QByteArray::fromHex("08");
        QTest::newRow("negative") << "-1" << QByteArray::fromHex("ff");
        QTest::newRow("upper-case prefix") << "0XfF" << QByteArray::fromHex("ff");
        QTest::newRow("beyond 32 bits") << "4294967296 7" << QByteArray::fromHex("07");
        QTest::newRow("empty") << "" << QByteArray();
        // Only the prefixes the rule names: no binary, nothing after the number.
        QTest::newRow("binary prefixes") << "0b1 0B11 5" << QByteArray::fromHex("05");
        QTest::newRow("NUL inside") << QString(QStringLiteral("219") + QChar(0) + QStringLiteral("x 7"))
                                    << QByteArray::fromHex("07");
        QTest::newRow("NUL at the end") << QString(QStringLiteral("219") + QChar(0)) << QByteArray();
        QTest::newRow("letters after digits") << "12abc 1e2 1.0 0x1g 0x-1" << QByteArray();
        QTest::newRow("prefix without digits") << "0x 0X - +" << QByteArray();
        QTest::newRow("digit beyond octal") << "08 09 07" << QByteArray::fromHex("07");
        QTest::newRow("signs") << "+5 -0x10 -010" << QByteArray::fromHex("05f0f8");
        QTest::newRow("int range") << "2147483647 2147483648 -2147483648 -2147483649"
                                   << QByteArray::fromHex("ff00");
        QTest::newRow("tab around a value") << "\t0x41\t" << QByteArray::fromHex("41");
        QTest::newRow("non-ASCII digits") << QStringLiteral("\uff15 \u0663 \u00b2") << QByteArray();
    }

    void byteEntry()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QCOMPARE(parseByteValues(typed), bytes);
    }

    void firstCycleThenElevationAfterOk()
    {
        RotatorStation s;
        s.debugOn();
        s.clickOpenA();
        QVERIFY(s.logged(QStringLiteral("connected to %1").arg(s.rotator.slavePath())));
        s.selectData(trackLine(123.456, 5));
        s.setAutoA(true);
        QVERIFY(s.window->isTrackingActive());
        QTRY_COMPARE(s.rotator.received(), QByteArray("&* AZ=123.46\r\n"));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        QVERIFY(s.logged(QStringLiteral("--received A: 4f4b0d0a")));
        QVERIFY(s.logged(QStringLiteral("--sending: 262a20415a3d3132332e34360d0a")));

        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.received(), QByteArray("&* AZ=123.46\r\n&* EL=005.00\r\n"));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        s.window->timerTimeout();
        s.window->timerTimeout();
        QTest::qWait(100);
        QCOMPARE(s.rotator.commands(), (QStringList {"&* AZ=123.46", "&* EL=005.00"}));
    }

    // Opening port A in Auto runs a cycle at once. Its command is on the line
    // and waits for its own "OK": taking that "OK" for the next command would
    // put two commands on the controller at once and count one as done
    // before the controller had read it.
    void commandWrittenOnOpenIsWaitedFor()
    {
        RotatorStation s;
        s.rotator.setReplyDelay(300);
        s.selectData(trackLine(123.456, 5));
        s.setAutoA(true);
        s.clickOpenA();
        QTRY_COMPARE(s.rotator.received(), QByteArray("&* AZ=123.46\r\n"));
        QCOMPARE(s.window->pendingCommand(), QByteArray("&* AZ=123.46\r\n"));
        s.window->timerTimeout();
        QTest::qWait(100);
        QCOMPARE(s.rotator.commands().size(), 1);  // still waiting for the answer
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());

        // The next command is acknowledged by its own answer, not the first one's.
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands().size(), 2);
        QVERIFY(!s.window->pendingCommand().isEmpty());
        QTest::qWait(150);
        QVERIFY(!s.window->pendingCommand().isEmpty());
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
    }

    // A target that moves beyond the dead band in both axes every cycle: the
    // antenna follows in both, one acknowledged command at a time.
    void bothAxesMovingEveryCycleAlternate()
    {
        RotatorStation s;
        s.clickOpenA();
        s.selectData(trackLine(100, 10));
        s.setAutoA(true);
        QTRY_COMPARE(s.rotator.commands().size(), 1);
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        for (int i = 1; i <= 4; ++i) {
            s.writeData(trackLine(100 + i * 0.5, 10 + i * 0.5));
            s.window->timerTimeout();
            QTRY_COMPARE(s.rotator.commands().size(), i + 1);
            QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        }
        QCOMPARE(s.rotator.commands(), (QStringList {"&* AZ=100.00", "&* EL=010.50", "&* AZ=101.00",
                                                     "&* EL=011.50", "&* AZ=102.00"}));
    }

    void targetSwitchAndOffsets()
    {
        RotatorStation s;
        s.rotator.setSilent(true);
        s.clickOpenA();
        s.selectData(trackLine(1, 5, 0, 0, 200, 30));
        s.setAutoA(true);
        QTRY_COMPARE(s.rotator.received(), QByteArray("&* AZ=001.00\r\n"));
        QVERIFY(!s.window->pendingCommand().isEmpty());

        // The already chosen target stays chosen and still frees the rotator.
        enter(s.w<QLineEdit>("lineAzimutOffset"), QStringLiteral("-2"));
        action(*s.window, "actionRotMoon")->trigger();
        QVERIFY(action(*s.window, "actionRotMoon")->isChecked());
        QVERIFY(s.window->pendingCommand().isEmpty());
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands().size(), 2);
        QCOMPARE(s.rotator.commands().last(), QStringLiteral("&* AZ=-01.00"));
        action(*s.window, "actionRotMoon")->trigger();
        s.window->timerTimeout();  // Moon unchanged: the elevation goes
        QTRY_COMPARE(s.rotator.commands().size(), 3);
        QCOMPARE(s.rotator.commands().last(), QStringLiteral("&* EL=005.00"));

        action(*s.window, "actionRotSun")->trigger();
        QVERIFY(s.window->pendingCommand().isEmpty());
        QVERIFY(!action(*s.window, "actionRotMoon")->isChecked());
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands().size(), 4);
        QCOMPARE(s.rotator.commands().last(), QStringLiteral("&* AZ=198.00"));

        enter(s.w<QLineEdit>("lineAzimutOffset"), QStringLiteral("abc"));
        QVERIFY(s.logged(QStringLiteral("azimuth offset error")));
        enter(s.w<QLineEdit>("lineAzimutOffset"), QStringLiteral("1.5"));
        action(*s.window, "actionRotSun")->trigger();
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands().size(), 5);
        QCOMPARE(s.rotator.commands().last(), QStringLiteral("&* AZ=201.50"));
    }

    void staleCommandDroppedAfterAMinute()
    {
        RotatorStation s(2);  // 2 s repetitions: one minute is 30 of them
        s.rotator.setSilent(true);
        s.clickOpenA();
        s.selectData(trackLine(123.456, 5));
        s.setAutoA(true);
        QTRY_COMPARE(s.rotator.commands().size(), 1);
        for (int i = 0; i < 31; ++i)
            s.window->timerTimeout();
        QVERIFY(!s.window->pendingCommand().isEmpty());
        QCOMPARE(s.window->staleCount(), quint16(31));
        s.window->timerTimeout();  // the 32nd repetition: about 64 s after sending
        QTRY_COMPARE(s.rotator.commands(), (QStringList {"&* AZ=123.46", "&* EL=005.00"}));
        QCOMPARE(s.window->pendingCommand(), QByteArray("&* EL=005.00\r\n"));
    }

    void repliesSplitOrAfterZeroByte_data()
    {
        QTest::addColumn<bool>("split");
        QTest::addColumn<bool>("zero");
        QTest::newRow("O and K in two reads") << true << false;
        QTest::newRow("zero byte before OK") << false << true;
    }

    void repliesSplitOrAfterZeroByte()
    {
        QFETCH(bool, split);
        QFETCH(bool, zero);
        RotatorStation s;
        s.rotator.setSplitReply(split);
        s.rotator.setZeroByteBeforeReply(zero);
        s.clickOpenA();
        s.selectData(trackLine(10, 20));
        s.setAutoA(true);
        QTRY_COMPARE(s.rotator.commands().size(), 1);
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands(), (QStringList {"&* AZ=010.00", "&* EL=020.00"}));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
    }

    void parking()
    {
        RotatorStation s;
        s.clickOpenA();
        QVERIFY(action(*s.window, "actionPark_rotator")->isEnabled());
        action(*s.window, "actionPark_rotator")->trigger();
        auto *dialog = s.window->findChild<ParkingDialog *>();
        QVERIFY(dialog->isVisible());
        QTest::mouseClick(s.w<QPushButton>("buttonParkPark"), Qt::LeftButton);
        QTRY_COMPARE(s.rotator.received(), QByteArray("&* AZ=090.00\r\n&* EL=010.00\r\n"));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        QTest::qWait(100);  // the second OK sends nothing more
        QCOMPARE(s.rotator.commands().size(), 2);
        QVERIFY(s.window->isParkingActive());
        QTest::mouseClick(s.w<QPushButton>("buttonParkClose"), Qt::LeftButton);
        QVERIFY(!s.window->isParkingActive());
        QVERIFY(!dialog->isVisible());
        // Manual again: answers are only shown.
        s.rotator.sendRaw("OK\r\n");
        QTRY_VERIFY(!s.log().filter(QStringLiteral("Port A data received (4 bytes): OK")).isEmpty());
    }

    void parkingPositionsRoundTiesToEven()
    {
        RotatorStation s;
        s.clickOpenA();
        action(*s.window, "actionPark_rotator")->trigger();
        auto *azimuth = s.w<QLineEdit>("lineParkAzimuth");
        auto *elevation = s.w<QLineEdit>("lineParkElevation");
        azimuth->selectAll();
        QTest::keyClicks(azimuth, QStringLiteral("123.125"));
        elevation->selectAll();
        QTest::keyClicks(elevation, QStringLiteral("10.625"));
        QTest::mouseClick(s.w<QPushButton>("buttonParkPark"), Qt::LeftButton);
        QTRY_COMPARE(s.rotator.commands(), (QStringList {"&* AZ=123.12", "&* EL=010.62"}));
    }

    void parkTwiceBeforeAnyAnswer()
    {
        RotatorStation s;
        s.rotator.setReplyDelay(300);
        s.clickOpenA();
        action(*s.window, "actionPark_rotator")->trigger();
        QTest::mouseClick(s.w<QPushButton>("buttonParkPark"), Qt::LeftButton);
        auto *azimuth = s.w<QLineEdit>("lineParkAzimuth");
        azimuth->setText(QStringLiteral("100"));
        QTest::mouseClick(s.w<QPushButton>("buttonParkPark"), Qt::LeftButton);
        QTRY_COMPARE(s.rotator.commands().mid(0, 3),
                     (QStringList {"&* AZ=090.00", "&* AZ=090.00", "&* AZ=100.00"}));
        QVERIFY(s.rotator.received().startsWith("&* AZ=090.00\r\n&* AZ=090.00\r\n&* AZ=100.00\r\n"));
    }

    void parkingRefused()
    {
        RotatorStation s;
        s.rotator.setLimits(0, 80, 0, 90);
        s.clickOpenA();
        action(*s.window, "actionPark_rotator")->trigger();
        QTest::mouseClick(s.w<QPushButton>("buttonParkPark"), Qt::LeftButton);
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        QVERIFY(!s.log().filter(QStringLiteral("Rotator error code: ERROR/LIMIT")).isEmpty());
        QTest::qWait(100);
        QCOMPARE(s.rotator.commands(), (QStringList {"&* AZ=090.00"}));
    }

    void manualModeShowsRawReplies()
    {
        RotatorStation s;
        s.clickOpenA();
        s.rotator.sendRaw(QByteArray("ab\0", 3));
        QTRY_VERIFY(s.logged(QStringLiteral("Port A data received (3 bytes): ab")));
        QVERIFY(s.window->pendingCommand().isEmpty());
    }

    void manualSends()
    {
        RotatorStation s;
        s.clickOpenA();
        s.clickOpenB();
        enter(s.w<QLineEdit>("lineSerialSendA"), QStringLiteral("abc"));
        QTRY_COMPARE(s.rotator.received(), QByteArray("abc\r\n"));
        s.w<QLineEdit>("lineSerialSendA")->clear();
        QTest::mouseClick(s.w<QPushButton>("buttonSerialSendA"), Qt::LeftButton);
        QTRY_COMPARE(s.rotator.received(), QByteArray("abc\r\n\r\n"));

        enter(s.w<QLineEdit>("lineSerialSendB"), QStringLiteral("0x26 0x2A 65"));
        QTRY_COMPARE(s.radio.received(), QByteArray::fromHex("262a41"));
        enter(s.w<QLineEdit>("lineSerialSendB"), QStringLiteral("FE"));
        enter(s.w<QLineEdit>("lineSerialSendB"), QStringLiteral("1  2 300 010 -1"));
        QTRY_COMPARE(s.radio.received(), QByteArray::fromHex("262a4101022c08ff"));
        enter(s.w<QLineEdit>("lineSerialSendB"), QStringLiteral("0b1 0B11 5"));
        QTRY_COMPARE(s.radio.received(), QByteArray::fromHex("262a4101022c08ff05"));
    }

    void openLogsTheSettingsReadBack()
    {
        RotatorStation s;
        s.clickOpenA();
        const QStringList lines = s.log();
        const int first = lines.indexOf(QStringLiteral("Serial Port A settings:"));
        QVERIFY(first >= 0);
        QCOMPARE(lines.mid(first, 7),
                 (QStringList {"Serial Port A settings:", "Baud rate: 9600", "Data bits: 8", "Flow control: off",
                               "Parity: none", "Stop bits: 1",
                               QStringLiteral("connected to %1").arg(s.rotator.slavePath())}));
        QCOMPARE(s.w<QLabel>("labelSerialStatusA")->text(), QStringLiteral("Status: connected"));
        QCOMPARE(s.w<QPushButton>("buttonOpenSerialA")->text(), QStringLiteral("Close"));
        QVERIFY(!action(*s.window, "actionSerial_port")->isEnabled());
        QVERIFY(s.w<QPushButton>("buttonSerialSendA")->isEnabled());
    }

    void dialogParametersAreReadBackFromThePort()
    {
        RotatorStation s;
        action(*s.window, "actionSerial_port")->trigger();
        s.w<QComboBox>("comboBaudrateA")->setCurrentText(QStringLiteral("57600"));
        s.w<QComboBox>("comboDatabitsA")->setCurrentText(QStringLiteral("5"));
        s.w<QComboBox>("comboStopbitA")->setCurrentText(QStringLiteral("2"));
        s.w<QComboBox>("comboParityA")->setCurrentText(QStringLiteral("even"));
        QTest::mouseClick(s.w<QPushButton>("buttonSerialSettingsConfirm"), Qt::LeftButton);
        s.clickOpenA();
        const QStringList lines = s.log();
        const int first = lines.indexOf(QStringLiteral("Serial Port A settings:"));
        // Two stop bits do not go with five data bits: the port keeps one, and says so.
        QCOMPARE(lines.mid(first + 1, 5), (QStringList {"Baud rate: 57600", "Data bits: 5", "Flow control: off",
                                                        "Parity: even", "Stop bits: 1"}));
    }

    void zeroRepetitionTimeCountsAsOneSecond()
    {
        RotatorStation s(0);
        s.setAutoA(true);
        s.clickOpenA();
        QVERIFY(s.window->isTrackingActive());
        auto *repetition = s.window->station().findChild<QTimer *>(QStringLiteral("repetitionTimer"));
        QVERIFY(repetition && repetition->isActive());
        QCOMPARE(repetition->interval(), 1000);
        s.rotator.setSilent(true);
        s.selectData(trackLine(10, 20));
        s.window->timerTimeout();
        QTRY_COMPARE(s.rotator.commands().size(), 1);
        for (int i = 0; i < 60; ++i)
            s.window->timerTimeout();
        QTest::qWait(50);
        QCOMPARE(s.rotator.commands().size(), 1);
        QCOMPARE(s.window->pendingCommand(), QByteArray("&* AZ=010.00\r\n"));
        s.window->timerTimeout();  // past 60 repetitions of one second
        QTRY_COMPARE(s.rotator.commands().size(), 2);
    }

    void portThatCannotBeOpened()
    {
        WorkDir dir;
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({QStringLiteral("/dev/pts/no-such-port")});
        Qt_Vestrel window;
        child<QPushButton>(window, "buttonOpenSerialA")->click();
        const QStringList lines = logLines(window);
        QVERIFY(lines.value(1).startsWith(QLatin1String("First start in this folder. ")));  // an empty folder
        QCOMPARE(lines.mid(2), (QStringList {"Serial Port A settings:", "Baud rate: 9600", "Data bits: 8",
                                             "Flow control: off", "Parity: none", "Stop bits: 1",
                                             "connection to /dev/pts/no-such-port failed"}));
        QCOMPARE(child<QLabel>(window, "labelSerialStatusA")->text(), QStringLiteral("Status: disconnected"));
        QCOMPARE(child<QPushButton>(window, "buttonOpenSerialA")->text(), QStringLiteral("Open"));
        QVERIFY(action(window, "actionSerial_port")->isEnabled());
        SerialEnumerator::setExtraPortNames({});
    }

    void openCloseAndModesDriveTracking()
    {
        RotatorStation s;
        // Auto while closed starts nothing but disables sending and parking.
        s.setAutoA(true);
        QVERIFY(!s.window->isTrackingActive());
        QVERIFY(!s.w<QPushButton>("buttonSerialSendA")->isEnabled());
        QVERIFY(!action(*s.window, "actionPark_rotator")->isEnabled());
        s.setAutoA(false);
        QVERIFY(!s.w<QPushButton>("buttonSerialSendA")->isEnabled());

        // Opening in Auto starts tracking and reports the missing file.
        s.setAutoA(true);
        s.clickOpenA();
        QVERIFY(s.window->isTrackingActive());
        QVERIFY(s.logged(QStringLiteral("no file loaded")));
        QVERIFY(!s.w<QPushButton>("buttonSerialSendA")->isEnabled());

        s.setAutoB(true);
        s.clickOpenB();
        s.clickOpenA();  // close A: B keeps tracking
        QVERIFY(s.logged(QStringLiteral("Port A disconnected")));
        QVERIFY(s.window->isTrackingActive());
        QVERIFY(!action(*s.window, "actionSerial_port")->isEnabled());
        s.w<QPushButton>("buttonOpenSerialB")->click();  // close B: nothing left
        QVERIFY(!s.window->isTrackingActive());
        QVERIFY(action(*s.window, "actionSerial_port")->isEnabled());

        // A open in Manual, B open in Auto: closing B stops tracking.
        s.setAutoA(false);
        s.clickOpenA();
        s.clickOpenB();
        QVERIFY(s.window->isTrackingActive());
        QVERIFY(action(*s.window, "actionPark_rotator")->isEnabled());
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QVERIFY(!s.window->isTrackingActive());

        // Picking a name in the combo closes the port and does not reopen it.
        emit s.w<QComboBox>("comboSerialNameA")->activated(0);
        QCOMPARE(s.log().last(), QStringLiteral("Port A disconnected"));
        QCOMPARE(s.w<QLabel>("labelSerialStatusA")->text(), QStringLiteral("Status: disconnected"));
        QVERIFY(!action(*s.window, "actionPark_rotator")->isEnabled());
    }

    void teardownClosesPortAFirst()
    {
        RotatorStation s;
        s.clickOpenA();
        s.clickOpenB();
        QStringList seen;
        QPlainTextEdit *log = logView(*s.window);
        connect(log, &QPlainTextEdit::textChanged, this, [&seen, log] { seen = log->toPlainText().split(QLatin1Char('\n')); });
        s.window.reset();
        QCOMPARE(seen.mid(seen.size() - 2), (QStringList {"Port A disconnected", "Port B disconnected"}));
    }

    void deviceLost_data()
    {
        QTest::addColumn<bool>("portA");
        QTest::newRow("rotator unplugged") << true;
        QTest::newRow("transceiver unplugged") << false;
    }

    void deviceLost()
    {
        QFETCH(bool, portA);
        RotatorStation s;
        s.setAutoA(true);
        s.setAutoB(true);
        s.clickOpenA();
        s.clickOpenB();
        QVERIFY(s.window->isTrackingActive());
        const QString path = portA ? s.rotator.slavePath() : s.radio.slavePath();
        const QString name = portA ? QStringLiteral("Port A") : QStringLiteral("Port B");
        if (portA)
            s.rotator.hangUp();
        else
            s.radio.hangUp();
        QTRY_VERIFY(s.logged(QStringLiteral("connection to %1 lost").arg(path)));
        const QStringList lines = s.log();
        QCOMPARE(lines.mid(lines.indexOf(QStringLiteral("connection to %1 lost").arg(path)), 2),
                 (QStringList {QStringLiteral("connection to %1 lost").arg(path), name + " disconnected"}));
        QCOMPARE(s.w<QLabel>(portA ? "labelSerialStatusA" : "labelSerialStatusB")->text(),
                 QStringLiteral("Status: disconnected, waiting for %1 to return").arg(path));
        QVERIFY(s.window->isTrackingActive());  // the other port is open in Auto

        const double before = processCpuSeconds();
        QTest::qWait(500);
        QVERIFY2(processCpuSeconds() - before < 0.2, "busy loop after the device went away");
        QCOMPARE(s.log().filter(QStringLiteral(" lost")).size(), 1);

        // Closing the other one ends tracking as usual.
        s.w<QPushButton>(portA ? "buttonOpenSerialB" : "buttonOpenSerialA")->click();
        QVERIFY(!s.window->isTrackingActive());
    }
};

QTEST_MAIN(tst_Rotator)
#include "tst_rotator.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The real window against Hamlib's real rigctld and rotctld on free local
// ports: the dummy radio and rotator, and rigctld in front of the simulated
// FT-817 on a pty. Also a daemon that never answers, one that sends garbage,
// hosts that refuse or never answer, and the network settings file.

#include "hamlibtesting.h"
#include "windowtesting.h"

#include "sim/simtransceiver.h"

#include <QCheckBox>
#include <QtTest>

using namespace hamlibtesting;
using namespace windowtesting;
using NetStation = Station<PtyPeer, PtyPeer>;

namespace {

const QString unknownPosition = QStringLiteral("Antenna: az ---.--, el ---.--");

template <typename S>
void useRigctld(S &s, const QString &address)
{
    s.template w<QComboBox>("comboTransceiver")->setCurrentText(QStringLiteral("Hamlib rigctld (network)"));
    s.template w<QComboBox>("comboSerialNameB")->setEditText(address);
}

void useRotctld(NetStation &s, const QString &address)
{
    s.w<QComboBox>("comboRotator")->setCurrentText(QStringLiteral("Hamlib rotctld (network)"));
    s.w<QComboBox>("comboSerialNameA")->setEditText(address);
}

QString sending(const QByteArray &bytes)
{
    return QStringLiteral("--sending: %1").arg(QString::fromLatin1(bytes.toHex()));
}

int countOf(NetStation &s, const QString &line)
{
    return int(s.log().count(line));
}

QByteArrayList framesWithOpcode(const SimTransceiver &radio, quint8 opcode)
{
    QByteArrayList found;
    for (const QByteArray &frame : radio.frames())
        if (frame.size() == 5 && quint8(frame.at(4)) == opcode)
            found << frame;
    return found;
}

} // namespace

class tst_HamlibDaemons : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!daemonsInstalled())
            QSKIP("rigctld and rotctld are not installed (Debian package libhamlib-utils)");
    }

    void rigctldReadoutPttAndFrequencies()
    {
        Daemon rig(QStringLiteral("rigctld"), {QStringLiteral("-m"), QStringLiteral("1"), QStringLiteral("-P"),
                                               QStringLiteral("RIG")});
        QVERIFY(rig.start());
        NetStation s;
        s.selectData(trackLine(123.456, 5, 0, 1000));
        useRigctld(s, rig.address());
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QTRY_VERIFY(s.logged(QStringLiteral("connected to %1").arg(rig.address())));
        QCOMPARE(s.w<QLabel>("labelSerialStatusB")->text(), QStringLiteral("Status: connected"));
        QCOMPARE(s.w<QPushButton>("buttonOpenSerialB")->text(), QStringLiteral("Close"));
        QVERIFY(!s.w<QComboBox>("comboTransceiver")->isEnabled());
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 145.00000 MHz"));

        // Another program of the station keys the radio and tunes it.
        QCOMPARE(rig.ask("T 1"), (QByteArrayList {"RPRT 0"}));
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("T 145.00000 MHz"));
        QCOMPARE(rig.ask("T 0"), (QByteArrayList {"RPRT 0"}));
        QCOMPARE(rig.ask("F 432065000"), (QByteArrayList {"RPRT 0"}));
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06500 MHz"));

        // Doppler steps reach the radio as "F <Hz>".
        s.w<QCheckBox>("checkDoppler")->click();
        QCOMPARE(s.w<QLabel>("labelFreqStart")->text(), QStringLiteral("432.06400 MHz"));
        s.writeData(trackLine(123.456, 5, 0, 1250));
        s.window->timerTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ask("f"), (QByteArrayList {"432065250"}), 15000);
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06525 MHz"));

        // Typed frequencies; one the radio cannot have is refused, not wrapped.
        s.w<QCheckBox>("checkDoppler")->click();
        auto *entry = s.w<QLineEdit>("lineTransceiverFrequency");
        enter(entry, QStringLiteral("144.3"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ask("f"), (QByteArrayList {"144300000"}), 15000);
        enter(entry, QStringLiteral("1296.05"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.ask("f"), (QByteArrayList {"1296050000"}), 15000);
        enter(entry, QStringLiteral("5000"));
        QTRY_VERIFY(s.logged(QStringLiteral("Frequency error")));
        QTest::qWait(100);
        QCOMPARE(rig.ask("f"), (QByteArrayList {"1296050000"}));

        s.w<QPushButton>("buttonOpenSerialB")->click();
        QVERIFY(s.logged(QStringLiteral("Port B disconnected")));
        QCOMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("---.----- MHz"));
        QVERIFY(s.w<QComboBox>("comboTransceiver")->isEnabled());
    }

    // In VFO mode (--vfo) every command names its VFO; without it none does.
    // Either way a Doppler step goes once, not again each cycle.
    void rigctldVfoMode_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("vfo");
        QTest::newRow("plain") << QStringList {"-m", "1"} << QByteArray();
        QTest::newRow("VFO mode") << QStringList {"-m", "1", "--vfo"} << QByteArray(" VFOA");
    }

    void rigctldVfoMode()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, vfo);
        Daemon rig(QStringLiteral("rigctld"), arguments);
        QVERIFY(rig.start());
        NetStation s;
        s.debugOn();
        s.selectData(trackLine(123.456, 5, 0, 1000));
        useRigctld(s, rig.address());
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialB")->click();
        const QString sent = QStringLiteral("--sending to %1: ").arg(rig.address());
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 145.00000 MHz"));
        QVERIFY(s.logged(sent + QString::fromLatin1("f" + vfo)));

        s.w<QCheckBox>("checkDoppler")->click();
        s.writeData(trackLine(123.456, 5, 0, 1250));
        for (int cycle = 0; cycle < 3; ++cycle)
            s.window->timerTimeout();
        QTRY_COMPARE_WITH_TIMEOUT(rig.ask("f" + vfo), (QByteArrayList {"145000250"}), 15000);
        QCOMPARE(s.log().filter(sent + QString::fromLatin1("F" + vfo + " ")),
                 (QStringList {sent + QString::fromLatin1("F" + vfo + " 145000250")}));
        QVERIFY(s.log().filter(QStringLiteral("bad line")).isEmpty());
        QVERIFY(s.log().filter(QStringLiteral("no answer")).isEmpty());
    }

    void rotctldTrackingParkingAndPosition()
    {
        Daemon rot(QStringLiteral("rotctld"), {QStringLiteral("-m"), QStringLiteral("1")});
        QVERIFY(rot.start());
        NetStation s;
        s.debugOn();
        s.selectData(trackLine(123.456, 5));
        useRotctld(s, rot.address());
        QVERIFY(s.w<QLabel>("labelAntennaPosition")->isVisibleTo(s.window.get()));
        QCOMPARE(s.w<QLabel>("labelAntennaPosition")->text(), unknownPosition);
        s.setAutoA(true);
        s.w<QPushButton>("buttonOpenSerialA")->click();
        QTRY_VERIFY(s.logged(QStringLiteral("connected to %1").arg(rot.address())));
        QVERIFY(!s.w<QComboBox>("comboRotator")->isEnabled());

        // Both axes in one command; "RPRT 0" releases it.
        QTRY_VERIFY(s.logged(sending("P 123.46 5.00\n")));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        // Where the antenna really is, read back while the dummy slews.
        QTRY_VERIFY(s.w<QLabel>("labelAntennaPosition")->text() != unknownPosition);
        QVERIFY(s.w<QLabel>("labelAntennaPosition")->text().startsWith(QStringLiteral("Antenna: az ")));

        // One axis per cycle, as on the serial line; the other axis keeps its
        // last commanded value. After the first position's azimuth step the
        // elevation goes next.
        s.writeData(trackLine(124.5, 7));
        s.window->timerTimeout();
        QTRY_VERIFY(s.logged(sending("P 123.46 7.00\n")));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        s.window->timerTimeout();
        QTRY_VERIFY(s.logged(sending("P 124.50 7.00\n")));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());

        // A position beyond the limits rotctld gave goes as far as they allow.
        s.writeData(trackLine(124.5, 100));
        s.window->timerTimeout();
        QTRY_VERIFY(s.logged(QStringLiteral("--sending to %1: P 124.50 90.00").arg(rot.address())));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        QVERIFY(s.log().filter(QStringLiteral("Rotator error code")).isEmpty());

        // Parking is one command with both axes, in Manual.
        s.setAutoA(false);
        QVERIFY(action(*s.window, "actionPark_rotator")->isEnabled());
        s.window->parkingDialogConfirmed();
        QTRY_VERIFY(s.logged(sending("P 90.00 10.00\n")));
        QTRY_VERIFY(s.window->pendingCommand().isEmpty());
        QTest::qWait(200);
        QCOMPARE(countOf(s, sending("P 90.00 10.00\n")), 1);
        s.window->parkingDialogClosed();

        // The manual terminal sends the line as typed and shows the answer;
        // a position beyond the limits too, which the daemon refuses.
        enter(s.w<QLineEdit>("lineSerialSendA"), QStringLiteral("_"));
        QTRY_VERIFY(s.logged(QStringLiteral("Port A data received (13 bytes): Dummy rotator")));
        enter(s.w<QLineEdit>("lineSerialSendA"), QStringLiteral("P 10 100"));
        QTRY_VERIFY(s.logged(QStringLiteral("Port A data received (7 bytes): RPRT -1")));
        QVERIFY(s.log().filter(QStringLiteral("bad line")).isEmpty());

        s.w<QPushButton>("buttonOpenSerialA")->click();
        QVERIFY(s.logged(QStringLiteral("Port A disconnected")));
        QVERIFY(s.w<QComboBox>("comboRotator")->isEnabled());
    }

    void daemonsKilledAndRestartedWhileTracking()
    {
        auto rot = std::make_unique<Daemon>(QStringLiteral("rotctld"), QStringList {"-m", "1"});
        auto rig = std::make_unique<Daemon>(QStringLiteral("rigctld"), QStringList {"-m", "1", "-P", "RIG"});
        QVERIFY(rot->start());
        QVERIFY(rig->start());
        const quint16 rotPort = rot->port();
        NetStation s;
        s.debugOn();
        s.selectData(trackLine(200, 20));
        useRotctld(s, rot->address());
        useRigctld(s, rig->address());
        s.setAutoA(true);
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialA")->click();
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QTRY_VERIFY(s.logged(sending("P 200.00 20.00\n")));
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 145.00000 MHz"));

        const QString rotLost = QStringLiteral("connection to %1 lost").arg(rot->address());
        const QString rigLost = QStringLiteral("connection to %1 lost").arg(rig->address());
        rot->kill();
        rig->kill();
        QTRY_COMPARE(countOf(s, rotLost), 1);
        QTRY_COMPARE(countOf(s, rigLost), 1);
        QVERIFY(s.logged(QStringLiteral("Port A disconnected")));
        QVERIFY(s.logged(QStringLiteral("Port B disconnected")));
        QVERIFY(QRegularExpression(QStringLiteral("^Status: disconnected, retrying rotctld in [1-9]\\d* s$"))
                    .match(s.w<QLabel>("labelSerialStatusA")->text())
                    .hasMatch());
        QCOMPARE(s.w<QPushButton>("buttonOpenSerialA")->text(), QStringLiteral("Open"));
        QCOMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("---.----- MHz"));
        QVERIFY(!s.window->isTrackingActive());
        QTest::qWait(300);
        QCOMPARE(countOf(s, rotLost), 1);

        // The daemon is back; Open reconnects and tracking goes on.
        rot = std::make_unique<Daemon>(QStringLiteral("rotctld"), QStringList {"-m", "1"}, rotPort);
        QVERIFY(rot->start());
        s.w<QPushButton>("buttonOpenSerialA")->click();
        QTRY_COMPARE(countOf(s, QStringLiteral("connected to %1").arg(rot->address())), 2);
        QVERIFY(s.window->isTrackingActive());
        QTRY_COMPARE(countOf(s, sending("P 200.00 20.00\n")), 2);
    }

    void silentDaemonFreezesNothing()
    {
        FakeDaemon rig;  // accepts, never answers
        FakeDaemon rot;
        NetStation s;
        s.selectData(trackLine(123.456, 5));
        useRigctld(s, rig.address());
        useRotctld(s, rot.address());
        s.setAutoA(true);
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialA")->click();
        QTRY_VERIFY(s.logged(QStringLiteral("connected to %1").arg(rot.address())));
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QTRY_COMPARE(rot.lines.value(0), QByteArray("\\dump_state"));
        QTRY_COMPARE(rig.lines.value(0), QByteArray("\\chk_vfo"));

        // A second of readout ticks: the window goes on, the daemon gets no pile.
        QTest::qWait(1000);
        QCOMPARE(rig.lines, (QByteArrayList {"\\chk_vfo"}));
        QCOMPARE(rot.lines, (QByteArrayList {"\\dump_state"}));  // the position and its query wait behind it
        s.window->timerTimeout();
        QVERIFY(s.window->pendingCommand().isEmpty());  // no position before the rotator's limits are known
        enter(s.w<QLineEdit>("lineAzimutOffset"), QStringLiteral("1.5"));
        QCOMPARE(s.w<QLineEdit>("lineAzimutOffset")->text(), QStringLiteral("1.5"));
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QVERIFY(s.logged(QStringLiteral("Port B disconnected")));
        s.w<QPushButton>("buttonOpenSerialA")->click();
        QVERIFY(s.logged(QStringLiteral("Port A disconnected")));
    }

    void garbageIsReportedNeverShown()
    {
        FakeDaemon rig;
        rig.answer = [](const QByteArray &line) {
            return line == "f" ? QByteArray("garbage\n\x01<b>\n") : QByteArray("0\n");
        };
        NetStation s;
        useRigctld(s, rig.address());
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialB")->click();
        const QString bad = QStringLiteral("bad line from %1: garbage").arg(rig.address());
        QTRY_VERIFY(s.logged(bad));
        // The line after it came while f was already given up, within a second
        // of the first: said with the next second's summary, alone or, when the
        // next readout's garbage fell in the same second (a loaded machine), as
        // the summary's first line; escaped either way.
        QTRY_VERIFY_WITH_TIMEOUT(s.logged(QStringLiteral("unexpected line from %1: \\x01<b>").arg(rig.address()))
                                     || !s.log().filter(QStringLiteral("bad lines from %1, first: \\x01<b>").arg(rig.address())).isEmpty(),
                                 15000);
        QCOMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("---.----- MHz"));
        QVERIFY(!s.w<QCheckBox>("checkDoppler")->isEnabled());
        // The answer that does come is taken.
        rig.answer = [](const QByteArray &line) { return line == "f" ? QByteArray("432065000\n") : QByteArray("0\n"); };
        rig.send("432065000\n");
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06500 MHz"));
        QVERIFY(s.w<QCheckBox>("checkDoppler")->isEnabled());
    }

    void hostsThatRefuseOrNeverAnswer()
    {
        NetStation s;
        auto *open = s.w<QPushButton>("buttonOpenSerialB");

        const QString refused = QStringLiteral("127.0.0.1:%1").arg(freePort());
        useRigctld(s, refused);
        open->click();
        QTRY_VERIFY(s.logged(QStringLiteral("connection to %1 failed").arg(refused)));
        QVERIFY(QRegularExpression(QStringLiteral("^Status: disconnected, retrying rigctld in [1-9]\\d* s$"))
                    .match(s.w<QLabel>("labelSerialStatusB")->text())
                    .hasMatch());

        s.w<QComboBox>("comboSerialNameB")->setEditText(QStringLiteral("localhost:abc"));
        open->click();
        QVERIFY(s.logged(QStringLiteral("connection to localhost:abc failed")));
        QVERIFY(s.logged(QStringLiteral("not a host and port: localhost:abc")));

        BlackHole hole;
        const QString silent = QStringLiteral("127.0.0.1:%1").arg(hole.port());
        s.w<QComboBox>("comboSerialNameB")->setEditText(silent);
        open->click();
        QCOMPARE(s.w<QLabel>("labelSerialStatusB")->text(), QStringLiteral("Status: connecting"));
        QCOMPARE(open->text(), QStringLiteral("Cancel"));
        open->click();
        QVERIFY(s.logged(QStringLiteral("connection to %1 cancelled").arg(silent)));
        QCOMPARE(open->text(), QStringLiteral("Open"));

        open->click();
        QTRY_VERIFY_WITH_TIMEOUT(s.logged(QStringLiteral("%1: no answer within 5 s").arg(silent)), 15000);
        QVERIFY(s.logged(QStringLiteral("connection to %1 failed").arg(silent)));
        QVERIFY(s.w<QLabel>("labelSerialStatusB")->text().startsWith(QStringLiteral("Status: disconnected, retrying rigctld in ")));
        QCOMPARE(open->text(), QStringLiteral("Open"));
        QVERIFY(s.w<QComboBox>("comboTransceiver")->isEnabled());
    }

    void networkChoicesPersistBesideStoreCfg()
    {
        WorkDir dir;
        PtyPeer one, two;
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({one.slavePath(), two.slavePath()});
        const QString network = dir.file(QStringLiteral("network.cfg"));
        QByteArray store;
        {
            Qt_Vestrel window;
            QVERIFY(!QFile::exists(network));  // a serial station never gets the file
            child<QComboBox>(window, "comboSerialNameB")->setCurrentIndex(1);
            QFile file(dir.file(QStringLiteral("store.cfg")));
            QVERIFY(file.open(QIODevice::ReadOnly));
            store = file.readAll();

            child<QComboBox>(window, "comboTransceiver")->setCurrentText(QStringLiteral("Hamlib rigctld (network)"));
            auto *name = child<QComboBox>(window, "comboSerialNameB");
            QVERIFY(name->isEditable());
            QCOMPARE(name->currentText(), QStringLiteral("localhost:4532"));
            name->setEditText(QStringLiteral("127.0.0.1:%1").arg(freePort()));
            child<QPushButton>(window, "buttonOpenSerialB")->click();  // the address is kept when used
            QTRY_VERIFY(!logLines(window).filter(QRegularExpression(QStringLiteral("^127\\.0\\.0\\.1:"))).isEmpty());

            child<QComboBox>(window, "comboRotator")->setCurrentText(QStringLiteral("Hamlib rotctld (network)"));
            QCOMPARE(child<QComboBox>(window, "comboSerialNameA")->currentText(), QStringLiteral("localhost:4533"));
            child<QComboBox>(window, "comboRotator")->setCurrentText(QStringLiteral("Serial controller"));
            auto *nameA = child<QComboBox>(window, "comboSerialNameA");
            QVERIFY(!nameA->isEditable());
            QCOMPARE(nameA->count(), 2);
            QCOMPARE(nameA->currentText(), one.slavePath());
        }
        QFile file(dir.file(QStringLiteral("store.cfg")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), store);  // nine lines, unchanged
        const NetworkSettings saved = NetworkSettings::read(network);
        QVERIFY(saved.rigctld);
        QVERIFY(!saved.rotctld);
        QVERIFY(saved.rigctldAddress.startsWith(QStringLiteral("127.0.0.1:")));

        Qt_Vestrel again;
        QCOMPARE(child<QComboBox>(again, "comboTransceiver")->currentText(), QStringLiteral("Hamlib rigctld (network)"));
        QCOMPARE(child<QComboBox>(again, "comboSerialNameB")->currentText(), saved.rigctldAddress);
        // Left trying the daemon, the window tries it again at its start.
        const PortSession &b = again.station().portSession(StationPort::B);
        QVERIFY(b.connecting || again.station().isReconnecting(StationPort::B));
        QCOMPARE(b.openedName, saved.rigctldAddress);
        again.station().close(StationPort::B);
        child<QComboBox>(again, "comboTransceiver")->setCurrentIndex(0);
        QCOMPARE(child<QComboBox>(again, "comboSerialNameB")->count(), 2);
        QVERIFY(!child<QComboBox>(again, "comboSerialNameB")->isEditable());
        SerialEnumerator::setExtraPortNames({});
    }

    void ft817ThroughRigctld()
    {
        Station<PtyPeer, SimTransceiver> s;
        s.radio.setAcknowledge(true);  // Hamlib's driver waits for it after each command
        Daemon rig(QStringLiteral("rigctld"),
                   {QStringLiteral("-m"), QStringLiteral("1020"), QStringLiteral("-r"), s.radio.slavePath()});
        QVERIFY(rig.start());
        s.selectData(trackLine(123.456, 5, 0, 1000));
        useRigctld(s, rig.address());
        s.setAutoB(true);
        s.w<QPushButton>("buttonOpenSerialB")->click();
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06500 MHz"));
        s.radio.setTransmitting(true);
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("T 432.06500 MHz"));
        s.radio.setTransmitting(false);
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 432.06500 MHz"));

        s.w<QCheckBox>("checkDoppler")->click();
        s.writeData(trackLine(123.456, 5, 0, 1250));
        s.window->timerTimeout();
        QTRY_VERIFY(framesWithOpcode(s.radio, 0x01).contains(QByteArray::fromHex("4320652501")));
        QTRY_COMPARE(s.radio.frequency(), 432065250u);

        s.w<QCheckBox>("checkDoppler")->click();
        enter(s.w<QLineEdit>("lineTransceiverFrequency"), QStringLiteral("144.3"));
        QTRY_COMPARE(s.radio.frequency(), 144300000u);
        QTRY_COMPARE(s.w<QLabel>("labelFreq")->text(), QStringLiteral("R 144.30000 MHz"));
    }
};

QTEST_MAIN(tst_HamlibDaemons)
#include "tst_hamlibdaemons.moc"

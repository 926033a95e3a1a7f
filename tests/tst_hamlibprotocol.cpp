// SPDX-License-Identifier: GPL-3.0-or-later
// The Hamlib daemons' text lines and the network settings file.

#include "hamlib/hamlibprotocol.h"
#include "settings/networksettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace hamlib;

class tst_HamlibProtocol : public QObject
{
    Q_OBJECT

private slots:
    void addresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("host and port") << "localhost:4532" << true << "localhost" << 4532;
        QTest::newRow("host alone") << "shack-pi" << true << "shack-pi" << 4533;
        QTest::newRow("spaces around") << "  10.0.0.7:4535 " << true << "10.0.0.7" << 4535;
        QTest::newRow("bracketed IPv6") << "[::1]:4534" << true << "::1" << 4534;
        QTest::newRow("bare IPv6") << "fe80::1" << true << "fe80::1" << 4533;
        QTest::newRow("empty") << "" << false << "" << 0;
        QTest::newRow("colon, no port") << "localhost:" << false << "" << 0;
        QTest::newRow("port, no host") << ":4532" << false << "" << 0;
        QTest::newRow("port 0") << "localhost:0" << false << "" << 0;
        QTest::newRow("port too big") << "localhost:65536" << false << "" << 0;
        QTest::newRow("port not a number") << "localhost:abc" << false << "" << 0;
        QTest::newRow("port with sign") << "localhost:+4532" << false << "" << 0;
        QTest::newRow("space in host") << "local host:4532" << false << "" << 0;
        QTest::newRow("unclosed bracket") << "[::1:4532" << false << "" << 0;
        QTest::newRow("text after bracket") << "[::1]x4532" << false << "" << 0;
    }

    void addresses()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, host);
        QFETCH(int, port);
        const auto address = parseAddress(text, rotctldDefaultPort);
        QCOMPARE(address.has_value(), valid);
        if (!valid)
            return;
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
        // What is shown back reads the same way again.
        QCOMPARE(parseAddress(addressText(*address), 1), address);
    }

    void reports_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("code");  // 1: not a report
        QTest::newRow("success") << QByteArray("RPRT 0") << 0;
        QTest::newRow("refusal") << QByteArray("RPRT -1") << -1;
        QTest::newRow("two digits") << QByteArray("RPRT -11") << -11;
        QTest::newRow("no number") << QByteArray("RPRT") << 1;
        QTest::newRow("not a number") << QByteArray("RPRT x") << 1;
        QTest::newRow("trailing text") << QByteArray("RPRT 0 ok") << 1;
        QTest::newRow("lower case") << QByteArray("rprt 0") << 1;
        QTest::newRow("a value") << QByteArray("145000000") << 1;
    }

    void reports()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, code);
        const auto report = parseReport(line);
        QCOMPARE(report.has_value(), code != 1);
        if (report)
            QCOMPARE(*report, code);
    }

    void values_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<double>("frequency");  // 0: refused
        QTest::addColumn<bool>("number");
        QTest::newRow("hertz") << QByteArray("432065000") << 432065000.0 << true;
        QTest::newRow("with decimals") << QByteArray("145000000.000000") << 145000000.0 << true;
        QTest::newRow("zero") << QByteArray("0") << 0.0 << true;
        QTest::newRow("negative") << QByteArray("-3.64") << 0.0 << true;
        QTest::newRow("beyond any radio") << QByteArray("1e20") << 0.0 << true;
        QTest::newRow("garbage") << QByteArray("garbage") << 0.0 << false;
        QTest::newRow("empty") << QByteArray("") << 0.0 << false;
        QTest::newRow("leading space") << QByteArray(" 5") << 0.0 << false;
        QTest::newRow("not a number") << QByteArray("nan") << 0.0 << false;
        QTest::newRow("infinite") << QByteArray("inf") << 0.0 << false;
        QTest::newRow("two values") << QByteArray("1.0 2.0") << 0.0 << false;
        QTest::newRow("report") << QByteArray("RPRT 0") << 0.0 << false;
    }

    void values()
    {
        QFETCH(QByteArray, line);
        QFETCH(double, frequency);
        QFETCH(bool, number);
        QCOMPARE(parseNumber(line).has_value(), number);
        const auto hz = parseFrequency(line);
        QCOMPARE(hz.has_value(), frequency > 0);
        if (hz)
            QCOMPARE(*hz, frequency);
    }

    void ptt_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("state");  // -1: refused
        QTest::newRow("off") << QByteArray("0") << 0;
        QTest::newRow("on") << QByteArray("1") << 1;
        QTest::newRow("on by mic") << QByteArray("2") << 1;
        QTest::newRow("on by data") << QByteArray("3") << 1;
        QTest::newRow("unknown") << QByteArray("4") << -1;
        QTest::newRow("two digits") << QByteArray("01") << -1;
        QTest::newRow("empty") << QByteArray("") << -1;
        QTest::newRow("report") << QByteArray("RPRT -11") << -1;
    }

    void ptt()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, state);
        const auto on = parsePtt(line);
        QCOMPARE(on.has_value(), state >= 0);
        if (on)
            QCOMPARE(*on, state == 1);
    }

    void commands()
    {
        QCOMPARE(setFrequencyCommand(432065250), QByteArray("F 432065250\n"));
        QCOMPARE(setPositionCommand(123.456, 5), QByteArray("P 123.46 5.00\n"));
        QCOMPARE(setPositionCommand(-3.2, 0.004), QByteArray("P -3.20 0.00\n"));
        QCOMPARE(errorText(-1), QStringLiteral("invalid parameter"));
        QCOMPARE(errorText(-11), QStringLiteral("function not available"));
        QCOMPARE(errorText(-99), QStringLiteral("unknown error"));
        QCOMPARE(errorText(std::numeric_limits<int>::min()), QStringLiteral("unknown error"));
        QCOMPARE(withVfo(getFrequencyCommand, true), QByteArray("f VFOA\n"));
        QCOMPARE(withVfo(setFrequencyCommand(432065250), true), QByteArray("F VFOA 432065250\n"));
        QCOMPARE(withVfo(setFrequencyCommand(432065250), false), QByteArray("F 432065250\n"));
        QCOMPARE(parseVfoMode("1"), std::optional<bool>(true));
        QCOMPARE(parseVfoMode("CHKVFO 0"), std::optional<bool>(false));
        QCOMPARE(parseVfoMode("2"), std::nullopt);
    }

    // The bytes arrive in the pieces given ("|" between them); the lines
    // read are joined by "/", a cut one marked with "+".
    void lineReader_data()
    {
        QTest::addColumn<QByteArray>("pieces");
        QTest::addColumn<QByteArray>("lines");
        const QByteArray cut = QByteArray(LineReader::maxLineLength, 'x');
        QTest::newRow("lines and CR LF") << QByteArray("145000000\r\n1\n") << QByteArray("145000000/1");
        QTest::newRow("split anywhere") << QByteArray("14|50|00000\r|\n|1\n") << QByteArray("145000000/1");
        QTest::newRow("empty lines") << QByteArray("\n\n0\n") << QByteArray("//0");
        QTest::newRow("unfinished line waits") << QByteArray("RPRT 0\nRPRT") << QByteArray("RPRT 0");
        QTest::newRow("too long, then its break")
            << (QByteArray(5000, 'x') + "\nRPRT 0\n") << (cut + "+/RPRT 0");
        QTest::newRow("too long in pieces, cut as soon as it is")
            << (QByteArray(3000, 'x') + "|" + QByteArray(3000, 'x') + "|" + QByteArray(3000, 'x') + "|\nRPRT 0\n")
            << (cut + "+/RPRT 0");
        QTest::newRow("longest whole line") << (cut + "\n") << cut;
        QTest::newRow("one over, ended later") << (cut + "y|\n0\n") << (cut + "+/0");
    }

    void lineReader()
    {
        QFETCH(QByteArray, pieces);
        QFETCH(QByteArray, lines);
        LineReader reader;
        QByteArrayList read;
        for (const QByteArray &piece : pieces.split('|')) {
            reader.feed(piece);
            while (const auto line = reader.next())
                read << line->text + (line->cut ? "+" : "");
            QVERIFY(reader.buffered() <= LineReader::maxLineLength + piece.size());
        }
        QCOMPARE(read.join('/'), lines);
    }

    void rigDumpState()
    {
        // rigctld 4.5 with the dummy radio, shortened after the tuning steps.
        const QByteArrayList dump = QByteArray("1\n1\n0\n"
                                               "150000.000000 1500000000.000000 0x1ff -1 -1 0x77e00007 0xf\n"
                                               "0 0 0 0 0 0 0\n"
                                               "150000.000000 1500000000.000000 0x1ff 5000 100000 0x77e00007 0xf\n"
                                               "0 0 0 0 0 0 0\n"
                                               "0x1ff 10\n0x1ff 0\n0x2 5\n0 0\n0xc 2400\n0 0\n9990")
                                        .split('\n');
        const auto limits = parseRigDumpState(dump);
        QVERIFY(limits);
        QVERIFY(limits->contains(432065000));
        QVERIFY(!limits->contains(2320e6));
        QVERIFY(!limits->contains(1000));
        QCOMPARE(limits->ranges.size(), 1);  // the same range received and transmitted
        QCOMPARE(limits->stepHz, 5.0);
        // Nonsense ranges are left out; with none left the sane default stays.
        QVERIFY(!parseRigDumpState({"1", "1", "0", "-5 1e300 0x1ff", "0 0 0 0 0 0 0", "0 0 0 0 0 0 0"}));
        QVERIFY(!parseRigDumpState({"garbage", "1", "0", "150000 1500000000", "0 0"}));
        QVERIFY(!parseRigDumpState({"1", "1", "0", "150000 x"}));
        QVERIFY(RigLimits().contains(432065000) && !RigLimits().contains(1000) && RigLimits().stepHz == 1);
    }

    void rotatorDumpState_data()
    {
        QTest::addColumn<QByteArray>("dump");
        QTest::addColumn<QList<double>>("limits");
        const QList<double> sane {-360, 720, -90, 180};
        QTest::newRow("rotctld 4.5")
            << QByteArray("1\n1\nmin_az=-180.000000\nmax_az=450.000000\nmin_el=0.000000\nmax_el=90.000000\n"
                          "south_zero=0\nrot_type=AzEl\ndone")
            << QList<double> {-180, 450, 0, 90};
        QTest::newRow("nothing known") << QByteArray("RPRT -4") << sane;
        QTest::newRow("absurd elevation left sane")
            << QByteArray("min_az=0\nmax_az=360\nmin_el=-1e308\nmax_el=90") << QList<double> {0, 360, -90, 180};
        QTest::newRow("azimuth the wrong way round, no usable maximum elevation")
            << QByteArray("min_az=360\nmax_az=0\nmin_el=0\nmax_el=nan") << QList<double> {-360, 720, 0, 180};
    }

    void rotatorDumpState()
    {
        QFETCH(QByteArray, dump);
        QFETCH(QList<double>, limits);
        const RotatorLimits read = parseRotatorDumpState(dump.split('\n'));
        QCOMPARE((QList<double> {read.minAzimuth, read.maxAzimuth, read.minElevation, read.maxElevation}), limits);
    }

    void networkSettingsFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("network.cfg"));
        QCOMPARE(NetworkSettings::read(path), NetworkSettings());
        // Nothing chosen, nothing written: a serial station gets no file.
        QVERIFY(NetworkSettings().write(path));
        QVERIFY(!QFile::exists(path));

        NetworkSettings chosen;
        chosen.rigctld = true;
        chosen.rigctldAddress = QStringLiteral("shack-pi:4532");
        chosen.rotctldAddress = QStringLiteral("[::1]:4535");
        chosen.rotLinked = true;
        chosen.hamlibRotator = {901, 9600, QStringLiteral("min_az=-180,post_write_delay=10")};
        chosen.hamlibRadio = {3081, 0, QStringLiteral("civaddr=0xA2")};
        QVERIFY(chosen.write(path));
        QCOMPARE(NetworkSettings::read(path), chosen);
        // Once there, going back to the defaults is written too.
        QVERIFY(NetworkSettings().write(path));
        QCOMPARE(NetworkSettings::read(path), NetworkSettings());
    }

    void networkSettingsLinesInAnyOrder()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("network.cfg"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("rotctld address: 'rotor:4533'\n"
                   "something else: 'x'\n"
                   "rotator link: 'network'\n"
                   "transceiver link: 'maybe'\n"
                   "rigctld address: ''\n"
                   "hamlib radio model: '0'\n"
                   "hamlib radio baud rate: 'fast'\n"
                   "hamlib rotator model: '-3'\n"
                   "hamlib rotator baud rate: '4800'\n"
                   "no quotes here\n");
        file.close();
        const NetworkSettings read = NetworkSettings::read(path);
        QVERIFY(read.rotctld);
        QCOMPARE(read.rotctldAddress, QStringLiteral("rotor:4533"));
        QVERIFY(!read.rigctld);  // a value it does not know keeps the default
        QCOMPARE(read.rigctldAddress, QStringLiteral("localhost:4532"));
        QCOMPARE(read.hamlibRadio, HamlibDevice());  // no model 0 or -3, no baud rate "fast"
        QCOMPARE(read.hamlibRotator.model, 0);
        QCOMPARE(read.hamlibRotator.baudRate, 4800);
    }
};

QTEST_GUILESS_MAIN(tst_HamlibProtocol)
#include "tst_hamlibprotocol.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The radio's ranges from rigctld's "\dump_state", however the answer comes
// (whole, with a pause inside, a byte at a time, never whole), and a sked or
// tune asked through the API against them: refused while they are unknown,
// and nothing sent to the radio that it may not take.

#include "defaultstation.h"
#include "hamlibtesting.h"
#include "remotetesting.h"

#include <QJsonArray>
#include <QtTest>

using namespace hamlibtesting;

namespace {

// rigctld 4.5's dummy radio, 150 kHz to 1500 MHz in 1 Hz steps, its answer
// shortened after the tuning steps.
const QByteArray dummyDump = "1\n1\n0\n"
                             "150000.000000 1500000000.000000 0x1ff -1 -1 0x77e00007 0xf\n"
                             "0 0 0 0 0 0 0\n"
                             "150000.000000 1500000000.000000 0x1ff 5000 100000 0x77e00007 0xf\n"
                             "0 0 0 0 0 0 0\n"
                             "0x1ff 1\n0x1ff 0\n0 0\n0xc 2400\n0 0\ndone\n";

QByteArray firstLines(const QByteArray &text, int count)
{
    qsizetype end = 0;
    for (int i = 0; i < count; ++i)
        end = text.indexOf('\n', end) + 1;
    return text.left(end);
}

// How the daemon gives its "\dump_state".
enum class Dump { Whole, PauseAfterThreeLines, ByteEvery20Ms, CutAfterThreeLines, Refused };

// A radio on 432.065 MHz behind a rigctld whose line may be slow: every
// answer then goes a byte each 20 ms.
struct PacedRig {
    explicit PacedRig(Dump dump)
    {
        pacer.setInterval(20);
        QObject::connect(&pacer, &QTimer::timeout, &fake, [this] {
            if (out.isEmpty())
                return pacer.stop();
            fake.send(out.left(1));
            out.remove(0, 1);
        });
        fake.answer = [this, dump](const QByteArray &line) -> QByteArray {
            QByteArray answer = "RPRT 0\n";
            if (line == "\\chk_vfo")
                answer = "0\n";
            else if (line == "f")
                answer = "432065000\n";
            else if (line == "t")
                answer = "0\n";
            else if (line.startsWith("F "))
                sent << line;
            if (line == "\\dump_state") {
                switch (dump) {
                case Dump::Whole:
                case Dump::ByteEvery20Ms:
                    answer = dummyDump;
                    break;
                case Dump::PauseAfterThreeLines:
                    QTimer::singleShot(350, &fake, [this] { fake.send(dummyDump.mid(firstLines(dummyDump, 3).size())); });
                    [[fallthrough]];
                case Dump::CutAfterThreeLines:
                    answer = firstLines(dummyDump, 3);
                    break;
                case Dump::Refused:
                    answer = "RPRT -4\n";
                    break;
                }
            }
            if (dump != Dump::ByteEvery20Ms)
                return answer;
            out += answer;
            pacer.start();
            return {};
        };
    }
    int asked(const QByteArray &command) const { return int(fake.lines.count(command)); }

    FakeDaemon fake;
    QTimer pacer;
    QByteArray out;
    QByteArrayList sent;  // the "F" lines
};

} // namespace

class tst_RemoteRadioRanges : public QObject
{
    Q_OBJECT

private slots:
    void skedCheckedOnlyAgainstRangesRead_data()
    {
        QTest::addColumn<int>("dump");
        QTest::addColumn<bool>("known");
        QTest::newRow("whole") << int(Dump::Whole) << true;
        QTest::newRow("350 ms pause after three lines") << int(Dump::PauseAfterThreeLines) << true;
        QTest::newRow("a byte every 20 ms") << int(Dump::ByteEvery20Ms) << true;
        QTest::newRow("cut after three lines, each time") << int(Dump::CutAfterThreeLines) << false;
        QTest::newRow("refused") << int(Dump::Refused) << false;
    }
    void skedCheckedOnlyAgainstRangesRead()
    {
        QFETCH(int, dump);
        QFETCH(bool, known);
        DefaultStation s;
        TrackingRecord record;
        record.frequency = 1296.1;
        record.dopplerHome = 800;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        PacedRig rig {Dump(dump)};
        RemoteSettings settings;
        settings.listenPort = 0;
        RemoteServer server(s.station, settings);
        QVERIFY(server.listen(nullptr));
        remotetesting::Client client(QUrl(QStringLiteral("ws://127.0.0.1:%1/api").arg(server.port())));

        s.station.setNetwork(StationPort::B, true);
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, rig.fake.address(), {}, false));
        // The readouts wait behind the ranges, and the last try behind them.
        QTRY_VERIFY_WITH_TIMEOUT(s.station.isFrequencyKnown(), 15000);
        if (!known)
            QTRY_VERIFY_WITH_TIMEOUT(s.station.health().active(Alarm::RadioRangesUnknown), 15000);

        const auto ask = [&client](const char *json) {
            return client.send(QJsonDocument::fromJson(json).object());
        };
        const QString unknown = QStringLiteral("the radio's ranges are not known yet");
        // The method is chosen while port B is not in Auto.
        QCOMPARE(ask(R"({"cmd":"auto","port":"B","on":false})").value(QLatin1String("ok")).toBool(), true);
        QJsonObject reply = ask(R"({"cmd":"dopplerMethod","method":"own echo","skedMHz":2304.1})");
        QVERIFY(!reply.isEmpty());
        QCOMPARE(reply.value(QLatin1String("ok")).toBool(), false);
        QCOMPARE(reply.value(QLatin1String("error")).toString(),
                 known ? QStringLiteral("the radio cannot be set to 2304.100000 MHz for the sked frequency 2304.100000 MHz")
                       : unknown);
        reply = ask(R"({"cmd":"tune","mhz":2304.1})");
        QCOMPARE(reply.value(QLatin1String("ok")).toBool(), false);
        QCOMPARE(reply.value(QLatin1String("error")).toString(),
                 known ? QStringLiteral("the radio cannot be set to 2304.100000 MHz") : unknown);
        // One the radio takes, once its ranges are known.
        reply = ask(R"({"cmd":"dopplerMethod","method":"own echo","skedMHz":1296.1})");
        QCOMPARE(reply.value(QLatin1String("ok")).toBool(), known);
        if (!known)
            QCOMPARE(reply.value(QLatin1String("error")).toString(), unknown);
        QCOMPARE(ask(R"({"cmd":"auto","port":"B","on":true})").value(QLatin1String("ok")).toBool(), true);
        QTRY_VERIFY(s.station.isFrequencyKnown());
        QCOMPARE(ask(R"({"cmd":"frequencyTracking","on":true})").value(QLatin1String("ok")).toBool(), true);

        if (known) {
            QTRY_VERIFY_WITH_TIMEOUT(!rig.sent.isEmpty(), 10000);
            QVERIFY2(rig.sent.first().startsWith("F 12961"), rig.sent.first().constData());
            QCOMPARE(rig.asked("\\dump_state"), 1);
            // Read whole: nothing of it left over as bad or unexpected lines.
            QVERIFY2(s.log.filter(QStringLiteral("bad line")).isEmpty() && s.log.filter(QStringLiteral("unexpected line")).isEmpty(),
                     qPrintable(s.all()));
            return;
        }
        // Two repetitions' readouts later, still nothing sent.
        const int readouts = rig.asked("f");
        QTRY_VERIFY_WITH_TIMEOUT(rig.asked("f") >= readouts + 4, 10000);
        QVERIFY2(rig.sent.isEmpty(), rig.sent.join(' ').constData());
        QCOMPARE(rig.asked("\\dump_state"), 3);
        QCOMPARE(s.count(QStringLiteral("radio's ranges unknown: ")), 1);
        QTRY_VERIFY2(QJsonDocument(client.state).toJson().contains("\"radioRangesUnknown\""),
                     QJsonDocument(client.state).toJson().constData());
    }
};

QTEST_GUILESS_MAIN(tst_RemoteRadioRanges)
#include "tst_remoteradioranges.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Following WSJT-X: its datagrams written here from the format it documents
// (not with the reader under test), read whole or refused, the values it
// passes through on the way to a setting left alone, and a Status's dial and
// DX grid carried to the radio through a real UDP socket.

#include "defaultstation.h"
#include "fixedsource.h"
#include "hamlibtesting.h"
#include "links/transceiverlink.h"
#include "sim/simtransceiver.h"
#include "statelessradio.h"
#include "wsjtx/wsjtxfollow.h"
#include "wsjtx/wsjtxmessage.h"
#include "wsjtxtesting.h"

#include <QDataStream>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <cmath>

using namespace wsjtxtesting;

namespace {

const QDateTime t0 = QDateTime(QDate(2026, 12, 9), QTime(21, 0), Qt::UTC);

} // namespace

class tst_CoreWsjtx : public QObject
{
    Q_OBJECT

private slots:
    void readsWhatWsjtxSends_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("type");  // -1: nothing to follow, no refusal
        QTest::addColumn<quint64>("dialHz");
        QTest::addColumn<QString>("dxGrid");
        QTest::addColumn<int>("period");  // 0: none
        for (quint32 schema : {2u, 3u}) {
            const QByteArray s = QByteArray::number(schema);
            QTest::newRow("heartbeat, schema " + s) << heartbeat(schema) << 0 << quint64(0) << QString() << 0;
            QTest::newRow("status, schema " + s) << status({}, schema) << 1 << quint64(1296065000)
                                                 << QStringLiteral("FN20") << 60;
            QTest::newRow("close, schema " + s) << datagram(schema, 6) << 6 << quint64(0) << QString() << 0;
        }
        StatusFields old;
        old.oldVersion = true;
        QTest::newRow("status of an older WSJT-X") << status(old) << 1 << quint64(1296065000)
                                                   << QStringLiteral("FN20") << 0;
        StatusFields start;
        start.dialHz = 0;
        start.mode = start.dxCall = start.deGrid = start.dxGrid = start.subMode = nullptr;
        start.period = 0xffffffff;
        QTest::newRow("status at start: dial 0, nulls, no period") << status(start) << 1 << quint64(0) << QString()
                                                                     << 0;
        QTest::newRow("trailing bytes ignored") << status({}) + QByteArray("later fields") << 1
                                                << quint64(1296065000) << QStringLiteral("FN20") << 60;
        QTest::newRow("a type not followed (Decode)") << datagram(2, 2, [](QDataStream &out) { out << true; }) << -1
                                                      << quint64(0) << QString() << 0;
    }
    void readsWhatWsjtxSends()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, type);
        QFETCH(quint64, dialHz);
        QFETCH(QString, dxGrid);
        QFETCH(int, period);
        const wsjtx::Reading reading = wsjtx::read(bytes);
        QCOMPARE(reading.refusal, QString());
        QCOMPARE(reading.message.has_value(), type >= 0);
        if (type < 0)
            return;
        QCOMPARE(int(reading.message->type), type);
        QCOMPARE(reading.message->id, QStringLiteral("WSJT-X"));
        QCOMPARE(reading.message->status.dialHz, dialHz);
        QCOMPARE(reading.message->status.dxGrid, dxGrid);
        QCOMPARE(reading.message->status.periodSeconds.value_or(0), quint32(period));
    }

    void badDatagramsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("refusal");
        const QByteArray whole = status({});
        QTest::newRow("wrong magic") << datagram(2, 1, {}, 0xdeadbeef)
                                     << QStringLiteral("not a WSJT-X message (magic deadbeef)");
        QTest::newRow("schema 1") << datagram(1, 0) << QStringLiteral("schema 1, not 2 or 3");
        QTest::newRow("schema 4") << datagram(4, 0) << QStringLiteral("schema 4, not 2 or 3");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("magic number cut short");
        // The dial frequency's 8 bytes start after 12 + 4 + 6 bytes of header.
        QTest::newRow("cut inside the dial") << whole.left(25) << QStringLiteral("dial frequency cut short");
        QByteArray pastEnd = datagram(2, 1, [](QDataStream &out) {
            out << quint64(1296065000) << quint32(100);
            out.writeRawData("Q65", 3);
        });
        QTest::newRow("length past the datagram") << pastEnd << QStringLiteral("mode of 100 bytes, 3 left");
        QByteArray oversized = datagram(2, 1, [](QDataStream &out) {
            out << quint64(1296065000);
            utf8(out, QByteArray(600, 'x').constData());
        });
        QTest::newRow("oversized field") << oversized << QStringLiteral("mode of 600 bytes, 600 left");
        StatusFields latin1;
        latin1.dxCall = "K\xe9JT";
        QTest::newRow("DX call not UTF-8") << status(latin1) << QStringLiteral("DX call is not UTF-8");
        QTest::newRow("larger than any message") << whole + QByteArray(64 * 1024, '\0')
                                                 << QStringLiteral("%1 bytes, more than any message")
                                                        .arg(whole.size() + 64 * 1024);
    }
    void badDatagramsRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, refusal);
        const wsjtx::Reading reading = wsjtx::read(bytes);
        QCOMPARE(reading.refusal, refusal);
        QVERIFY(!reading.message);
    }

    // Every cut of a whole Status before the DX grid's end is refused; any
    // later one is read with the values so far, never one from a half field.
    void everyCutRefusedOrWhole()
    {
        const QByteArray whole = status({});
        StatusFields old;
        old.oldVersion = true;
        const qsizetype oldEnd = status(old).size();
        for (qsizetype size = 0; size < whole.size(); ++size) {
            const wsjtx::Reading reading = wsjtx::read(whole.left(size));
            QVERIFY2(reading.message.has_value() != !reading.refusal.isEmpty(), qPrintable(QString::number(size)));
            if (size < oldEnd)
                QVERIFY2(!reading.message, qPrintable(QString::number(size)));
            if (reading.message) {
                QCOMPARE(reading.message->status.dxGrid, QStringLiteral("FN20"));
                QCOMPARE(reading.message->status.dialHz, quint64(1296065000));
                QVERIFY(reading.message->status.periodSeconds.value_or(60) == 60);
            }
        }
    }

    // What WSJT-X 2.6.1 sends at start and while a grid is typed moves
    // nothing; each value is passed on once it is one. At the follower's own
    // settle time.
    void inBetweenValuesMoveNothing()
    {
        WsjtxFollow follow;
        WsjtxSettings settings;
        settings.follow = true;
        settings.port = hamlibtesting::freePort();
        QVERIFY(follow.apply(settings));
        QSignalSpy dials(&follow, &WsjtxFollow::dialHeard);
        QSignalSpy grids(&follow, &WsjtxFollow::dxGridHeard);
        QSignalSpy periods(&follow, &WsjtxFollow::periodHeard);
        StatusFields start;
        start.dialHz = 0;
        start.mode = start.dxCall = start.deGrid = start.dxGrid = start.subMode = nullptr;
        start.period = 0xffffffff;
        const QString from = QStringLiteral("127.0.0.1:50000");
        for (int i = 0; i < 3; ++i)
            follow.take(status(start), from, t0);
        StatusFields typing;
        for (const char *grid : {"FN31", static_cast<const char *>(nullptr), "FN31PR"}) {
            typing.dxGrid = grid;
            follow.take(status(typing), from, t0);
            QTest::qWait(300);  // a typist's pace, well inside the settle time
        }
        QCOMPARE(dials.count(), 1);
        QCOMPARE(dials.at(0).at(0).toULongLong(), quint64(1296065000));
        QCOMPARE(periods.count(), 1);
        QVERIFY(grids.isEmpty());
        QVERIFY(grids.wait(WsjtxFollow::gridSettleMs + 1000));
        QCOMPARE(grids.count(), 1);
        QCOMPARE(grids.at(0).at(0).toString(), QStringLiteral("FN31PR"));
        QCOMPARE(follow.summary(), QStringLiteral("WSJT-X: K1JT FN31PR · Q65-60A · 1296.065 MHz"));

        // A second WSJT-X is named once and not followed.
        StatusFields moved;
        moved.dialHz = 10368100000;
        const QByteArray other = status(moved).replace("WSJT-X", "WSJT-Y");
        follow.take(other, from, t0);
        follow.take(other, from, t0);
        QCOMPARE(dials.count(), 1);
    }

    // WSJT-X sending to a multicast group on the loopback, as its settings
    // offer, so that several programs hear it.
    void heardOnAMulticastGroup()
    {
        WsjtxFollow follow;
        WsjtxSettings settings;
        settings.follow = true;
        settings.address = QStringLiteral("224.0.0.1");
        settings.port = hamlibtesting::freePort();
        QVERIFY(settings.isMulticast());
        QVERIFY(follow.apply(settings));
        QSignalSpy dials(&follow, &WsjtxFollow::dialHeard);
        QUdpSocket wsjtx;
        QVERIFY(wsjtx.bind(QHostAddress(QHostAddress::LocalHost), 0));
        wsjtx.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
        QVERIFY(wsjtx.writeDatagram(status({}), QHostAddress(settings.address), settings.port) > 0);
        QVERIFY(dials.wait(3000));
        QCOMPARE(dials.at(0).at(0).toULongLong(), quint64(1296065000));
    }

    // Other WSJT-X than the one followed, over a real socket: named once,
    // then summed up once a minute however they come.
    void othersSaidOnce_data()
    {
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("newIds");  // each message from an id never heard before
        QTest::newRow("two others alternating, 100 statuses") << 100 << false;
        QTest::newRow("500 heartbeats, each a new id") << 500 << true;
    }
    void othersSaidOnce()
    {
        QFETCH(int, messages);
        QFETCH(bool, newIds);
        WsjtxFollow follow;
        WsjtxSettings settings;
        settings.follow = true;
        settings.port = hamlibtesting::freePort();
        QVERIFY(follow.apply(settings));
        QStringList lines;
        connect(&follow, &WsjtxFollow::message, this, [&lines](const QString &text) { lines << text; });
        QSignalSpy dials(&follow, &WsjtxFollow::dialHeard);
        QUdpSocket sender;
        const auto send = [&](const QByteArray &bytes) {
            QVERIFY(sender.writeDatagram(bytes, QHostAddress::LocalHost, settings.port) > 0);
        };
        send(status({}));
        QVERIFY(dials.wait(3000));
        for (int i = 0; i < messages; ++i) {
            const QByteArray id = newIds ? "WSJT-X - " + QByteArray::number(i) : i % 2 ? "WSJT-X - B" : "WSJT-X - A";
            send(newIds ? heartbeat(2, id.constData()) : status({}, 2, id.constData()));
            if (i % 50 == 49)
                QTest::qWait(1);  // lets the listener keep up, as a sender on the network would
        }
        // The followed one last: everything before it was taken.
        StatusFields last;
        last.dialHz = 1296066000;
        send(status(last));
        QTRY_COMPARE(dials.count(), 2);
        QCOMPARE(lines.filter(QStringLiteral("another WSJT-X")).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("WSJT-X - ")).size(), 1);
    }

    // Listening with no WSJT-X running yet is no silence: no alarm, the
    // line says nothing was heard. Once one was heard, its silence is.
    void nothingHeardYetIsNoSilence()
    {
        DefaultStation s;
        QDateTime clock = t0;
        s.station.setClock([&clock] { return clock; });
        WsjtxSettings settings;
        settings.follow = true;
        settings.port = hamlibtesting::freePort();
        QVERIFY(s.station.setWsjtxSettings(settings));
        clock = t0.addSecs(10 * WsjtxFollow::silentSeconds);
        QSignalSpy ticks(&s.station, &TrackingControl::ticked);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 2, 10000);
        QVERIFY(!s.station.health().active(Alarm::WsjtxSilent));
        QCOMPARE(s.station.wsjtx().line(clock),
                 QStringLiteral("WSJT-X: nothing heard yet on 127.0.0.1:%1").arg(settings.port));
        QUdpSocket wsjtx;
        wsjtx.writeDatagram(heartbeat(), QHostAddress::LocalHost, settings.port);
        QTRY_VERIFY(s.station.wsjtx().heard().at.isValid());
        clock = clock.addSecs(WsjtxFollow::silentSeconds);
        QTRY_VERIFY(s.station.health().active(Alarm::WsjtxSilent));
    }

    // On a radio that cannot say it transmits, WSJT-X's word stands in for
    // it; a WSJT-X that closes or falls silent mid-transmission leaves the
    // station receiving again, on the receive frequency, and says so.
    void transmittingEndsWithWsjtx_data()
    {
        QTest::addColumn<bool>("closes");  // or falls silent
        QTest::addColumn<QString>("said");
        QTest::newRow("closed") << true << QStringLiteral("WSJT-X closed while transmitting: the radio taken as receiving");
        QTest::newRow("silent") << false
                                << QStringLiteral("WSJT-X silent for 30 s while transmitting: the radio taken as receiving");
    }
    void transmittingEndsWithWsjtx()
    {
        QFETCH(bool, closes);
        QFETCH(QString, said);
        DefaultStation s;
        QDateTime clock = t0;
        s.station.setClock([&clock] { return clock; });
        TrackingRecord record;
        record.frequency = 432.065;
        record.dopplerHome = 1000;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        auto *radio = new StatelessRadio;
        s.station.setAuto(StationPort::B, true);
        s.station.openWith(StationPort::B, radio, radio->target());
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setPtt(true);
        s.station.setFrequencyTracking(true);  // working 432.064 MHz
        WsjtxSettings settings;
        settings.follow = true;
        settings.port = hamlibtesting::freePort();
        QVERIFY(s.station.setWsjtxSettings(settings));
        QUdpSocket wsjtx;
        StatusFields f;
        f.dialHz = 432065000;
        f.transmitting = true;
        f.dxGrid = f.deGrid = nullptr;
        wsjtx.writeDatagram(status(f), QHostAddress::LocalHost, settings.port);
        QTRY_VERIFY(s.station.doppler().transmitting);
        s.station.repetition();
        QCOMPARE(radio->sent.constLast(), 432063000u);  // transmitting: the shift taken off
        if (closes)
            wsjtx.writeDatagram(closing(), QHostAddress::LocalHost, settings.port);
        else
            clock = t0.addSecs(WsjtxFollow::silentSeconds);
        QTRY_VERIFY(!s.station.doppler().transmitting);
        QCOMPARE(s.count(said), 1);
        s.station.repetition();
        QCOMPARE(radio->sent.constLast(), 432065000u);
    }

    // Damaged datagrams are said at most once a minute, however many come.
    void badDatagramsSaidOnceAMinute()
    {
        WsjtxFollow follow;
        QStringList lines;
        connect(&follow, &WsjtxFollow::message, this, [&lines](const QString &text) { lines << text; });
        for (int i = 0; i < 500; ++i)
            follow.take(datagram(2, 1, {}, 0x01020304 + quint32(i)), QStringLiteral("127.0.0.1:50000"), t0);
        QTest::qWait(200);
        QCOMPARE(lines, QStringList {QStringLiteral("WSJT-X datagram from 127.0.0.1:50000 dropped: "
                                                    "not a WSJT-X message (magic 01020304)")});
    }

    // WSJT-X's Status over a real socket at the station's defaults: its dial
    // becomes the method's sked and reaches the radio, its DX grid the sky's
    // DX locator, its period the held-transmit period; then silence is an
    // alarm.
    void statusReachesTheRadio()
    {
        DefaultStation s;
        SimTransceiver radio;
        radio.setFrequency(144050000);
        TrackingRecord record;
        record.frequency = 1296.0;
        record.dopplerHome = 1000.0;
        s.station.setTrackingSource(std::make_unique<FixedSource>(&record));
        QDateTime clock = t0;
        s.station.setClock([&clock] { return clock; });
        DopplerSettings doppler;
        doppler.method = DopplerMethod::OwnEcho;
        doppler.skedMHz = 1296.05;
        doppler.transverter = {true, 1152e6, false};
        QVERIFY(s.station.setDopplerSettings(doppler));
        s.station.setAuto(StationPort::B, true);
        QVERIFY(s.station.open(StationPort::B, radio.slavePath(), {}, false));
        QTRY_VERIFY(s.station.isFrequencyKnown());
        s.station.setFrequencyTracking(true);

        WsjtxSettings settings;
        settings.follow = true;
        settings.port = hamlibtesting::freePort();
        QVERIFY(s.station.setWsjtxSettings(settings));
        QCOMPARE(WsjtxSettings::read(), settings);  // kept for the next start
        QUdpSocket wsjtx;
        StatusFields f;
        f.dialHz = 1296100000;
        f.dxGrid = "FN31PR";
        f.period = 30;
        wsjtx.writeDatagram(status(f), QHostAddress::LocalHost, settings.port);
        QTRY_COMPARE(s.station.dopplerSettings().skedMHz, 1296.1);
        QCOMPARE(s.station.dopplerSettings().transmitPeriodSeconds, 30);
        // 1296.1 MHz + 1000 Hz × 1296.1 / 1296 behind the 1152 MHz LO.
        const double radioHz = 144100000.0 + 1000.0 * 1296.1 / 1296.0;
        s.station.repetition();
        QTRY_VERIFY2(std::fabs(double(radio.frequency()) - radioHz) <= 5, qPrintable(QString::number(radio.frequency())));
        QTRY_COMPARE_WITH_TIMEOUT(s.station.sourceSettings().dxLocator, QStringLiteral("FN31PR"), 5000);
        QCOMPARE(SourceSettings::read().dxLocator, QStringLiteral("FN31PR"));

        // This radio reports its transmit state; WSJT-X's does not override it.
        f.transmitting = true;
        wsjtx.writeDatagram(status(f), QHostAddress::LocalHost, settings.port);
        QTRY_VERIFY(s.station.wsjtx().heard().transmitting);
        QVERIFY(!s.station.doppler().transmitting);

        QVERIFY(!s.station.health().active(Alarm::WsjtxSilent));
        clock = t0.addSecs(WsjtxFollow::silentSeconds + 1);
        QTRY_VERIFY(s.station.health().active(Alarm::WsjtxSilent));
        QCOMPARE(s.count(QStringLiteral("WSJT-X silent for")), 1);
        wsjtx.writeDatagram(heartbeat(), QHostAddress::LocalHost, settings.port);
        QTRY_VERIFY(!s.station.health().active(Alarm::WsjtxSilent));
        QCOMPARE(s.count(QStringLiteral("WSJT-X heard again")), 1);
    }
};

QTEST_GUILESS_MAIN(tst_CoreWsjtx)
#include "tst_corewsjtx.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The WebSocket API's contract against the simulated station: every state
// field, every command as the widget would take it, and input that must
// cost a client its own connection and nothing else.

#include "calibration/calibrator.h"
#include "remotetesting.h"
#include "serial/serialenumerator.h"
#include "settings/settingsfile.h"
#include "sim/ptypeer.h"
#include "sim/simreceiver.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTcpSocket>

#include <sys/stat.h>

#include <cmath>

using namespace remotetesting;

class tst_RemoteApi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { raiseDescriptorLimit(); }

    // Every field docs/api.md names, with its type, once both ports track.
    void stateFields()
    {
        const auto B = QJsonValue::Bool, N = QJsonValue::Double, S = QJsonValue::String, O = QJsonValue::Object,
                   A = QJsonValue::Array, Z = QJsonValue::Null;
        QList<QPair<QString, QJsonValue::Type>> fields {
            {"type", S}, {"version", N}, {"seq", N}, {"time", S}, {"clients", N}, {"target", S}, {"tracking", B},
            {"manualTerminal", B}, {"available", A}, {"alarms", A}, {"record.az", N}, {"record.el", N},
            {"record.dopplerHome", N}, {"record.dopplerDx", N}, {"record.read", S}, {"commanded.az", N},
            {"commanded.el", N}, {"actual", Z}, {"offsets.az", N}, {"offsets.el", N}, {"parking.az", N},
            {"parking.el", N}, {"parking.active", B}, {"ports", O}, {"radio", O}, {"radio.mhz", N},
            {"radio.transmitting", B}, {"radio.known", B}, {"radio.dopplerRunning", B},
            {"radio.frequencyTracking", B}, {"radio.workingMHz", N}, {"radio.shift", S}, {"radio.ptt", B},
            {"radio.method", S}, {"radio.skedMHz", N}, {"radio.split", B}, {"radio.receiveHz", Z},
            {"radio.transmitHz", Z}, {"wsjtx.follow", B}, {"wsjtx.listening", B}, {"wsjtx.line", S},
            {"wsjtx.ageS", Z}, {"external", Z}};
        for (const char *port : {"ports.A.", "ports.B."}) {
            for (const char *field : {"open", "connecting", "reconnecting", "network", "auto"})
                fields.append({QLatin1String(port) + QLatin1String(field), B});
            fields.append({QLatin1String(port) + "device", S});
            fields.append({QLatin1String(port) + "trouble", S});
            fields.append({QLatin1String(port) + "hamlib", S});
        }
        RemoteStation s;
        QVERIFY(s.listening);
        Client client(s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(client.send(command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QCOMPARE(client.send(command(R"({"cmd":"open","port":"B"})")).value("ok"), true);
        QVERIFY(QTest::qWaitFor([&] { return at(client.state, "radio.known").toBool()
                                             && at(client.state, "commanded.el").isDouble(); },
                                settleMs));
        for (const auto &[path, type] : std::as_const(fields))
            QVERIFY2(at(client.state, path).type() == type, qPrintable(path));
        // An alarm's entry, with the Moon gone below the horizon.
        s.record.elevation = -5;
        s.station->repetition();
        QTRY_COMPARE_WITH_TIMEOUT(client.state.value("alarms").toArray().size(), 1, settleMs);
        const QJsonObject alarm = client.state.value("alarms").toArray().first().toObject();
        QCOMPARE(alarm.value("alarm"), "belowHorizon");
        QVERIFY(alarm.value("why").toString().contains("below the horizon"));
    }

    // Each command with what the next state says of it; refused ones leave
    // the station as it was.
    void commands_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");  // JSON
        const QStringList none;
        const QStringList open {R"({"cmd":"open","port":"A"})", R"({"cmd":"open","port":"B"})"};
        QTest::newRow("open A") << none << R"({"cmd":"open","port":"A"})" << true << "ports.A.open" << "true";
        QTest::newRow("open a path") << none << R"({"cmd":"open","port":"A","device":"/etc/passwd"})" << false
                                     << "ports.A.open" << "false";
        QTest::newRow("open port C") << none << R"({"cmd":"open","port":"C"})" << false << "ports.A.open" << "false";
        QTest::newRow("close B") << open << R"({"cmd":"close","port":"B"})" << true << "ports.B.open" << "false";
        QTest::newRow("manual A") << open << R"({"cmd":"auto","port":"A","on":false})" << true << "ports.A.auto"
                                  << "false";
        QTest::newRow("auto not a bool") << open << R"({"cmd":"auto","port":"A","on":"no"})" << false
                                         << "ports.A.auto" << "true";
        QTest::newRow("tracking off") << open << R"({"cmd":"tracking","on":false})" << true << "tracking" << "false";
        QTest::newRow("tracking on") << none << R"({"cmd":"tracking","on":true})" << true << "ports.B.auto"
                                     << "true";
        QTest::newRow("target sun") << none << R"({"cmd":"target","target":"sun"})" << true << "target" << "\"sun\"";
        QTest::newRow("target mars") << none << R"({"cmd":"target","target":"mars"})" << false << "target"
                                     << "\"moon\"";
        QTest::newRow("track frequency") << open << R"({"cmd":"frequencyTracking","on":true})" << true
                                         << "radio.frequencyTracking" << "true";
        QTest::newRow("track an unknown frequency") << none << R"({"cmd":"frequencyTracking","on":true})" << false
                                                    << "radio.frequencyTracking" << "false";
        QTest::newRow("method while followed") << open << R"({"cmd":"dopplerMethod","method":"own echo"})" << false
                                               << "radio.method" << "\"specified\"";
        QTest::newRow("method") << none << R"({"cmd":"dopplerMethod","method":"own echo","skedMHz":1296.1})" << true
                                << "radio.skedMHz" << "1296.1";
        QTest::newRow("no such method") << none << R"({"cmd":"dopplerMethod","method":"guess"})" << false
                                        << "radio.method" << "\"specified\"";
        QTest::newRow("shift dx") << none << R"({"cmd":"shift","shift":"dx"})" << true << "radio.shift" << "\"dx\"";
        QTest::newRow("follow WSJT-X") << none << R"({"cmd":"followWsjtx","on":true})" << true << "wsjtx.line"
                                       << "\"WSJT-X: nothing heard yet on 127.0.0.1:2237\"";
        QTest::newRow("follow WSJT-X, not a bool") << none << R"({"cmd":"followWsjtx","on":1})" << false
                                                   << "wsjtx.follow" << "false";
        QTest::newRow("ptt") << none << R"({"cmd":"ptt","on":true})" << true << "radio.ptt" << "true";
        QTest::newRow("offsets") << none << R"({"cmd":"offsets","az":1.5,"el":-0.5})" << true << "offsets.el"
                                 << "-0.5";
        QTest::newRow("offset out of range") << none << R"({"cmd":"offsets","az":1000})" << false << "offsets.az"
                                             << "0";
        QTest::newRow("offset as text") << none << R"({"cmd":"offsets","el":"debug"})" << false << "offsets.el"
                                        << "0";
        QTest::newRow("park") << open << R"({"cmd":"park","az":123,"el":33})" << true << "parking.az" << "123";
        QTest::newRow("park at infinity") << none << R"({"cmd":"park","az":1e300})" << false << "parking.az" << "90";
        QTest::newRow("tune") << open << R"({"cmd":"tune","mhz":432.1})" << true << "ports.B.open" << "true";
        // What the 5-byte frame cannot carry, or would carry as 0 Hz, is refused with the reason.
        QTest::newRow("tune 1000 MHz") << open << R"({"cmd":"tune","mhz":1000})" << false << "ports.B.open" << "true";
        QTest::newRow("tune 1 Hz") << open << R"({"cmd":"tune","mhz":1e-6})" << false << "ports.B.open" << "true";
        // Under "Track the radio's frequency" a tune becomes the frequency
        // tracked from: the radio there, the working frequency 500 Hz (the shift) below.
        QTest::newRow("tune while tracked") << (open + QStringList {R"({"cmd":"frequencyTracking","on":true})"})
                                            << R"({"cmd":"tune","mhz":432.1})" << true << "radio.workingMHz" << "432.0995";
        QTest::newRow("sked 1 Hz") << none << R"({"cmd":"dopplerMethod","method":"own echo","skedMHz":1e-6})" << false
                                   << "radio.skedMHz" << "432.065";
        QTest::newRow("transmit limit off") << open << R"({"cmd":"transmitLimit","seconds":0})" << true
                                            << "radio.transmitLimitS" << "0";
        QTest::newRow("transmit limit of 1.5 s") << none << R"({"cmd":"transmitLimit","seconds":1.5})" << false
                                                 << "radio.transmitLimitS" << "180";
        QTest::newRow("tune port B closed") << none << R"({"cmd":"tune","mhz":432.1})" << false << "ports.B.open"
                                            << "false";
        QTest::newRow("manual line refused") << none << R"({"cmd":"manual","port":"A","line":"&* AZ=10"})" << false
                                             << "manualTerminal" << "false";
        QTest::newRow("list the serial ports") << none << R"({"cmd":"enumerate"})" << true << "ports.A.open"
                                               << "false";
        QTest::newRow("unknown command") << none << R"({"cmd":"format"})" << false << "tracking" << "false";
    }
    void commands()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, command);
        QFETCH(bool, ok);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        RemoteStation s;
        Client client(s.url());
        QVERIFY(client.waitForState());
        for (const QString &step : before) {
            // "Track frequency" is taken once the radio's frequency is read.
            if (step.contains(QLatin1String("frequencyTracking")))
                QVERIFY(QTest::qWaitFor([&] { return at(client.state, "radio.known").toBool(); }, settleMs));
            QCOMPARE(client.send(remotetesting::command(qPrintable(step))).value("ok"), true);
        }
        if (before.size() == 2)
            QVERIFY(QTest::qWaitFor([&] { return at(client.state, "radio.known").toBool(); }, settleMs));
        // Tracked: the first repetition's shift on the radio, so that what
        // follows meets the station as an operator would, not in between.
        if (before.size() == 3)
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return std::abs(at(client.state, "radio.mhz").toDouble()
                                    - at(client.state, "radio.workingMHz").toDouble())
                        > 1e-4;
                },
                settleMs));
        const QJsonObject reply = client.send(remotetesting::command(qPrintable(command)));
        QCOMPARE(reply.value("ok").toBool(), ok);
        QCOMPARE(reply.value("error").toString().isEmpty(), ok);
        const QJsonValue want = QJsonDocument::fromJson("[" + expected.toUtf8() + "]").array().first();
        QTRY_COMPARE_WITH_TIMEOUT(at(client.state, path), want, settleMs);
        QVERIFY(!client.closed);
    }

    // Calibrations as the "Calibrate..." dialog takes them: each setting
    // within its box's range, and nothing started that cannot run.
    void calibrationRefused_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("error");
        QTest::newRow("no such level source") << R"({"cmd":"calibrate","source":"a sound card"})"
                                              << "no level source named 'a sound card' at the station";
        QTest::newRow("a planet") << R"({"cmd":"calibrate","target":"mars"})" << "target must be sun, moon or source";
        QTest::newRow("a raster") << R"({"cmd":"calibrate","kind":"raster"})" << "kind must be crossScan or sunNoise";
        QTest::newRow("a beam too narrow") << R"({"cmd":"calibrate","beamwidth":0.1})"
                                           << "beamwidth must be a number from 0.5 to 30";
        QTest::newRow("a dwell in words") << R"({"cmd":"calibrate","dwell":"long"})"
                                          << "dwell must be a number from 0.5 to 30";
        QTest::newRow("cold sky under the horizon") << R"({"cmd":"calibrate","kind":"sunNoise","coldSky":{"az":90,"el":-5}})"
                                                    << "coldSky takes az from 0 to 360 and el from 0 to 90";
        QTest::newRow("port A closed") << R"({"cmd":"calibrate"})" << "the rotator's port A is not open in Auto";
        // Given, but not as text: refused, not taken for the default.
        QTest::newRow("a target as a number") << R"({"cmd":"calibrate","target":1})"
                                              << "target must be sun, moon or source";
        QTest::newRow("a target of null") << R"({"cmd":"calibrate","target":null})"
                                          << "target must be sun, moon or source";
        QTest::newRow("a kind as a bool") << R"({"cmd":"calibrate","kind":true})" << "kind must be crossScan or sunNoise";
        QTest::newRow("a source in a list") << R"({"cmd":"calibrate","source":["simulated receiver"]})"
                                            << "source must be the name of one of the station's level sources";
        QTest::newRow("nothing to apply") << R"({"cmd":"calibrationApply"})" << "no offsets found to apply";
    }
    void calibrationRefused()
    {
        QFETCH(QString, command);
        QFETCH(QString, error);
        RemoteStation s;
        SimReceiver receiver([] { return std::optional<Direction>(); }, [] { return std::optional<Direction>(); },
                             SimReceiver::Sky());
        Calibrator calibrator(*s.station);
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);
        Client client(s.url());
        QVERIFY(client.waitForState());
        const QJsonObject reply = client.send(remotetesting::command(qPrintable(command)));
        QCOMPARE(reply.value("ok").toBool(), false);
        QCOMPARE(reply.value("error").toString(), error);
        QCOMPARE(at(client.state, "calibration.running"), QJsonValue(false));
        QCOMPARE(s.station->target(), TrackingTarget::Moon);
    }

    // A cross-scan started through the API shows its progress and levels in
    // the state, and Apply adds the offset it found (the simulated
    // antenna's hidden one, taken off) to the operator's.
    void calibrationThroughTheApi()
    {
        RemoteStation s;
        SimRotator &rotator = s.rotator;
        // The antenna rests at the parking place, as the station takes it to
        // at the start, and turns at 30 deg/s, as the run is told below.
        rotator.setPresentPosition(90, 10);
        rotator.setSlewRates(30, 30);
        SimReceiver receiver(
            [&rotator] { return std::optional<Direction>({rotator.presentAzimuth(), rotator.presentElevation()}); },
            [&s] { return std::optional<Direction>({s.record.azimuth, s.record.elevation}); }, SimReceiver::Sky());
        receiver.setHiddenOffset({0.6, -0.4});
        Calibrator calibrator(*s.station);
        calibrator.addLevelSource(&receiver);
        s.server->setCalibrator(&calibrator);
        Client client(s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(at(client.state, "calibration.sources"), QJsonValue(QJsonArray {QStringLiteral("simulated receiver")}));
        QCOMPARE(client.send(remotetesting::command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QTRY_VERIFY_WITH_TIMEOUT(s.station->pointing().commandedAzimuth.has_value(), settleMs);
        // Half-beam steps heard half a second each on a fast rotator: a run
        // of some 30 s instead of five minutes.
        const QJsonObject reply = client.send(remotetesting::command(
            R"({"cmd":"calibrate","target":"sun","kind":"crossScan","step":0.5,"dwell":0.5,"slew":30})"));
        QVERIFY2(reply.value("ok").toBool(), qPrintable(reply.value("error").toString()));
        QTRY_COMPARE_WITH_TIMEOUT(at(client.state, "calibration.running"), QJsonValue(true), settleMs);
        QCOMPARE(at(client.state, "calibration.target"), QJsonValue("sun"));
        QTRY_VERIFY_WITH_TIMEOUT(at(client.state, "calibration.points").toArray().size() >= 5, 60000);
        QTRY_VERIFY2_WITH_TIMEOUT(at(client.state, "calibration.canApply").toBool(),
                                  qPrintable(at(client.state, "calibration.status").toString()), 90000);
        QCOMPARE(at(client.state, "calibration.progress"), QJsonValue(1.0));
        QVERIFY(std::abs(at(client.state, "calibration.found.az").toDouble() + 0.6) < 0.05);
        QVERIFY(std::abs(at(client.state, "calibration.found.el").toDouble() - 0.4) < 0.05);
        QVERIFY(at(client.state, "calibration.history").toArray().first().toString().contains("Sun cross-scan"));
        QCOMPARE(client.send(remotetesting::command(R"({"cmd":"calibrationApply"})")).value("ok"), true);
        QTRY_VERIFY(std::abs(at(client.state, "offsets.az").toDouble() + 0.6) < 0.05);
        QCOMPARE(at(client.state, "calibration.canApply"), QJsonValue(false));
        QCOMPARE(SettingsFile().readAzimutOffset(), float(s.station->azimuthOffset()));
    }

    // The commands reach the devices: Park turns the simulated rotator,
    // Tune sets the simulated radio, and the manual terminal, when
    // remote.cfg allows it, sends the line.
    void devicesFollow()
    {
        RemoteSettings settings;
        settings.manualTerminal = true;
        RemoteStation s(settings);
        Client client(s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(client.send(command(R"({"cmd":"auto","port":"B","on":false})")).value("ok"), true);
        QCOMPARE(client.send(command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QCOMPARE(client.send(command(R"({"cmd":"open","port":"B"})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);
        // The log's lines come too.
        const auto logged = [&](const QString &text) {
            for (const QJsonObject &message : std::as_const(client.messages))
                if (message.value("type") == "log" && message.value("text") == text)
                    return true;
            return false;
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged("connected to " + s.rotator.slavePath()), settleMs);
        QCOMPARE(client.send(command(R"({"cmd":"park","az":123.5,"el":33})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.elevation(), std::optional<double>(33), settleMs);
        QCOMPARE(s.rotator.azimuth(), std::optional<double>(123.5));
        QCOMPARE(client.send(command(R"({"cmd":"tune","mhz":432.1})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(s.radio.frequency(), 432100000u, settleMs);
        QCOMPARE(client.send(command(R"({"cmd":"auto","port":"A","on":false})")).value("ok"), true);
        QCOMPARE(client.send(command(R"({"cmd":"manual","port":"A","line":"&* AZ=042.00"})")).value("ok"), true);
        QTRY_VERIFY_WITH_TIMEOUT(s.rotator.commands().contains("&* AZ=042.00"), settleMs);
        // A control character is not something a keyboard types.
        QCOMPARE(client.send(command(R"({"cmd":"manual","port":"A","line":"&* AZ=1\r\n&* EL=2"})")).value("ok"),
                 false);
        // What was open and how is kept for the service's next start (written
        // at most once a second).
        QTRY_VERIFY_WITH_TIMEOUT(!RemoteSettings::read().autoA, 2000);
        const RemoteSettings kept = RemoteSettings::read();
        QVERIFY(kept.openAAtStart && kept.openBAtStart);
        QVERIFY(!kept.autoA && !kept.autoB);
        QCOMPARE(kept.portADevice, s.rotator.slavePath());
    }

    // Park from a client while tracking: tracking leaves the rotator, the
    // antenna stays parked through the repetitions after, and parking ends
    // once the rotator took it. What a client set is kept for a restart:
    // offsets in store.cfg as the window keeps them, the rest in remote.cfg,
    // and a configured device is not overwritten by another one opened.
    void parkHoldsAndChoicesAreKept()
    {
        PtyPeer other;
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({other.slavePath()});
        RemoteStation s;
        s.station->enumeratePorts();
        Client client(s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(client.send(command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);
        QCOMPARE(client.send(command(R"({"cmd":"park","az":90,"el":10})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.elevation(), std::optional<double>(10), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(at(client.state, "parking.active"), QJsonValue(false), settleMs);
        QCOMPARE(at(client.state, "ports.A.auto"), QJsonValue(false));
        const int sent = int(s.rotator.commands().size());
        QTest::qWait(3500);  // three repetitions
        QCOMPARE(int(s.rotator.commands().size()), sent);
        QCOMPARE(s.rotator.azimuth(), std::optional<double>(90));

        for (const char *step : {R"({"cmd":"target","target":"sun"})", R"({"cmd":"offsets","az":0.5,"el":0.25})",
                                 R"({"cmd":"shift","shift":"dx"})"})
            QCOMPARE(client.send(command(step)).value("ok"), true);
        // Written at most once a second: the last of them within a second.
        QTRY_VERIFY_WITH_TIMEOUT(RemoteSettings::read().dxShift, 2000);
        const RemoteSettings kept = RemoteSettings::read();
        QCOMPARE(kept.target, QStringLiteral("sun"));
        SettingsFile store;
        QCOMPARE(store.readAzimutOffset(), 0.5f);
        QCOMPARE(store.readElevationOffset(), 0.25f);

        QCOMPARE(client.send(command(R"({"cmd":"close","port":"A"})")).value("ok"), true);
        const QString open = QStringLiteral(R"({"cmd":"open","port":"A","device":"%1"})");
        QCOMPARE(client.send(command(qPrintable(open.arg(other.slavePath())))).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(RemoteSettings::read().portAChosen, other.slavePath(), 2000);
        QCOMPARE(RemoteSettings::read().portADevice, s.rotator.slavePath());
        QCOMPARE(client.send(command(R"({"cmd":"close","port":"A"})")).value("ok"), true);
        QCOMPARE(client.send(command(qPrintable(open.arg(s.rotator.slavePath())))).value("ok"), true);
        QTRY_VERIFY_WITH_TIMEOUT(RemoteSettings::read().portAChosen.isEmpty(), 2000);
        SerialEnumerator::setExtraPortNames({});
        SerialEnumerator::setSystemPortsHidden(false);
    }

    // Clients toggling a port as fast as they may: remote.cfg is written at
    // most once a second, and the last choice is there however soon the
    // service stops.
    void settingsWritesCoalesced()
    {
        RemoteStation s;
        Client client(s.url());
        QVERIFY(client.waitForState());
        for (int i = 0; i < 10; ++i) {
            const QString toggle = QStringLiteral(R"({"cmd":"auto","port":"B","on":%1})").arg(i % 2 ? "true" : "false");
            QCOMPARE(client.send(command(qPrintable(toggle))).value("ok"), true);
        }
        // The first went at once (Manual); the rest wait for the second to pass.
        QVERIFY(!RemoteSettings::read().autoB);
        s.server.reset();
        QVERIFY(RemoteSettings::read().autoB);  // the tenth, Auto, written as the service stopped
    }

    // Offsets sent many times a second: store.cfg is written at once, then
    // at most once a second, and the last value is there within that second
    // or as soon as the station ends normally.
    void offsetsWritesCoalesced()
    {
        RemoteStation s;
        Client client(s.url());
        QVERIFY(client.waitForState());
        const auto offsets = [&](double az) {
            const QString text = QStringLiteral(R"({"cmd":"offsets","az":%1,"el":0.25})").arg(az);
            return client.send(command(qPrintable(text))).value("ok").toBool();
        };
        QVERIFY(offsets(0.5));
        QCOMPARE(SettingsFile().readAzimutOffset(), 0.5f);
        QVERIFY(offsets(0.75));
        QVERIFY(offsets(1));
        QCOMPARE(SettingsFile().readAzimutOffset(), 0.5f);  // the second has not passed
        QTRY_COMPARE_WITH_TIMEOUT(SettingsFile().readAzimutOffset(), 1.0f, 2 * RotatorControl::offsetsWriteMs);
        QCOMPARE(SettingsFile().readElevationOffset(), 0.25f);
        QVERIFY(offsets(1.25));
        QVERIFY(offsets(1.5));
        QCOMPARE(SettingsFile().readAzimutOffset(), 1.0f);
        s.server.reset();
        s.station.reset();  // the service stopping
        QCOMPARE(SettingsFile().readAzimutOffset(), 1.5f);
        s.station = std::make_unique<TrackingControl>();
        QCOMPARE(s.station->azimuthOffset(), 1.5);
    }

    // "PTT" as a client left it is ticked again once port B follows the
    // radio after a restart; unticked stays unticked.
    void pttKeptOverRestart_data()
    {
        QTest::addColumn<bool>("ticked");
        QTest::newRow("ticked") << true;
        QTest::newRow("unticked again") << false;
    }
    void pttKeptOverRestart()
    {
        QFETCH(bool, ticked);
        RemoteStation s;
        {
            Client client(s.url());
            QVERIFY(client.waitForState());
            QCOMPARE(client.send(command(R"({"cmd":"open","port":"B"})")).value("ok"), true);
            QCOMPARE(client.send(command(R"({"cmd":"ptt","on":true})")).value("ok"), true);
            if (!ticked)
                QCOMPARE(client.send(command(R"({"cmd":"ptt","on":false})")).value("ok"), true);
            QTRY_COMPARE_WITH_TIMEOUT(at(client.state, "radio.ptt"), QJsonValue(ticked), settleMs);
        }
        // A new station in the same folder, as the service's next start.
        s.server.reset();
        s.station->closeAll();
        s.station = std::make_unique<TrackingControl>();
        s.station->setTrackingSource(std::make_unique<FixedSource>(&s.record));
        s.station->setTimes(1, 100);
        s.station->setAuto(StationPort::B, true);
        RemoteSettings settings;
        settings.listenPort = 0;
        settings.portBDevice = s.radio.slavePath();
        s.server = std::make_unique<RemoteServer>(*s.station, settings);
        QVERIFY(s.server->listen(nullptr));
        Client client(s.url());
        QVERIFY(client.waitForState());
        QCOMPARE(client.send(command(R"({"cmd":"open","port":"B"})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(at(client.state, "radio.dopplerRunning"), QJsonValue(true), settleMs);
        QCOMPARE(at(client.state, "radio.ptt"), QJsonValue(ticked));
        // The method dialog builds its settings from its fields, PTT not among them.
        DopplerSettings fromDialog;
        fromDialog.transmitLimitSeconds = 120;
        QVERIFY(s.station->setDopplerSettings(fromDialog));
        QCOMPARE(s.station->dopplerSettings().ptt, ticked);
    }

    // A running station whose shown state does not change (readouts of the
    // same frequency every 100 ms, a repetition every second on the same
    // position) sends its clients the heartbeat and little more.
    void onlyChangesPushed()
    {
        RemoteStation s;
        Client client(s.url());
        QVERIFY(client.waitForState());
        for (const char *step : {R"({"cmd":"open","port":"A"})", R"({"cmd":"open","port":"B"})"})
            QCOMPARE(client.send(command(step)).value("ok"), true);
        QVERIFY(QTest::qWaitFor([&] { return at(client.state, "radio.known").toBool(); }, settleMs));
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);
        QTest::qWait(1000);
        const auto states = [&] {
            return std::count_if(client.messages.cbegin(), client.messages.cend(),
                                 [](const QJsonObject &m) { return m.value("type") == "state"; });
        };
        const auto before = states();
        QTest::qWait(4000);
        const auto pushed = states() - before;
        // Ten heartbeats in 4 s (one each 400 ms), with room for a few changes.
        QVERIFY2(pushed <= 14, qPrintable(QString::number(pushed)));
    }

    // Input no client should send: it loses its own connection, the others
    // keep theirs and the station keeps tracking.
    void badInput_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not JSON") << "not json";
        QTest::newRow("a JSON array") << "array";
        QTest::newRow("no command name") << "no cmd";
        QTest::newRow("a binary frame") << "binary";
        QTest::newRow("a 100 kB frame") << "huge";
        QTest::newRow("a wrong token") << "wrong token";
        QTest::newRow("a command before the token") << "no token";
        QTest::newRow("a command flood") << "flood";
        QTest::newRow("another site's page") << "origin";
    }
    void badInput()
    {
        QFETCH(QString, kind);
        const QString token(40, QLatin1Char('t'));
        RemoteStation s(RemoteSettings(), token);
        Client good(s.url());
        QCOMPARE(good.send(QJsonObject {{"cmd", "hello"}, {"token", token}}).value("ok"), true);
        QCOMPARE(good.send(command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(100), settleMs);

        std::unique_ptr<QWebSocket> bad;
        if (kind == "origin") {
            bad = std::make_unique<QWebSocket>(QStringLiteral("http://evil.example"));
        } else {
            bad = std::make_unique<QWebSocket>();
        }
        bool closed = false;
        connect(bad.get(), &QWebSocket::disconnected, this, [&] { closed = true; });
        bool opened = false;
        connect(bad.get(), &QWebSocket::connected, this, [&] { opened = true; });
        bad->open(s.url());
        QTRY_VERIFY_WITH_TIMEOUT(opened || closed, settleMs);
        const auto hello = [&] {
            bad->sendTextMessage(QStringLiteral(R"({"cmd":"hello","token":"%1"})").arg(token));
        };
        if (kind == "not json") {
            hello();
            bad->sendTextMessage("{\"cmd\": park");
        } else if (kind == "array") {
            hello();
            bad->sendTextMessage("[\"park\"]");
        } else if (kind == "no cmd") {
            hello();
            bad->sendTextMessage(R"({"park":true})");
        } else if (kind == "binary") {
            hello();
            bad->sendBinaryMessage(R"({"cmd":"park"})");
        } else if (kind == "huge") {
            hello();
            bad->sendTextMessage(QStringLiteral(R"({"cmd":"ping","pad":"%1"})").arg(QString(100000, 'x')));
        } else if (kind == "wrong token") {
            bad->sendTextMessage(QStringLiteral(R"({"cmd":"hello","token":"%1"})").arg(QString(40, 'u')));
        } else if (kind == "no token") {
            bad->sendTextMessage(R"({"cmd":"park"})");
        } else if (kind == "flood") {
            hello();
            for (int i = 0; i < 1000; ++i)
                bad->sendTextMessage(R"({"cmd":"ptt","on":false})");
        }
        QTRY_VERIFY_WITH_TIMEOUT(closed, settleMs);
        QCOMPARE(s.station->steering().parkingActive(), false);  // no park slipped through

        // The station tracks on, and says so to the client that behaved.
        s.record.azimuth = 140;
        s.station->repetition();
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(140), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(at(good.state, "commanded.az"), QJsonValue(140), settleMs);
        QVERIFY(!good.closed);
    }

    // A thousand connections at once, half silent (never finishing a
    // request) and half WebSocket clients beyond the limit: the station
    // tracks on, a client that was there keeps its state coming, and once
    // they are gone a new client is let in.
    void thousandConnections()
    {
        RemoteStation s;
        Client good(s.url());
        QVERIFY(good.waitForState());
        QCOMPARE(good.send(command(R"({"cmd":"open","port":"A"})")).value("ok"), true);
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        std::vector<std::unique_ptr<QWebSocket>> clients;
        for (int i = 0; i < 500; ++i) {
            silent.push_back(std::make_unique<QTcpSocket>());
            silent.back()->connectToHost(QHostAddress::LocalHost, s.server->port());
            clients.push_back(std::make_unique<QWebSocket>());
            clients.back()->open(s.url());
        }
        s.record.azimuth = 150;
        s.station->repetition();
        QTRY_COMPARE_WITH_TIMEOUT(s.rotator.azimuth(), std::optional<double>(150), settleMs);
        QTRY_COMPARE_WITH_TIMEOUT(at(good.state, "commanded.az"), QJsonValue(150), settleMs);
        QVERIFY(s.server->clientCount() <= RemoteServer::maxClients);
        const double seq = good.state.value("seq").toDouble();
        QTRY_VERIFY_WITH_TIMEOUT(good.state.value("seq").toDouble() >= seq + 2, settleMs);  // at 2.5 per second
        QVERIFY(!good.closed);
        for (const auto &client : clients)
            client->abort();
        clients.clear();
        silent.clear();
        QTRY_COMPARE_WITH_TIMEOUT(s.server->clientCount(), 1, settleMs);
        Client late(s.url());
        QVERIFY(late.waitForState());
    }

    // A client that stops reading is closed once a megabyte waits for it;
    // the one that reads keeps its states coming.
    void clientThatStopsReading()
    {
        RemoteStation s;
        Client good(s.url());
        QVERIFY(good.waitForState());
        QTcpSocket stalled;
        stalled.setReadBufferSize(16);  // takes nothing more from the network once full
        stalled.connectToHost(QHostAddress::LocalHost, s.server->port());
        QVERIFY(stalled.waitForConnected(settleMs));
        stalled.write(QStringLiteral("GET /api HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nUpgrade: websocket\r\n"
                                     "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                                     "Sec-WebSocket-Version: 13\r\n\r\n")
                          .arg(s.server->port())
                          .toLatin1());
        QTRY_COMPARE_WITH_TIMEOUT(s.server->clientCount(), 2, settleMs);
        QElapsedTimer time;
        time.start();
        // A state that changes each time (only changes are pushed).
        while (s.server->clientCount() == 2 && time.elapsed() < 30000) {
            s.record.azimuth = 100 + double(time.elapsed() % 1000) / 100;
            s.station->repetition();
            QCoreApplication::processEvents();
        }
        QCOMPARE(s.server->clientCount(), 1);
        const double seq = good.state.value("seq").toDouble();
        QTRY_VERIFY_WITH_TIMEOUT(good.state.value("seq").toDouble() > seq, settleMs);
        QVERIFY(!good.closed);
    }

    // Off this machine a token is needed: made once, kept for its user
    // only, the same at the next start; and the right one lets a client in.
    void token()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("remote.token");
        const RemoteToken made = remoteToken(path);
        QVERIFY(made.created);
        QVERIFY(made.value.size() >= 32);
        QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const RemoteToken again = remoteToken(path);
        QVERIFY(!again.created);
        QCOMPARE(again.value, made.value);
        QVERIFY(remoteToken(path).value != remoteToken(dir.filePath("other")).value);

        RemoteStation s(RemoteSettings(), made.value);
        Client client(s.url());
        QTRY_VERIFY_WITH_TIMEOUT(!client.messages.isEmpty(), settleMs);
        QCOMPARE(client.messages.first().value("token"), true);
        QVERIFY(client.state.isEmpty());  // nothing before the token
        QCOMPARE(client.send(QJsonObject {{"cmd", "hello"}, {"token", made.value}}).value("ok"), true);
        QVERIFY(client.waitForState());
    }

    // A token file others may read is used, and said to be so.
    void tokenFileMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("othersMayRead");
        QTest::newRow("its user only") << 0600 << false;
        QTest::newRow("read-only for its user") << 0400 << false;
        QTest::newRow("its group too") << 0640 << true;
        QTest::newRow("everyone") << 0644 << true;
        QTest::newRow("others, not the group") << 0604 << true;
    }
    void tokenFileMode()
    {
        QFETCH(int, mode);
        QFETCH(bool, othersMayRead);
        QTemporaryDir dir;
        const QString path = dir.filePath("remote.token");
        const RemoteToken made = remoteToken(path);
        QVERIFY(!made.othersMayRead);
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0);
        const RemoteToken read = remoteToken(path);
        QCOMPARE(read.value, made.value);
        QCOMPARE(read.othersMayRead, othersMayRead);
    }

    // The page itself, and nothing else; without a token, only for this
    // machine's own names (a rebound name gets nothing).
    void httpRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("the page") << QByteArray("GET / HTTP/1.1\r\nHost: localhost:8473\r\n\r\n") << QByteArray("200");
        QTest::newRow("its script") << QByteArray("GET /app.js?v=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
                                    << QByteArray("200");
        QTest::newRow("a path outside") << QByteArray("GET /../store.cfg HTTP/1.1\r\nHost: localhost\r\n\r\n")
                                        << QByteArray("404");
        QTest::newRow("a post") << QByteArray("POST / HTTP/1.1\r\nHost: localhost\r\n\r\n") << QByteArray("405");
        QTest::newRow("a rebound name") << QByteArray("GET / HTTP/1.1\r\nHost: evil.example:8473\r\n\r\n")
                                        << QByteArray("403");
        // "|": the rest is written once the answer to the first part has come.
        QTest::newRow("a second request after the answer")
            << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n|GET /app.js HTTP/1.1\r\nHost: localhost\r\n\r\n")
            << QByteArray("200");
        QTest::newRow("half a request, then the rest")
            << QByteArray("GET / HTTP/1.1\r\nHost: loc|alhost\r\n\r\n") << QByteArray("200");
        QTest::newRow("no host") << QByteArray("GET / HTTP/1.0\r\n\r\n") << QByteArray("403");
    }
    void httpRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        RemoteStation s;
        QTcpSocket http;
        http.connectToHost(QHostAddress::LocalHost, s.server->port());
        QVERIFY(http.waitForConnected(settleMs));
        const QList<QByteArray> parts = request.split('|');
        http.write(parts.first());
        QByteArray answer;
        if (parts.size() > 1) {
            // Either the answer to a whole request, or nothing to half of one.
            [[maybe_unused]] const bool answered
                = QTest::qWaitFor([&] { return !(answer += http.readAll()).isEmpty(); }, 200);
            http.write(parts.last());
        }
        QTRY_VERIFY_WITH_TIMEOUT((answer += http.readAll(), http.state() == QAbstractSocket::UnconnectedState),
                                 settleMs);
        QVERIFY2(answer.startsWith("HTTP/1.1 " + status), answer.left(100).constData());
    }

    // remote.cfg: the loopback unless an address is named; the values kept.
    void settingsFile_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("default") << QString() << true;
        QTest::newRow("localhost") << "localhost" << true;
        QTest::newRow("a host name, which asks for the token") << "station.lan" << false;
        QTest::newRow("the LAN") << "192.168.1.20" << false;
        QTest::newRow("any") << "any" << false;
        QTest::newRow("IPv6 loopback") << "::1" << true;
    }
    void settingsFile()
    {
        QFETCH(QString, address);
        QFETCH(bool, loopback);
        QTemporaryDir dir;
        const QString path = dir.filePath("remote.cfg");
        RemoteSettings settings;
        if (!address.isEmpty())
            settings.listenAddress = address;
        settings.listenPort = 9000;
        settings.manualTerminal = true;
        settings.portADevice = "/dev/ttyUSB0";
        settings.portBBaudRate = BAUD38400;
        settings.autoB = false;
        settings.dataFile = "/home/ham/tracking.txt";
        QVERIFY(settings.write(path));
        const RemoteSettings read = RemoteSettings::read(path);
        QVERIFY(read == settings);
        QCOMPARE(read.loopbackOnly(), loopback);
    }
};

QTEST_GUILESS_MAIN(tst_RemoteApi)
#include "tst_remoteapi.moc"

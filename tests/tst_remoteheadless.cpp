// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a service: vestrel --headless, started as systemd would.

#include "remotetesting.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>

#include <sys/stat.h>

namespace {

// The program's environment without a display, so that whatever needs one fails.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

} // namespace

class tst_RemoteHeadless : public QObject
{
    Q_OBJECT

private slots:
    // vestrel --headless with no display: opens the rotator remote.cfg names,
    // tracks from the data file, serves the page, logs to standard error and
    // vestrel.log, and ends cleanly on SIGTERM with the port closed.
    void headlessRunsAsAService()
    {
        QTemporaryDir folder;
        SimRotator rotator;
        QFile data(folder.filePath("track.txt"));
        QVERIFY(data.open(QIODevice::WriteOnly));
        QList<QByteArray> fields(17, "0");  // a tracking program's line: Moon at 123, 45
        fields[1] = "123";
        fields[2] = "45";
        fields[12] = "432.065";
        data.write(fields.join(',') + '\n');
        data.close();
        RemoteSettings settings;
        settings.listenPort = 0;
        settings.portADevice = rotator.slavePath();
        settings.openAAtStart = true;
        settings.dataFile = data.fileName();
        QVERIFY(settings.write(folder.filePath("remote.cfg")));
        QProcess program;
        program.setProcessEnvironment(withoutDisplay());
        program.setWorkingDirectory(folder.path());
        program.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--headless")});
        QVERIFY(program.waitForStarted(60000));
        QTRY_COMPARE_WITH_TIMEOUT(rotator.azimuth(), std::optional<double>(123), 20000);
        QString said;
        QRegularExpressionMatch address;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += QString::fromLocal8Bit(program.readAllStandardError()),
             address = QRegularExpression("API on http://localhost:(\\d+)/").match(said), address.hasMatch()),
            20000);
        QVERIFY2(said.contains("connected to " + rotator.slavePath()), qPrintable(said));

        QTcpSocket http;
        http.connectToHost(QHostAddress::LocalHost, quint16(address.captured(1).toUInt()));
        QVERIFY(http.waitForConnected(5000));
        http.write("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QByteArray page;
        QTRY_VERIFY_WITH_TIMEOUT((page += http.readAll()).contains("</html>"), 20000);
        QVERIFY(page.startsWith("HTTP/1.1 200 OK"));

        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        said += QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(said.contains("Port A disconnected"), qPrintable(said));
        QFile log(folder.filePath("vestrel.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("Port A disconnected"));
    }

    // What a client chose last is how a restarted service tracks: the Sun,
    // from a device a client picked beside the configured one.
    void restartKeepsTheClientsChoices()
    {
        QTemporaryDir folder;
        SimRotator rotator;
        QFile data(folder.filePath("track.txt"));
        QVERIFY(data.open(QIODevice::WriteOnly));
        QList<QByteArray> fields(17, "0");  // the Moon at 123, 45; the Sun at 210, 20
        fields[1] = "123";
        fields[2] = "45";
        fields[5] = "210";
        fields[6] = "20";
        fields[12] = "432.065";
        data.write(fields.join(',') + '\n');
        data.close();
        RemoteSettings settings;
        settings.listenPort = 0;
        settings.portADevice = QStringLiteral("/dev/ttyUSB-not-here");
        settings.portAChosen = rotator.slavePath();
        settings.openAAtStart = true;
        settings.dataFile = data.fileName();
        settings.target = QStringLiteral("sun");
        QVERIFY(settings.write(folder.filePath("remote.cfg")));
        QProcess program;
        program.setProcessEnvironment(withoutDisplay());
        program.setWorkingDirectory(folder.path());
        program.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--headless")});
        QVERIFY(program.waitForStarted(60000));
        QTRY_COMPARE_WITH_TIMEOUT(rotator.azimuth(), std::optional<double>(210), 20000);
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(RemoteSettings::read(folder.filePath("remote.cfg")).portADevice,
                 QStringLiteral("/dev/ttyUSB-not-here"));
    }

    // remote.cfg's listen address as the service takes it: a name that is no
    // address of this machine stops it with the reason and no token made; one
    // beyond the loopback asks for the token, and a token file others may
    // read is said to be so (the token itself never).
    void listenAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("tokenMode");  // of a remote.token made before; 0: none
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("serves");
        QTest::newRow("a name that is nowhere (RFC 6761)")
            << "vestrel-test.invalid" << 0
            << "web page and API not started: listen address 'vestrel-test.invalid' is no address" << false;
        QTest::newRow("every address, a token others may read")
            << "any" << 0644 << "remote.token can be read by users other than this one" << true;
        QTest::newRow("every address, a token of its own") << "any" << 0600 << "API on http://" << true;
    }
    void listenAddress()
    {
        QFETCH(QString, address);
        QFETCH(int, tokenMode);
        QFETCH(QString, said);
        QFETCH(bool, serves);
        QTemporaryDir folder;
        RemoteSettings settings;
        settings.listenAddress = address;
        settings.listenPort = 0;
        QVERIFY(settings.write(folder.filePath("remote.cfg")));
        const QString tokenPath = folder.filePath("remote.token");
        RemoteToken token;
        if (tokenMode) {
            token = remoteToken(tokenPath);
            QVERIFY(::chmod(QFile::encodeName(tokenPath).constData(), mode_t(tokenMode)) == 0);
        }
        QProcess program;
        program.setProcessEnvironment(withoutDisplay());
        program.setWorkingDirectory(folder.path());
        program.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--headless")});
        QVERIFY(program.waitForStarted(60000));
        QString output;
        QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromLocal8Bit(program.readAllStandardError()),
                                  output.contains(said) || program.state() == QProcess::NotRunning),
                                 20000);
        if (serves) {
            QTRY_VERIFY_WITH_TIMEOUT((output += QString::fromLocal8Bit(program.readAllStandardError()),
                                      output.contains("API on http://")),
                                     20000);
            program.terminate();
        }
        QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(20000));
        output += QString::fromLocal8Bit(program.readAllStandardError());
        QVERIFY2(output.contains(said), qPrintable(output));
        QCOMPARE(program.exitCode(), serves ? 0 : 1);
        QCOMPARE(output.contains("API on http://"), serves);
        QCOMPARE(QFile::exists(tokenPath), tokenMode != 0);
        if (!token.value.isEmpty()) {
            QVERIFY(!output.contains(token.value));
            QFile log(folder.filePath("vestrel.log"));
            QVERIFY(log.open(QIODevice::ReadOnly));
            QVERIFY(!log.readAll().contains(token.value.toLatin1()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_RemoteHeadless)
#include "tst_remoteheadless.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The program's options, parsed as a unit and answered by the real program.
#include "startup/commandline.h"

#include <QDir>
#include <QFileInfo>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The program's environment without a display, so that whatever needs one fails.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(VESTREL_PROGRAM), arguments);
    Run result;
    if (!program.waitForFinished(60000) || program.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = program.exitCode();
    result.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(program.readAllStandardError());
    return result;
}

} // namespace

class CommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { startup::setIdentity(); }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("help");
        QTest::addColumn<bool>("version");
        QTest::addColumn<bool>("menu");
        QTest::addColumn<QString>("error");
        QTest::newRow("nothing: from a shell") << QStringList() << true << false << false << false << "";
        QTest::newRow("from the menu") << QStringList {"--menu"} << true << false << false << true << "";
        QTest::newRow("headless") << QStringList {"--headless"} << true << false << false << false << "";
        QTest::newRow("headless is no demo") << QStringList {"--headless", "--demo"} << false << false << false
                                             << false << "--headless runs the real station, not a demo.";
        QTest::newRow("-h") << QStringList {"-h"} << true << true << false << false << "";
        QTest::newRow("--help") << QStringList {"--help"} << true << true << false << false << "";
        QTest::newRow("-v") << QStringList {"-v"} << true << false << true << false << "";
        QTest::newRow("--version") << QStringList {"--version"} << true << false << true << false << "";
        QTest::newRow("unknown option") << QStringList {"--bogus"} << false << false << false << false
                                        << "Unknown option 'bogus'.";
        QTest::newRow("stray argument") << QStringList {"--menu", "store.cfg"} << false << false << false << true
                                        << "Unexpected argument 'store.cfg'.";
        // Before the application takes Qt's own options out, they must not
        // read as bundles of letters: -reverse holds a v, -stylesheet an h.
        QTest::newRow("Qt's options are words") << QStringList {"-reverse", "-stylesheet", "x.qss"} << false
                                                << false << false << false << "Unknown options: reverse, stylesheet.";
        QTest::newRow("version among Qt's options")
            << QStringList {"-platform", "offscreen", "--version"} << false << false << true << false
            << "Unknown option 'platform'.";
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        QFETCH(bool, help);
        QFETCH(bool, version);
        QFETCH(bool, menu);
        QFETCH(QString, error);
        startup::CommandLine commandLine;
        QCOMPARE(commandLine.parse(QStringList {"vestrel"} + arguments), valid);
        QCOMPARE(commandLine.helpWanted(), help);
        QCOMPARE(commandLine.versionWanted(), version);
        QCOMPARE(commandLine.fromMenu(), menu);
        QCOMPARE(commandLine.errorText(), error);
    }

    void demoRate_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<double>("rate");  // 0: not given
        QTest::addColumn<QString>("error");
        QTest::newRow("not given") << QStringList {"--demo"} << 0.0 << "";
        QTest::newRow("given") << QStringList {"--demo", "--demo-rate", "25"} << 25.0 << "";
        QTest::newRow("with =, a fraction") << QStringList {"--demo-auto", "--demo-rate=2.5"} << 2.5 << "";
        QTest::newRow("the most") << QStringList {"--demo", "--demo-rate", "100"} << 100.0 << "";
        QTest::newRow("too fast") << QStringList {"--demo", "--demo-rate", "101"} << 0.0
                                  << "--demo-rate takes a number above 0 and up to 100, not '101'.";
        QTest::newRow("stopped") << QStringList {"--demo", "--demo-rate", "0"} << 0.0
                                 << "--demo-rate takes a number above 0 and up to 100, not '0'.";
        QTest::newRow("not a number") << QStringList {"--demo", "--demo-rate", "fast"} << 0.0
                                      << "--demo-rate takes a number above 0 and up to 100, not 'fast'.";
        QTest::newRow("no demo") << QStringList {"--demo-rate", "5"} << 0.0
                                 << "--demo-rate goes with --demo or --demo-auto.";
        QTest::newRow("value missing") << QStringList {"--demo", "--demo-rate"} << 0.0
                                       << "Missing value after '--demo-rate'.";
    }
    void demoRate()
    {
        QFETCH(QStringList, arguments);
        QFETCH(double, rate);
        QFETCH(QString, error);
        startup::CommandLine commandLine;
        QCOMPARE(commandLine.parse(QStringList {"vestrel"} + arguments), error.isEmpty());
        QCOMPARE(commandLine.errorText(), error);
        QCOMPARE(commandLine.demoRate().value_or(0.0), rate);
    }

    // --attach's address and token file; the token file is remote.token by
    // default only for a station on another machine.
    void attach_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("tokenFile");
        QTest::addColumn<QString>("error");
        QTest::newRow("this machine") << QStringList {"--attach"} << "ws://localhost:8473/api" << "" << "";
        QTest::newRow("a host") << QStringList {"--attach", "shack"} << "ws://shack:8473/api" << "remote.token" << "";
        QTest::newRow("host and port") << QStringList {"--attach", "192.0.2.7:9000"} << "ws://192.0.2.7:9000/api"
                                       << "remote.token" << "";
        QTest::newRow("a URL") << QStringList {"--attach", "wss://shack.example/vestrel/api"}
                               << "wss://shack.example/vestrel/api" << "remote.token" << "";
        QTest::newRow("the loopback") << QStringList {"--attach", "127.0.0.1:8473"} << "ws://127.0.0.1:8473/api" << ""
                                      << "";
        QTest::newRow("a token file") << QStringList {"--attach", "--token-file", "/etc/vestrel/token"}
                                      << "ws://localhost:8473/api" << "/etc/vestrel/token" << "";
        QTest::newRow("not a WebSocket") << QStringList {"--attach", "http://shack:8473/"} << "" << ""
                                         << "--attach takes host:port or ws://host:port/api, not 'http://shack:8473/'.";
        QTest::newRow("no host") << QStringList {"--attach", "ws:///api"} << "" << ""
                                 << "--attach takes host:port or ws://host:port/api, not 'ws:///api'.";
        QTest::newRow("two addresses") << QStringList {"--attach", "a", "b"} << "" << ""
                                       << "Unexpected argument 'b'.";
        QTest::newRow("an address alone") << QStringList {"shack"} << "" << "" << "Unexpected argument 'shack'.";
        QTest::newRow("with headless") << QStringList {"--attach", "--headless"} << "" << ""
                                       << "--attach shows a station that runs elsewhere; it goes with neither "
                                          "--headless nor a demo.";
        QTest::newRow("token file alone") << QStringList {"--token-file", "t"} << "" << ""
                                          << "--token-file goes with --attach.";
    }
    void attach()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, url);
        QFETCH(QString, tokenFile);
        QFETCH(QString, error);
        startup::CommandLine commandLine;
        QCOMPARE(commandLine.parse(QStringList {"vestrel"} + arguments), error.isEmpty());
        QCOMPARE(commandLine.errorText(), error);
        if (error.isEmpty()) {
            QVERIFY(commandLine.attach());
            QCOMPARE(commandLine.attachUrl().toString(), url);
            QCOMPARE(commandLine.tokenFile(), tokenFile);
        }
    }

    void versionWithoutDisplay()
    {
        for (const char *option : {"--version", "-v"}) {
            const Run result = run({QString::fromLatin1(option)}, withoutDisplay());
            QCOMPARE(result.exitCode, 0);
            QCOMPARE(result.out, QStringLiteral("vestrel %1\n").arg(QCoreApplication::applicationVersion()));
        }
    }

    void helpWithoutDisplay()
    {
        const Run result = run({QStringLiteral("--help")}, withoutDisplay());
        QCOMPARE(result.exitCode, 0);
        QVERIFY2(result.out.startsWith(QStringLiteral("Usage: ")), qPrintable(result.out));
        for (const char *option : {"--help", "--version", "--menu", "--demo-auto", "--demo-rate", "store.cfg",
                                   "Hamlib linked in", "Calibrate...", "calibration.csv"})
            QVERIFY2(result.out.contains(QString::fromLatin1(option)), option);
        QVERIFY(result.err.isEmpty());
    }

    void wrongArgumentsFail_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option") << QStringList {"--bogus"} << "vestrel: Unknown option 'bogus'.\n";
        QTest::newRow("stray argument") << QStringList {"track.txt"} << "vestrel: Unexpected argument 'track.txt'.\n";
        QTest::newRow("no token file") << QStringList {"--attach", "shack", "--token-file", "/nonexistent/token"}
                                       << "vestrel: cannot read the token from /nonexistent/token: "
                                          "No such file or directory\n";
    }
    void wrongArgumentsFail()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const Run result = run(arguments, environment);
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.endsWith(message), qPrintable(result.err));
        QVERIFY(result.out.isEmpty());
    }

    // Started as the menu entry does, the program works (and logs) in its own
    // folder in the user's data folder, made on first start.
    void menuStartWorksInTheDataFolder()
    {
        QTemporaryDir home;
        QTemporaryDir shellFolder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("HOME"), home.path());
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(shellFolder.path());
        program.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--menu")});
        QVERIFY(program.waitForStarted(60000));
        const QString folder = home.filePath(QStringLiteral("data/vestrel"));
        const QString cwd = QStringLiteral("/proc/%1/cwd").arg(program.processId());
        QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(cwd).canonicalFilePath(), QFileInfo(folder).canonicalFilePath(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder + QStringLiteral("/vestrel.log")), 60000);
        QVERIFY(!QFileInfo::exists(shellFolder.filePath(QStringLiteral("vestrel.log"))));
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();
        QVERIFY(program.waitForFinished(60000));
    }

    // Logging out or shutting down sends SIGTERM: the program ends as when
    // its window is closed, saving the offsets typed in its fields.
    void terminateSavesAsACloseDoes()
    {
        QTemporaryDir folder;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(folder.path());
        program.start(QStringLiteral(VESTREL_PROGRAM));
        QVERIFY(program.waitForStarted(60000));
        const QString store = folder.filePath(QStringLiteral("store.cfg"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(folder.filePath(QStringLiteral("vestrel.log"))), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(store), 60000);
        const QDateTime before = QFileInfo(store).lastModified();
        QTest::qWait(50);
        program.terminate();
        QVERIFY(program.waitForFinished(60000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(QFileInfo(store).lastModified() > before);  // the offsets were written on the way out
    }
};

QTEST_MAIN(CommandLineTest)
#include "tst_commandline.moc"

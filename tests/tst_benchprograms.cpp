// SPDX-License-Identifier: GPL-3.0-or-later
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The benchmark programs still run and print their table rows (in their
// shortest form), so that scripts/bench.sh does not find them broken. No
// speed is judged here; the pass, which runs on a simulated clock, must show
// a station that follows the Moon at all.
class TestBenchPrograms : public QObject
{
    Q_OBJECT

private slots:
    void runsAndPrintsRows_data();
    void runsAndPrintsRows();
    void passStaysWithinBounds();
    void radioSourcesWithinBound();
    void pointingYearRuns();

private:
    // The program's table rows ("row", figure, measured, beside it), or a failure.
    static QList<QStringList> rowsOf(const QString &program, const QStringList &arguments);
};

QList<QStringList> TestBenchPrograms::rowsOf(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(VESTREL_BENCH_DIR "/") + program, arguments);
    if (!process.waitForFinished(240000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    QList<QStringList> rows;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        const QStringList fields = QString::fromUtf8(line).split(QLatin1Char('\t'));
        if (fields.size() == 4 && fields.first() == QLatin1String("row"))
            rows << fields;
    }
    return rows;
}

void TestBenchPrograms::runsAndPrintsRows_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("figures");

    QTest::newRow("readout") << "bench_readout" << QStringList {"--ticks", "3"}
                             << QStringList {"1 readout tick -> shown (window)"};
    QTest::newRow("idle") << "bench_idle" << QStringList {"--seconds", "2"}
                          << QStringList {"2 idle CPU, 2 s, replies byte by byte", "2 idle CPU, 1 s, replies whole"};
    QTest::newRow("alarms") << "bench_alarms" << QStringList {"--quick"}
                            << QStringList {"rotator silent to its alarm", "serial rotator back to its first command",
                                            "event-loop delay, rotctld flooding 1 MB/s of short lines"};
    QTest::newRow("methods") << "bench_methods" << QStringList {"--quick"}
                             << QStringList {
                                    "6 Doppler method Own echo, 10368 MHz, FT-817, 10 Hz steps, 1 s repetition",
                                    "6 Doppler method Call DX, 10368 MHz, rigctld dummy, 1 Hz steps, 1 s repetition"};
    QTest::newRow("remote") << "bench_remote" << QStringList {"--quick"}
                            << QStringList {"state change to each of 50 clients",
                                            "command to its state, one of 50 clients",
                                            "event loop while 40 commands came",
                                            "state change to the web page in Chromium",
                                            "web page's notice after the station stops answering",
                                            "50 connected clients, running station, CPU beyond none",
                                            "connections without the token from 20 addresses at 800 a second",
                                            "memory under that churn and after each burst",
                                            "operator with the token amid that churn"};
    QTest::newRow("sharing") << "bench_sharing" << QStringList {"--quick"}
                             << QStringList {"29 rigctl server answer to f and t, 4 clients every 100 ms while tracking",
                                             "29 WSJT-X Status with a new dial to the radio on the new frequency"};
    QTest::newRow("calibration") << "bench_calibration" << QStringList {"--quick"}
                                 << QStringList {"cross-scan offset error, 5 hidden offsets up to 1.5 deg, 2 deg beam",
                                                 "one cross-scan on the station, rotator 6 and 2.7 deg/s"};
    QTest::newRow("start-up") << "bench_startup" << QStringList {"--runs", "1"}
                              << QStringList {"4 start -> window shown, offscreen"};
}

void TestBenchPrograms::runsAndPrintsRows()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, figures);

    const QList<QStringList> rows = rowsOf(program, arguments);
    QVERIFY2(!rows.isEmpty(), "no rows, or the program failed");
    QStringList printed;
    for (const QStringList &row : rows) {
        printed << row.at(1);
        QVERIFY2(!row.at(2).isEmpty(), qPrintable(row.join(QLatin1Char('|'))));
    }
    for (const QString &figure : figures)
        QVERIFY2(printed.contains(figure), qPrintable(printed.join(QLatin1Char('|'))));
}

void TestBenchPrograms::passStaysWithinBounds()
{
    const QList<QStringList> rows = rowsOf(QStringLiteral("bench_pass"), {QStringLiteral("--quick")});
    // Pointing and both frequencies, for each of the two repetition times.
    QCOMPARE(rows.size(), 6);
    static const QRegularExpression worst(QStringLiteral("worst ([0-9.]+) (deg|Hz)"));
    static const QRegularExpression bound(QStringLiteral("^bound ([0-9.]+) (deg|Hz)"));
    for (const QStringList &row : rows) {
        const auto measured = worst.match(row.at(2));
        const auto limit = bound.match(row.value(3));
        QVERIFY2(measured.hasMatch() && limit.hasMatch(), qPrintable(row.join(QLatin1Char('|'))));
        // The pass runs on one simulated clock, so the figures do not depend
        // on the machine's load: a command acknowledged early or lost shows
        // as an error past the bound.
        QVERIFY2(measured.captured(1).toDouble() <= limit.captured(1).toDouble(),
                 qPrintable(row.join(QLatin1Char('|'))));
    }
}

void TestBenchPrograms::radioSourcesWithinBound()
{
    const QList<QStringList> rows = rowsOf(QStringLiteral("bench_radiosources"), {QStringLiteral("--quick")});
    QCOMPARE(rows.size(), 1);
    static const QRegularExpression worst(QStringLiteral("worst ([0-9.]+) deg"));
    static const QRegularExpression bound(QStringLiteral("^bound ([0-9.]+) deg"));
    const auto measured = worst.match(rows.first().at(2));
    const auto limit = bound.match(rows.first().at(3));
    QVERIFY2(measured.hasMatch() && limit.hasMatch(), qPrintable(rows.first().join(QLatin1Char('|'))));
    QVERIFY2(measured.captured(1).toDouble() <= limit.captured(1).toDouble(),
             qPrintable(rows.first().join(QLatin1Char('|'))));
}

// The planner's year, shortened: every row printed, and the two figures whose
// goal is none at all met already (they do not depend on the machine).
void TestBenchPrograms::pointingYearRuns()
{
    const QList<QStringList> rows = rowsOf(QStringLiteral("bench_pointing"), {QStringLiteral("--quick")});
    QCOMPARE(rows.size(), 7);
    for (const QStringList &row : rows) {
        if (row.at(1).startsWith(QLatin1String("6 avoidable unwinds")))
            QVERIFY2(row.at(2).startsWith(QLatin1String("0 in ")), qPrintable(row.join(QLatin1Char('|'))));
        else if (row.at(1).startsWith(QLatin1String("6 commands beyond")))
            QVERIFY2(row.at(2).startsWith(QLatin1String("0 of ")), qPrintable(row.join(QLatin1Char('|'))));
        else if (row.at(1).startsWith(QLatin1String("6 pass-ahead planning")))
            QVERIFY2(row.at(2).contains(QLatin1String(" ms")), qPrintable(row.join(QLatin1Char('|'))));
        else
            QVERIFY2(row.at(2).contains(QLatin1String("worst")), qPrintable(row.join(QLatin1Char('|'))));
    }
}

QTEST_GUILESS_MAIN(TestBenchPrograms)
#include "tst_benchprograms.moc"

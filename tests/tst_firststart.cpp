// SPDX-License-Identifier: GPL-3.0-or-later
// A first start (no store.cfg in the working folder yet) logs one line that
// says what to do next and where the settings and the log are kept.

#include "startup/firststart.h"
#include "windowtesting.h"

#include "settings/settingsfile.h"

#include <QFile>
#include <QtTest>

using namespace windowtesting;

class tst_FirstStart : public QObject
{
    Q_OBJECT

private slots:
    void note_data()
    {
        QTest::addColumn<QStringList>("files");  // in the working folder before the start
        QTest::addColumn<bool>("first");
        QTest::newRow("empty folder") << QStringList() << true;
        QTest::newRow("a log of an earlier run, no settings") << QStringList {"vestrel.log"} << true;
        QTest::newRow("only the operator's backup of the store") << QStringList {"store.cfg.backup"} << true;
        QTest::newRow("store.cfg there") << QStringList {"store.cfg"} << false;
        QTest::newRow("store.cfg and the others") << QStringList {"store.cfg", "network.cfg", "source.cfg"} << false;
    }

    void note()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, first);
        WorkDir dir;
        for (const QString &name : files) {
            QFile file(dir.file(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const SettingsFile store;
        const QString log = dir.file(QStringLiteral("vestrel.log"));
        const QString note = startup::firstStartNote(store, log);
        QCOMPARE(!note.isEmpty(), first);
        if (!first)
            return;
        for (const QString &said : {QStringLiteral("port (A)"), QStringLiteral("port (B)"),
                                    QStringLiteral("tracking data file"), QStringLiteral("vestrel --demo"),
                                    QStringLiteral("Settings are kept in %1 (store.cfg, network.cfg, source.cfg)")
                                        .arg(dir.path()),
                                    QStringLiteral("Hamlib linked in"), QStringLiteral("Calibrate..."),
                                    QStringLiteral("calibrations in calibration.csv"),
                                    QStringLiteral("the log in %1.").arg(log)})
            QVERIFY2(note.contains(said), qPrintable(said));
        QVERIFY(!note.contains(QLatin1Char('\n')));  // one line in vestrel.log too
    }

    // The window logs it once, right after the ports, and only on the first start.
    void windowLogsItOnce()
    {
        WorkDir dir;
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({});
        {
            Qt_Vestrel window;
            const QStringList lines = logLines(window);
            QCOMPARE(lines.size(), 2);
            QCOMPARE(lines.at(0), QStringLiteral("No serial port available"));
            QVERIFY2(lines.at(1).startsWith(QLatin1String("First start in this folder. Next: ")),
                     qPrintable(lines.at(1)));
            QVERIFY(lines.at(1).endsWith(QStringLiteral("the log in %1.").arg(dir.file(QStringLiteral("vestrel.log")))));
            // vestrel.log has every message the window shows, this one too.
            QFile record(dir.file(QStringLiteral("vestrel.log")));
            QVERIFY(record.open(QIODevice::ReadOnly));
            QVERIFY(record.readAll().contains(lines.at(1).toUtf8() + '\n'));
        }
        Qt_Vestrel again;
        QCOMPARE(logLines(again), QStringList {QStringLiteral("No serial port available")});
    }
};

QTEST_MAIN(tst_FirstStart)
#include "tst_firststart.moc"

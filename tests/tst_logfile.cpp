// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's record on disk: vestrel.log in the working directory.

#include "windowtesting.h"

#include "serial/serialenumerator.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

using namespace windowtesting;

class LogFileTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { SerialEnumerator::setSystemPortsHidden(true); }
    void sameMessagesInTheSameOrder();
    void unwritableFileIsSaidOnce();
};

void LogFileTest::sameMessagesInTheSameOrder()
{
    WorkDir dir;
    {
        Qt_Vestrel window;
        auto *elevation = child<QLineEdit>(window, "lineElevationOffset");
        enter(elevation, QStringLiteral("north"));
        enter(elevation, QStringLiteral("debug"));
        enter(child<QLineEdit>(window, "lineAzimutOffset"), QStringLiteral("east"));

        QFile file(dir.file(QStringLiteral("vestrel.log")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.constLast(), QByteArray());  // every line ended
        const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z (.*)$"));
        QStringList texts;
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QRegularExpressionMatch match = stamp.match(QString::fromUtf8(lines.at(i)));
            QVERIFY2(match.hasMatch(), lines.at(i).constData());
            texts << match.captured(1);
        }
        QCOMPARE(texts, logLines(window));
        QVERIFY(texts.value(1).startsWith(QLatin1String("First start in this folder. ")));  // an empty folder
        texts.removeAt(1);
        QCOMPARE(texts, (QStringList {"No serial port available", "elevation offset error", "--debug mode enabled",
                                      "azimuth offset error"}));
    }
}

void LogFileTest::unwritableFileIsSaidOnce()
{
    WorkDir dir;
    QVERIFY(QDir().mkdir(dir.file(QStringLiteral("vestrel.log"))));
    Qt_Vestrel window;
    auto *elevation = child<QLineEdit>(window, "lineElevationOffset");
    enter(elevation, QStringLiteral("north"));
    enter(elevation, QStringLiteral("south"));

    const QStringList lines = logLines(window);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0), QStringLiteral("No serial port available"));
    QVERIFY2(lines.at(1).startsWith(QStringLiteral("log file %1 cannot be written: ")
                                        .arg(QDir(dir.path()).absoluteFilePath(QStringLiteral("vestrel.log")))),
             qPrintable(lines.at(1)));
    QVERIFY(lines.at(2).startsWith(QLatin1String("First start in this folder. ")));  // an empty folder
    QCOMPARE(lines.mid(3), (QStringList {"elevation offset error", "elevation offset error"}));
}

QTEST_MAIN(LogFileTest)
#include "tst_logfile.moc"

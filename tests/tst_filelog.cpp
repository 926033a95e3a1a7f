// SPDX-License-Identifier: GPL-3.0-or-later
#include "log/filelog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QList<QByteArray> lines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> result = file.readAll().split('\n');
    if (!result.isEmpty() && result.constLast().isEmpty())
        result.removeLast();
    return result;
}

const QDateTime noon(QDate(2024, 3, 9), QTime(12, 0, 1, 25), Qt::UTC);

} // namespace

class FileLogTest : public QObject
{
    Q_OBJECT

private slots:
    void lineLayout_data();
    void lineLayout();
    void eachMessageIsOnDiskAtOnce();
    void appendsToAnEarlierRun();
    void rotatesWithinItsBound();
    void unwritableFileFailsAndRecovers();

private:
    QTemporaryDir m_dir;
};

void FileLogTest::lineLayout_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("plain") << "connected to /dev/ttyUSB0" << noon
                           << QByteArray("2024-03-09T12:00:01.025Z connected to /dev/ttyUSB0\n");
    QTest::newRow("local time stamped in UTC")
        << "x" << QDateTime(QDate(2024, 3, 9), QTime(13, 0, 1, 25), Qt::OffsetFromUTC, 3600)
        << QByteArray("2024-03-09T12:00:01.025Z x\n");
    QTest::newRow("line breaks stay in the line") << "Port A data received (4 bytes): OK\r\n" << noon
                                                  << QByteArray("2024-03-09T12:00:01.025Z Port A data received "
                                                                "(4 bytes): OK\\r\\n\n");
    QTest::newRow("empty") << QString() << noon << QByteArray("2024-03-09T12:00:01.025Z \n");
    QTest::newRow("utf-8") << QString::fromUtf8("Stra\xc3\x9f" "e") << noon
                           << QByteArray("2024-03-09T12:00:01.025Z Stra\xc3\x9f" "e\n");
}

void FileLogTest::lineLayout()
{
    QFETCH(QString, message);
    QFETCH(QDateTime, when);
    QFETCH(QByteArray, line);
    QCOMPARE(FileLog::line(message, when), line);
}

void FileLogTest::eachMessageIsOnDiskAtOnce()
{
    const QString path = m_dir.filePath(QStringLiteral("flush.log"));
    FileLog log(path);
    QCOMPARE(log.path(), QFileInfo(path).absoluteFilePath());
    for (int i = 0; i < 3; ++i) {
        QVERIFY(log.write(QStringLiteral("message %1").arg(i), noon));
        // Read by another file object while the log stays open: nothing waits in a buffer.
        QCOMPARE(lines(path).size(), i + 1);
        QCOMPARE(lines(path).constLast(), "2024-03-09T12:00:01.025Z message " + QByteArray::number(i));
    }
}

void FileLogTest::appendsToAnEarlierRun()
{
    const QString path = m_dir.filePath(QStringLiteral("runs.log"));
    {
        FileLog first(path);
        QVERIFY(first.write(QStringLiteral("first run"), noon));
    }
    FileLog second(path);
    QVERIFY(second.write(QStringLiteral("second run"), noon));
    QCOMPARE(lines(path).size(), 2);
    QVERIFY(lines(path).at(0).endsWith("first run"));
}

void FileLogTest::rotatesWithinItsBound()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vestrel.log"));
    const qint64 bound = 400;
    FileLog log(path, bound, 3);
    const int count = 200;
    for (int i = 0; i < count; ++i)
        QVERIFY(log.write(QStringLiteral("message %1").arg(i, 4, 10, QChar('0')), noon));

    QStringList names = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    QCOMPARE(names, (QStringList {"vestrel.log", "vestrel.log.1", "vestrel.log.2"}));
    // Oldest file first, each within the bound, the messages in order without a gap.
    QList<QByteArray> all;
    for (const char *name : {"vestrel.log.2", "vestrel.log.1", "vestrel.log"}) {
        QVERIFY(QFileInfo(dir.filePath(QLatin1String(name))).size() <= bound);
        all += lines(dir.filePath(QLatin1String(name)));
    }
    QCOMPARE(all.constLast(), QByteArray("2024-03-09T12:00:01.025Z message 0199"));
    const int first = all.constFirst().right(4).toInt();
    QVERIFY(first > 0);
    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(all.at(i).right(4).toInt(), first + i);
}

void FileLogTest::unwritableFileFailsAndRecovers()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vestrel.log"));
    // A folder where the file should be: nothing can be written there.
    QVERIFY(QDir().mkdir(path));
    FileLog log(path);
    QVERIFY(!log.write(QStringLiteral("lost 1"), noon));
    QVERIFY(!log.errorString().isEmpty());
    QVERIFY(!log.write(QStringLiteral("lost 2"), noon));

    QVERIFY(QDir().rmdir(path));
    QVERIFY(log.write(QStringLiteral("back"), noon));
    QCOMPARE(lines(path),
             (QList<QByteArray> {"2024-03-09T12:00:01.025Z (2 messages could not be written to this file)",
                                 "2024-03-09T12:00:01.025Z back"}));
}

QTEST_GUILESS_MAIN(FileLogTest)
#include "tst_filelog.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Faults in the two files the station reads: the tracking data file (replaced,
// emptied, churned by another process) and store.cfg (unwritable, damaged).
// The real window keeps answering through each, and works normally once the
// file is sound again.

#include "trackingstation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace windowtesting;
using namespace faulttesting;

namespace {

constexpr int maxLagMs = 100;
const char rewriteSwitch[] = "--rewrite-tracking-file";

// The outside tracking program at its most hurried: truncates and rewrites
// the file every 2 ms, alternating between two positions, until killed.
int rewriteForever(const char *path)
{
    const QByteArray contents[2] = {trackLine(140.5, 30.5, 0, 300), trackLine(141.5, 31.5, 0, 400)};
    for (unsigned i = 0;; ++i) {
        QFile file(QString::fromLocal8Bit(path));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(contents[i % 2]);
        file.close();
        usleep(2000);
    }
}

QStringList storeLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class tst_FileFaults : public QObject
{
    Q_OBJECT

private slots:
    void trackingFileFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");  // logged during the fault; empty: none required
        QTest::newRow("deleted") << "deleted" << "";
        QTest::newRow("truncated") << "truncated" << "wrong file";
        QTest::newRow("rewritten every 2 ms by another process") << "churned" << "";
        QTest::newRow("huge sparse file") << "sparse" << "azimuth Moon error";
        QTest::newRow("a directory") << "directory" << "File read error";
        QTest::newRow("a named pipe") << "pipe" << "File read error";
        QTest::newRow("unreadable") << "unreadable" << "File read error";
    }

    void trackingFileFaults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        FaultStation s;
        QTimer cycles;
        startTracking(s, cycles);
        converge(s, 100, 10, 500);
        const QString path = s.dataPath();
        const QByteArray local = QFile::encodeName(path);

        LagProbe probe;
        Meter meter;
        QProcess writer;
        std::unique_ptr<PermissionChecks> checks;
        QFile::remove(path);
        if (fault == QLatin1String("truncated")) {
            s.writeData({});
        } else if (fault == QLatin1String("churned")) {
            writer.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(rewriteSwitch), path});
            QVERIFY(writer.waitForStarted());
        } else if (fault == QLatin1String("sparse")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(64) << 30));  // 64 GiB of nothing
        } else if (fault == QLatin1String("directory")) {
            QVERIFY(QDir().mkdir(path));
        } else if (fault == QLatin1String("pipe")) {
            QCOMPARE(mkfifo(local.constData(), 0600), 0);
        } else if (fault == QLatin1String("unreadable")) {
            s.writeData(trackLine(150, 40, 0, 0));
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            checks = std::make_unique<PermissionChecks>();
        }
        QTest::qWait(2000);
        if (!message.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(s.logged(message), settleMs);

        // Sound again: tracking goes on by itself.
        if (writer.state() != QProcess::NotRunning) {
            writer.kill();
            QVERIFY(writer.waitForFinished());
        }
        checks.reset();
        if (QFileInfo(path).isDir())
            QVERIFY(QDir().rmdir(path));
        else
            QFile::remove(path);
        converge(s, 120.5, 20.25, -700);

        QVERIFY2(probe.maxLagMs() < maxLagMs, qPrintable(QStringLiteral("event loop held %1 ms").arg(probe.maxLagMs())));
        QVERIFY2(meter.cpuShare() < 0.8, qPrintable(QStringLiteral("CPU share %1").arg(meter.cpuShare())));
        QVERIFY2(meter.growthMb() < 16.0, qPrintable(QStringLiteral("grew %1 MB").arg(meter.growthMb())));
        qInfo("lag %lld ms, CPU share %.2f, growth %.1f MB", probe.maxLagMs(), meter.cpuShare(), meter.growthMb());
    }

    void storeFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("read-only") << "read-only";
        QTest::newRow("a directory") << "directory";
        QTest::newRow("binary junk") << "junk";
        QTest::newRow("over-long lines") << "long lines";
    }

    // The window starts on the damaged file, saves into it, and once the
    // file can be written again saves nine whole lines.
    void storeFaults()
    {
        QFETCH(QString, fault);
        WorkDir dir;
        const QString store = dir.file(QStringLiteral("store.cfg"));
        const QString longFolder = QStringLiteral("/data/") + QString(3000, QLatin1Char('x'));
        const QStringList custom {QStringLiteral("filename: '%1'").arg(longFolder), "repetition time: '7'",
                                  "elevation offset: '1.5'",                       "azimut offset: '-2'",
                                  "message delay: '300'",                          "azimuth rounding: '0.5'",
                                  "elevation rounding: '0.25'",                    "azimuth parking: '180'",
                                  "elevation parking: '45'"};
        std::unique_ptr<PermissionChecks> checks;
        if (fault == QLatin1String("directory")) {
            QVERIFY(QDir().mkdir(store));
        } else {
            QFile file(store);
            QVERIFY(file.open(QIODevice::WriteOnly));
            if (fault == QLatin1String("junk"))
                file.write(noise(64 * 1024, 3) + QByteArray(5000, '\n') + QByteArray(100000, '\''));
            else
                file.write(custom.join(QLatin1Char('\n')).toLocal8Bit() + '\n');
            file.close();
            if (fault == QLatin1String("read-only")) {
                QVERIFY(QFile::setPermissions(store, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
                checks = std::make_unique<PermissionChecks>();
            }
        }
        const QStringList before = storeLines(store);

        LagProbe probe;
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({});
        auto window = std::make_unique<Qt_Vestrel>();
        auto *repetition = child<QLineEdit>(*window, "lineRepetitionTime");
        auto *confirm = child<QPushButton>(*window, "buttonTimerSettingConfirm");
        if (fault == QLatin1String("long lines")) {
            // Each value stays on its own line, however long the one before.
            QCOMPARE(repetition->text(), QStringLiteral("7"));
            QCOMPARE(child<QLineEdit>(*window, "lineElevationOffset")->text(), QStringLiteral("1.5"));
        }
        repetition->setText(QStringLiteral("9"));
        confirm->click();
        const bool unwritable = fault == QLatin1String("read-only") || fault == QLatin1String("directory");
        if (unwritable) {
            // The operator hears once that settings are not kept.
            confirm->click();
            QCOMPARE(logLines(*window).filter(QStringLiteral("settings not saved: ")).size(), 1);
        }
        window.reset();
        QVERIFY2(probe.maxLagMs() < maxLagMs, qPrintable(QStringLiteral("event loop held %1 ms").arg(probe.maxLagMs())));

        if (unwritable)
            QCOMPARE(storeLines(store), before);  // what cannot be written is left alone
        if (fault == QLatin1String("long lines")) {
            QStringList expected = custom;
            expected[1] = QStringLiteral("repetition time: '9'");
            QCOMPARE(storeLines(store), expected);
        }

        // Sound again: a save writes nine whole lines.
        checks.reset();
        QFile::setPermissions(store, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QDir().rmdir(store);
        window = std::make_unique<Qt_Vestrel>();
        repetition = child<QLineEdit>(*window, "lineRepetitionTime");
        repetition->setText(QStringLiteral("11"));
        child<QPushButton>(*window, "buttonTimerSettingConfirm")->click();
        const QStringList lines = storeLines(store);
        QCOMPARE(lines.size(), 9);
        QCOMPARE(lines.at(1), QStringLiteral("repetition time: '11'"));
        window.reset();
        const QStringList leftovers = QDir(dir.path()).entryList({QStringLiteral("store.cfg*")},
                                                                 QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(leftovers, QStringList {QStringLiteral("store.cfg")});
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], rewriteSwitch) == 0)
        return rewriteForever(argv[2]);
    QApplication app(argc, argv);
    tst_FileFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filefaults.moc"

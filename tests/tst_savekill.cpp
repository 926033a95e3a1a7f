// SPDX-License-Identifier: GPL-3.0-or-later
// store.cfg when the program is killed in the middle of saving: a child
// process saves in a loop and is sent SIGKILL at random moments, again and
// again. After every kill the file holds the old nine lines or the new ones,
// and temporary files do not pile up.

#include "settings/settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

const char saveSwitch[] = "--save-forever";

// Every save changes two lines; each line holds its default or one of these.
int saveForever(const char *folder)
{
    if (!QDir::setCurrent(QString::fromLocal8Bit(folder)))
        return 2;
    SettingsFile settings;
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    for (unsigned i = 0;; ++i) {
        settings.writeRepetitionTime(i % 2 ? 5 : 7);
        settings.writeAzimuthParking(i % 2 ? 180 : 270);
    }
}

const QStringList keys {"filename", "repetition time", "elevation offset", "azimut offset", "message delay",
                        "azimuth rounding", "elevation rounding", "azimuth parking", "elevation parking"};
const QList<QStringList> allowedValues {{"C:/"}, {"2", "5", "7"}, {"0"},        {"0"},          {"200"},
                                        {"0.1"}, {"0.1"},          {"90", "180", "270"}, {"10"}};

// Empty when the file is whole, otherwise what is wrong with it.
QString damage(const QByteArray &content)
{
    QStringList lines = QString::fromLocal8Bit(content).split(QLatin1Char('\n'));
    if (lines.size() != 10 || !lines.last().isEmpty())
        return QStringLiteral("not nine lines: %1").arg(QString::fromLocal8Bit(content.toHex()));
    for (int i = 0; i < 9; ++i) {
        bool fits = false;
        for (const QString &value : allowedValues.at(i))
            fits = fits || lines.at(i) == QStringLiteral("%1: '%2'").arg(keys.at(i), value);
        if (!fits)
            return QStringLiteral("line %1 is \"%2\"").arg(i).arg(lines.at(i));
    }
    return {};
}

} // namespace

class tst_SaveKill : public QObject
{
    Q_OBJECT

private slots:
    void killedWhileSaving_data()
    {
        QTest::addColumn<bool>("fromNothing");
        QTest::newRow("store.cfg there") << false;
        QTest::newRow("first start, no store.cfg yet") << true;
    }

    void killedWhileSaving()
    {
        QFETCH(bool, fromNothing);
        QTemporaryDir dir;
        const QString store = dir.filePath(QStringLiteral("store.cfg"));
        QRandomGenerator random(fromNothing ? 11 : 12);
        int killedAfterStart = 0;
        for (int round = 0; round < 60; ++round) {
            if (fromNothing)
                QFile::remove(store);
            QProcess saver;
            saver.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(saveSwitch), dir.path()});
            QVERIFY(saver.waitForStarted());
            // Killed from the first instants of a run up to well into its saves.
            const int killAfterMs = int(random.bounded(25));
            if (killAfterMs > 2) {
                QVERIFY(saver.waitForReadyRead());
                QTest::qWait(killAfterMs);
                ++killedAfterStart;
            }
            saver.kill();
            QVERIFY(saver.waitForFinished());

            QFile file(store);
            if (file.open(QIODevice::ReadOnly)) {
                const QString wrong = damage(file.readAll());
                QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("round %1: %2").arg(round).arg(wrong)));
            } else {
                QVERIFY(fromNothing);  // nothing was there before either
            }
            // At most what the last kill left: each run clears what earlier ones left.
            const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
            QVERIFY2(files.size() <= 2, qPrintable(files.join(QLatin1Char(' '))));
            // Under a name of the store's own, which no file of the operator's has.
            const QStringList foreign = QStringList(files).filter(
                QRegularExpression(QStringLiteral("^(?!store\\.cfg$|store\\.cfg\\.vestrel-tmp-[A-Za-z0-9]{6}$)")));
            QVERIFY2(foreign.isEmpty(), qPrintable(foreign.join(QLatin1Char(' '))));
        }
        QVERIFY(killedAfterStart > 30);

        // The next run saves once and leaves only store.cfg behind.
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            SettingsFile settings;
            settings.writeRepetitionTime(5);
        }
        QDir::setCurrent(previous);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList {"store.cfg"});
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], saveSwitch) == 0)
        return saveForever(argv[2]);
    QCoreApplication app(argc, argv);
    tst_SaveKill test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savekill.moc"

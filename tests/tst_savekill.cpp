// SPDX-License-Identifier: GPL-3.0-or-later
// store.cfg and the settings files beside it when the program is killed in
// the middle of saving: a child process saves in a loop and is sent SIGKILL
// at random moments, again and again. After every kill the file holds the
// old content or the new, and temporary files do not pile up.

#include "remote/remotesettings.h"
#include "settings/dopplersettings.h"
#include "settings/networksettings.h"
#include "settings/rotatorgeometry.h"
#include "settings/serversettings.h"
#include "settings/settingsfile.h"
#include "settings/sourcesettings.h"
#include "settings/wsjtxsettings.h"

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
const char saveFileSwitch[] = "--save-file-forever";

// Each file the station writes beside store.cfg, read as at start and
// written with one of two values (neither the defaults, which a file
// not there yet is not written for).
struct SettingsFileKind {
    const char *name;
    std::function<void(const QString &path)> read;
    std::function<bool(const QString &path, bool second)> write;
};

template <typename Settings>
SettingsFileKind kind(const char *name, std::function<void(Settings &, bool)> vary)
{
    return {name, [](const QString &path) { Settings::read(path); },
            [vary](const QString &path, bool second) {
                Settings settings;
                vary(settings, second);
                return settings.write(path);
            }};
}

const QList<SettingsFileKind> &settingsFiles()
{
    static const QList<SettingsFileKind> files {
        kind<NetworkSettings>("network.cfg",
                              [](NetworkSettings &s, bool second) {
                                  s.rigctld = true;
                                  s.rigctldAddress = second ? QStringLiteral("shack-pi:4532") : QStringLiteral("localhost");
                              }),
        kind<DopplerSettings>("doppler.cfg", [](DopplerSettings &s, bool second) { s.skedMHz = second ? 1296.1 : 2304.1; }),
        kind<RotatorGeometry>("geometry.cfg",
                              [](RotatorGeometry &s, bool second) {
                                  s.azimuthRange = second ? RotatorGeometry::AzimuthRange::Minus180To180
                                                          : RotatorGeometry::AzimuthRange::From0To360;
                              }),
        kind<ServerSettings>("servers.cfg", [](ServerSettings &s, bool second) {
                                 s.rigServer = true;
                                 s.rotServer = second;
                             }),
        kind<WsjtxSettings>("wsjtx.cfg",
                            [](WsjtxSettings &s, bool second) {
                                s.follow = true;
                                s.address = second ? QStringLiteral("224.0.0.1") : QStringLiteral("127.0.0.1");
                            }),
        kind<SourceSettings>("source.cfg", [](SourceSettings &s, bool second) { s.frequencyMHz = second ? 1296.1 : 2304.1; }),
        kind<RemoteSettings>("remote.cfg", [](RemoteSettings &s, bool second) { s.listenPort = second ? 8474 : 8473; }),
    };
    return files;
}

const SettingsFileKind *settingsFile(const QString &name)
{
    for (const SettingsFileKind &file : settingsFiles())
        if (name == QLatin1String(file.name))
            return &file;
    return nullptr;
}

// Read as the station reads it at start, then saved over and over.
int saveFileForever(const char *folder, const char *name)
{
    const SettingsFileKind *file = settingsFile(QString::fromLatin1(name));
    if (!file || !QDir::setCurrent(QString::fromLocal8Bit(folder)))
        return 2;
    file->read(QString::fromLatin1(name));
    std::fputs("saving\n", stdout);
    std::fflush(stdout);
    for (unsigned i = 0;; ++i)
        file->write(QString::fromLatin1(name), i % 2);
}

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

    void settingsFilesKilledWhileSaving_data()
    {
        QTest::addColumn<QString>("name");
        for (const SettingsFileKind &file : settingsFiles())
            QTest::newRow(file.name) << QString::fromLatin1(file.name);
    }

    void settingsFilesKilledWhileSaving()
    {
        QFETCH(QString, name);
        const SettingsFileKind *file = settingsFile(name);
        QVERIFY(file);
        // The two whole contents the file may hold.
        QTemporaryDir written;
        QByteArrayList whole;
        for (bool second : {false, true}) {
            QVERIFY(file->write(written.filePath(name), second));
            QFile saved(written.filePath(name));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            whole << saved.readAll();
        }
        QTemporaryDir dir;
        // A file of the operator's that looks like a temporary one of any other kind stays.
        const QString backup = dir.filePath(name + QStringLiteral(".backup"));
        QVERIFY(QFile(backup).open(QIODevice::WriteOnly));
        QRandomGenerator random(qHash(name));
        int leftovers = 0;
        for (int round = 0; round < 40; ++round) {
            QProcess saver;
            saver.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(saveFileSwitch), dir.path(), name});
            QVERIFY(saver.waitForStarted());
            QVERIFY(saver.waitForReadyRead());
            QTest::qWait(int(random.bounded(25)));
            saver.kill();
            QVERIFY(saver.waitForFinished());

            QFile saved(dir.filePath(name));
            if (saved.open(QIODevice::ReadOnly))
                QVERIFY2(whole.contains(saved.readAll()), qPrintable(QStringLiteral("round %1: damaged").arg(round)));
            // At most what the last kill left: each start clears what earlier ones left.
            const QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
            const QStringList temporary
                = QStringList(files).filter(QRegularExpression(QStringLiteral("^%1\\.vestrel-tmp-[A-Za-z0-9]{6}$")
                                                                  .arg(QRegularExpression::escape(name))));
            leftovers += int(temporary.size());
            QStringList foreign = files;
            for (const QString &known : temporary + QStringList {name, name + QStringLiteral(".backup")})
                foreign.removeAll(known);
            QVERIFY2(temporary.size() <= 1 && foreign.isEmpty(),
                     qPrintable(QStringLiteral("round %1: %2").arg(round).arg(files.join(QLatin1Char(' ')))));
        }
        qInfo("%d kills of 40 left a temporary file", leftovers);
        // The next start leaves the file and the operator's own.
        file->read(dir.filePath(name));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList {name, name + QStringLiteral(".backup")}));
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], saveSwitch) == 0)
        return saveForever(argv[2]);
    if (argc == 4 && qstrcmp(argv[1], saveFileSwitch) == 0)
        return saveFileForever(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    tst_SaveKill test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savekill.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QByteArray defaultContent = "filename: 'C:/'\n"
                                  "repetition time: '2'\n"
                                  "elevation offset: '0'\n"
                                  "azimut offset: '0'\n"
                                  "message delay: '200'\n"
                                  "azimuth rounding: '0.1'\n"
                                  "elevation rounding: '0.1'\n"
                                  "azimuth parking: '90'\n"
                                  "elevation parking: '10'\n";

QByteArray contentOf(const QString &path = QStringLiteral("store.cfg"))
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void setContent(const QByteArray &content, const QString &path = QStringLiteral("store.cfg"))
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// The default file with line n replaced.
QByteArray withLine(int n, const QByteArray &line)
{
    QList<QByteArray> lines = defaultContent.split('\n');
    lines[n] = line;
    return lines.join('\n');
}

// Every read, as a variant of the type that read returns.
QVariant readValue(SettingsFile &store, int line)
{
    switch (line) {
    case 0: return store.readFilename();
    case 1: return store.readRepetitionTime();
    case 2: return store.readElevationOffset();
    case 3: return store.readAzimutOffset();
    case 4: return store.readMessageDelay();
    case 5: return store.readAzimuthRounding();
    case 6: return store.readElevationRounding();
    case 7: return store.readAzimuthParking();
    case 8: return store.readElevationParking();
    }
    return QVariant();
}

// What the default file reads as (its numbers are taken at single precision),
// and what a read returns when the store cannot be read at all.
const QVariant fileDefaults[9] = {QStringLiteral("C:/"), 2, 0.0f, 0.0f, 200,
                                  double(0.1f), double(0.1f), 90.0, 10.0};
const QVariant fallbacks[9] = {QStringLiteral("error"), 2, 0.0f, 0.0f, 200, 0.1, 0.1, 90.0, 10.0};

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

// Runs work in a child process as the unprivileged user "nobody" (root
// ignores file permissions), in folder; the child's exit code and what it
// wrote to its report come back. Without root, runs it here.
int runUnprivileged(const QString &folder, const std::function<int(QByteArray &)> &work, QByteArray &report)
{
    if (!runningAsRoot()) {
        const QString here = QDir::currentPath();
        QDir::setCurrent(folder);
        const int code = work(report);
        QDir::setCurrent(here);
        return code;
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const passwd *nobody = ::getpwnam("nobody");
        if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0
            || !QDir::setCurrent(folder))
            ::_exit(100);
        QByteArray text;
        const int code = work(text);
        if (::write(pipeFds[1], text.constData(), size_t(text.size())) != text.size())
            ::_exit(101);
        ::_exit(code);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes path usable by "nobody" when the test runs as root.
void giveToNobody(const QString &path)
{
    if (const passwd *nobody = runningAsRoot() ? ::getpwnam("nobody") : nullptr)
        QVERIFY(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
}

} // namespace

class SettingsFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void firstStartWritesDefaultFile();
    void existingFileIsLeftAlone();
    void readsValue_data();
    void readsValue();
    void movedLineReadsAsDefault();
    void writesValueText_data();
    void writesValueText();
    void writeReplacesOnlyItsLine();
    void writeCutsLongFileToNineLines();
    void windowsLineEndingsAreReadAndDropped();
    void storeThatIsADirectoryGivesDefaults();
    void readOnlyStoreGivesDefaultsAndKeepsFile();
    void storeDeletedWhileRunning();
    void failedRewriteKeepsFile();
    void longLinesNeverShiftTheOthers_data();
    void longLinesNeverShiftTheOthers();
    void otherLinesKeepTheirBytes();
    void unwritableFolderRewritesFileInPlace();
    void failureToSaveIsReportedOnce();
    void folderWithLineBreakIsNotSaved();
    void onlyOurLeftoversAreCleared_data();
    void onlyOurLeftoversAreCleared();
    void saveKeepsPermissionsAndLink_data();
    void saveKeepsPermissionsAndLink();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_previousDir;
};

void SettingsFileTest::init()
{
    m_previousDir = QDir::currentPath();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void SettingsFileTest::cleanup()
{
    QDir::setCurrent(m_previousDir);
    QFile::setPermissions(m_dir->filePath("store.cfg"), QFile::ReadOwner | QFile::WriteOwner);
    m_dir.reset();
}

void SettingsFileTest::firstStartWritesDefaultFile()
{
    SettingsFile store;
    QCOMPARE(contentOf(), defaultContent);
    for (int line = 0; line < 9; ++line)
        QCOMPARE(readValue(store, line), fileDefaults[line]);
    QCOMPARE(store.readLine(9), QString());
    QCOMPARE(store.readLine(65535), QString());
    QCOMPARE(contentOf(), defaultContent);
}

void SettingsFileTest::existingFileIsLeftAlone()
{
    setContent("repetition time: '5'\n");
    SettingsFile store;
    QCOMPARE(contentOf(), QByteArray("repetition time: '5'\n"));
}

void SettingsFileTest::readsValue_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("integer") << 1 << QByteArray("repetition time: '5'") << QVariant(5);
    QTest::newRow("no space after colon") << 1 << QByteArray("repetition time:'5'") << QVariant(2);
    QTest::newRow("key case differs") << 1 << QByteArray("Repetition time: '5'") << QVariant(2);
    QTest::newRow("unit after number") << 1 << QByteArray("repetition time: '5s'") << QVariant(2);
    QTest::newRow("empty value") << 4 << QByteArray("message delay: ''") << QVariant(200);
    QTest::newRow("no apostrophes") << 4 << QByteArray("message delay: 300") << QVariant(200);
    QTest::newRow("empty line") << 4 << QByteArray() << QVariant(200);
    QTest::newRow("closing apostrophe missing") << 4 << QByteArray("message delay: '300")
                                                << QVariant(300);
    QTest::newRow("folder with apostrophe") << 0 << QByteArray("filename: 'C:/O'Brien/data'")
                                            << QVariant(QStringLiteral("C:/O"));
    QTest::newRow("empty folder") << 0 << QByteArray("filename: ''") << QVariant(QString(""));
    QTest::newRow("damaged folder") << 0 << QByteArray("filename 'C:/x'")
                                    << QVariant(QStringLiteral("error"));
    QTest::newRow("offset") << 2 << QByteArray("elevation offset: '-1.5'") << QVariant(-1.5f);
    QTest::newRow("offset not a number") << 2 << QByteArray("elevation offset: 'abc'")
                                         << QVariant(0.0f);
    QTest::newRow("offset key spelled with h") << 3 << QByteArray("azimuth offset: '3'")
                                               << QVariant(0.0f);
    QTest::newRow("azimut offset") << 3 << QByteArray("azimut offset: '3'") << QVariant(3.0f);
    QTest::newRow("rounding") << 5 << QByteArray("azimuth rounding: '0.25'") << QVariant(0.25);
    QTest::newRow("rounding at single precision") << 6 << QByteArray("elevation rounding: '0.3'")
                                                  << QVariant(double(0.3f));
    QTest::newRow("rounding beyond float range") << 6 << QByteArray("elevation rounding: '1e40'")
                                                 << QVariant(0.1);
    QTest::newRow("parking") << 7 << QByteArray("azimuth parking: '-360'") << QVariant(-360.0);
    QTest::newRow("parking at single precision")
        << 8 << QByteArray("elevation parking: '10.123456789'") << QVariant(double(10.123456789f));
}

void SettingsFileTest::readsValue()
{
    QFETCH(int, line);
    QFETCH(QByteArray, text);
    QFETCH(QVariant, expected);

    setContent(withLine(line, text));
    SettingsFile store;
    QCOMPARE(readValue(store, line), expected);
    // A damaged line spoils only its own value.
    for (int other = 0; other < 9; ++other)
        if (other != line)
            QCOMPARE(readValue(store, other), fileDefaults[other]);
}

void SettingsFileTest::movedLineReadsAsDefault()
{
    // Values are found by position; the key only confirms it.
    setContent(withLine(4, "repetition time: '7'").replace("repetition time: '2'",
                                                               "message delay: '300'"));
    SettingsFile store;
    QCOMPARE(store.readLine(1), QStringLiteral("message delay: '300'"));
    QCOMPARE(store.readRepetitionTime(), 2);
    QCOMPARE(store.readMessageDelay(), 200);
}

void SettingsFileTest::writesValueText_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("folder as given") << 0 << QVariant(QStringLiteral("/home/op/moon data"))
                                     << QByteArray("filename: '/home/op/moon data'");
    const QString umlaut = QStringLiteral("C:/M\u00fcller");
    QTest::newRow("folder in local encoding")
        << 0 << QVariant(umlaut) << ("filename: '" + umlaut.toLocal8Bit() + "'");
    QTest::newRow("seconds") << 1 << QVariant(5u) << QByteArray("repetition time: '5'");
    QTest::newRow("offset widened") << 2 << QVariant(0.1f) << QByteArray("elevation offset: '0.1'");
    QTest::newRow("negative offset") << 3 << QVariant(-2.5f) << QByteArray("azimut offset: '-2.5'");
    QTest::newRow("milliseconds") << 4 << QVariant(70000u) << QByteArray("message delay: '70000'");
    QTest::newRow("six digits") << 5 << QVariant(12.345678) << QByteArray("azimuth rounding: '12.3457'");
    QTest::newRow("small number") << 6 << QVariant(0.00001) << QByteArray("elevation rounding: '1e-05'");
    QTest::newRow("whole number") << 7 << QVariant(90.0) << QByteArray("azimuth parking: '90'");
    QTest::newRow("fraction") << 8 << QVariant(10.5) << QByteArray("elevation parking: '10.5'");
}

void SettingsFileTest::writesValueText()
{
    QFETCH(int, line);
    QFETCH(QVariant, value);
    QFETCH(QByteArray, written);

    SettingsFile store;
    switch (line) {
    case 0: store.writeFilename(value.toString()); break;
    case 1: store.writeRepetitionTime(value.toUInt()); break;
    case 2: store.writeElevationOffset(value.toFloat()); break;
    case 3: store.writeAzimutOffset(value.toFloat()); break;
    case 4: store.writeMessageDelay(value.toUInt()); break;
    case 5: store.writeAzimuthRounding(value.toDouble()); break;
    case 6: store.writeElevationRounding(value.toDouble()); break;
    case 7: store.writeAzimuthParking(value.toDouble()); break;
    case 8: store.writeElevationParking(value.toDouble()); break;
    }
    QCOMPARE(contentOf(), withLine(line, written));
    if (line == 0 || line == 2 || line == 3)
        QCOMPARE(readValue(store, line), value);
}

void SettingsFileTest::writeReplacesOnlyItsLine()
{
    const QByteArray before = withLine(0, "filename: '/data'").replace("'200'", "'350'");
    setContent(before);
    SettingsFile store;
    store.writeAzimuthRounding(0.25);
    QCOMPARE(contentOf(), QByteArray(before).replace("azimuth rounding: '0.1'",
                                                     "azimuth rounding: '0.25'"));
    QCOMPARE(store.readAzimuthRounding(), 0.25);
    QCOMPARE(store.readMessageDelay(), 350);
}

void SettingsFileTest::writeCutsLongFileToNineLines()
{
    setContent(defaultContent + "extra 1\nextra 2\nextra 3\n");
    SettingsFile store;
    store.writeMessageDelay(300);
    QCOMPARE(contentOf(), withLine(4, "message delay: '300'"));
}

void SettingsFileTest::windowsLineEndingsAreReadAndDropped()
{
    const QByteArray custom = withLine(1, "repetition time: '7'");
    setContent(QByteArray(custom).replace("\n", "\r\n"));
    SettingsFile store;
    QCOMPARE(store.readLine(1), QStringLiteral("repetition time: '7'"));
    QCOMPARE(store.readFilename(), QStringLiteral("C:/"));
    QCOMPARE(store.readRepetitionTime(), 7);
    QCOMPARE(store.readElevationParking(), 10.0);

    store.writeAzimuthParking(45);
    QCOMPARE(contentOf(), QByteArray(custom).replace("'90'", "'45'"));
}

void SettingsFileTest::storeThatIsADirectoryGivesDefaults()
{
    // A store that cannot be opened for writing, even by root.
    QVERIFY(QDir().mkdir("store.cfg"));
    SettingsFile store;
    QVERIFY(QFileInfo("store.cfg").isDir());
    QCOMPARE(store.readLine(1), QStringLiteral("error"));
    for (int line = 0; line < 9; ++line)
        QCOMPARE(readValue(store, line), fallbacks[line]);
    store.writeRepetitionTime(9);
    QVERIFY(QFileInfo("store.cfg").isDir());
    QVERIFY(QDir("store.cfg").isEmpty());
}

void SettingsFileTest::readOnlyStoreGivesDefaultsAndKeepsFile()
{
    if (runningAsRoot())
        QSKIP("root may write to a read-only file; the directory case covers root");
    const QByteArray custom = withLine(1, "repetition time: '7'");
    setContent(custom);
    QVERIFY(QFile::setPermissions("store.cfg", QFile::ReadOwner));
    SettingsFile store;
    QCOMPARE(store.readRepetitionTime(), 2);
    store.writeRepetitionTime(9);
    QCOMPARE(contentOf(), custom);
}

void SettingsFileTest::storeDeletedWhileRunning()
{
    SettingsFile store;
    QVERIFY(QFile::remove("store.cfg"));
    QCOMPARE(store.readMessageDelay(), 200);
    QCOMPARE(contentOf(), QByteArray());

    QVERIFY(QFile::remove("store.cfg"));
    store.writeMessageDelay(300);
    QCOMPARE(contentOf(), QByteArray("\n\n\n\nmessage delay: '300'\n\n\n\n\n"));
    QCOMPARE(store.readMessageDelay(), 300);
    QCOMPARE(store.readRepetitionTime(), 2);
}

void SettingsFileTest::failedRewriteKeepsFile()
{
    // A name of the longest length the file system allows: the file itself
    // opens, but no temporary name can be derived from it, for root too.
    const QString path = QString(255, QLatin1Char('s'));
    setContent(defaultContent, path);
    SettingsFile store(path);
    QCOMPARE(contentOf(path), defaultContent);
    store.writeRepetitionTime(9);
    QCOMPARE(contentOf(path), defaultContent);
    QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{path});
}

void SettingsFileTest::longLinesNeverShiftTheOthers_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("1023") << 1023;
    QTest::newRow("1024") << 1024;
    QTest::newRow("1119, a deep folder") << 1119;
    QTest::newRow("5000") << 5000;
}

void SettingsFileTest::longLinesNeverShiftTheOthers()
{
    QFETCH(int, length);
    const QString folder = QStringLiteral("/") + QString(length - 1, QLatin1Char('d'));
    SettingsFile store;
    store.writeRepetitionTime(7);
    store.writeFilename(folder);
    store.writeMessageDelay(350);
    store.writeAzimuthRounding(0.5);
    store.writeElevationParking(20);

    QCOMPARE(store.readFilename(), folder);
    QCOMPARE(store.readRepetitionTime(), 7);
    QCOMPARE(store.readMessageDelay(), 350);
    QCOMPARE(store.readAzimuthRounding(), 0.5);
    QCOMPARE(store.readAzimuthParking(), 90.0);
    QCOMPARE(store.readElevationParking(), 20.0);
    const QByteArray content = contentOf();
    QCOMPARE(content.count('\n'), 9);
    QVERIFY(content.endsWith("elevation parking: '20'\n"));

    // A long line already in the file, not on line 0, is skipped whole too.
    setContent(withLine(2, "elevation offset: '" + QByteArray(length, '1') + "'"));
    QCOMPARE(store.readAzimutOffset(), 0.0f);
    QCOMPARE(store.readMessageDelay(), 200);
    QCOMPARE(store.readElevationParking(), 10.0);
}

void SettingsFileTest::otherLinesKeepTheirBytes()
{
    // A CR that belongs to a line's text, before the CR LF that ends it.
    const QByteArray before = withLine(8, "elevation parking: '12'\r\r");
    setContent(before);
    SettingsFile store;
    QCOMPARE(store.readLine(8), QStringLiteral("elevation parking: '12'\r"));
    store.writeMessageDelay(300);
    store.writeRepetitionTime(5);
    QCOMPARE(contentOf(), QByteArray(before).replace("'200'", "'300'").replace("'2'", "'5'"));
    QCOMPARE(store.readLine(8), QStringLiteral("elevation parking: '12'\r"));

    // Bytes that are not text in the local encoding come back unchanged.
    const QByteArray binary = withLine(0, "filename: '/data/\xff\xfe'");
    setContent(binary);
    store.writeMessageDelay(200);
    QCOMPARE(contentOf(), binary);
}

void SettingsFileTest::unwritableFolderRewritesFileInPlace()
{
    // The folder takes no temporary file, but store.cfg itself is writable.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                     | QFile::ExeOther));
    const QString path = folder.filePath(QStringLiteral("store.cfg"));
    setContent(defaultContent, path);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther
                                            | QFile::WriteOther));
    giveToNobody(path);

    QByteArray report;
    const int code = runUnprivileged(folder.path(), [](QByteArray &said) {
        SettingsFile store;
        store.setFailureReport([&said](const QString &text) { said += text.toUtf8(); });
        store.writeRepetitionTime(9);
        return store.readRepetitionTime() == 9 ? 0 : 1;
    }, report);
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(report, QByteArray());
    QCOMPARE(code, 0);
    QCOMPARE(contentOf(path), withLine(1, "repetition time: '9'"));
}

void SettingsFileTest::failureToSaveIsReportedOnce()
{
    QStringList said;
    {
        QVERIFY(QDir().mkdir("store.cfg"));
        SettingsFile store;
        store.setFailureReport([&said](const QString &text) { said << text; });
        store.writeRepetitionTime(9);
        store.writeMessageDelay(300);
        store.writeAzimuthParking(45);
        QCOMPARE(said, QStringList{QStringLiteral("settings not saved: store.cfg: Is a directory")});
        QVERIFY(QDir().rmdir("store.cfg"));
    }

    // A read-only file, for a user that root's rights do not cover.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path = folder.filePath(QStringLiteral("store.cfg"));
    setContent(defaultContent, path);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
    QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                     | QFile::ReadOther | QFile::WriteOther
                                                     | QFile::ExeOther));
    giveToNobody(path);
    QByteArray report;
    const int code = runUnprivileged(folder.path(), [](QByteArray &text) {
        SettingsFile store;
        store.setFailureReport([&text](const QString &said) { text += said.toUtf8() + '\n'; });
        store.writeRepetitionTime(9);
        store.writeMessageDelay(300);
        return 0;
    }, report);
    QCOMPARE(code, 0);
    QCOMPARE(report, QByteArray("settings not saved: store.cfg: Permission denied\n"));
    QCOMPARE(contentOf(path), defaultContent);
}

void SettingsFileTest::folderWithLineBreakIsNotSaved()
{
    QStringList said;
    SettingsFile store;
    store.setFailureReport([&said](const QString &text) { said << text; });
    store.writeFilename(QStringLiteral("/home/op/tracking"));
    store.writeFilename(QStringLiteral("/home/op/two\nlines"));
    store.writeMessageDelay(300);
    QCOMPARE(store.readFilename(), QStringLiteral("/home/op/tracking"));
    QCOMPARE(store.readMessageDelay(), 300);
    QCOMPARE(contentOf().count('\n'), 9);
    QCOMPARE(said, QStringList {QStringLiteral("settings not saved: store.cfg: a value cannot hold a line break")});
}

void SettingsFileTest::onlyOurLeftoversAreCleared_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("cleared");
    QTest::newRow("a save's own, killed before its rename") << "store.cfg.vestrel-tmp-a1B2c3" << true;
    QTest::newRow("the operator's backup") << "store.cfg.backup" << false;
    QTest::newRow("six characters after the name") << "store.cfg.Ab3xYz" << false;
    QTest::newRow("ours with more behind") << "store.cfg.vestrel-tmp-a1B2c3.old" << false;
    QTest::newRow("ours, shorter") << "store.cfg.vestrel-tmp-a1B2c" << false;
    QTest::newRow("another file's") << "network.cfg.vestrel-tmp-a1B2c3" << false;
}

void SettingsFileTest::onlyOurLeftoversAreCleared()
{
    QFETCH(QString, name);
    QFETCH(bool, cleared);
    for (const bool storeThere : {false, true}) {
        if (storeThere)
            setContent(withLine(1, "repetition time: '7'"));
        setContent("kept\n", name);
        SettingsFile store;
        store.writeMessageDelay(300);
        QCOMPARE(QFileInfo::exists(name), !cleared);
        QStringList expected {QStringLiteral("store.cfg")};
        if (!cleared)
            expected << name;
        expected.sort();
        QCOMPARE(QDir().entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name), expected);
        QFile::remove(name);
        QFile::remove(QStringLiteral("store.cfg"));
    }
}

void SettingsFileTest::saveKeepsPermissionsAndLink_data()
{
    QTest::addColumn<int>("permissions");
    QTest::addColumn<bool>("linked");
    QTest::newRow("0600") << 0600 << false;
    QTest::newRow("0664, wider than the umask") << 0664 << false;
    QTest::newRow("0640 behind a link") << 0640 << true;
}

// A save replaces the file, but the operator's choices about it stay: who may
// read it, and a link to where it really lives.
void SettingsFileTest::saveKeepsPermissionsAndLink()
{
    QFETCH(int, permissions);
    QFETCH(bool, linked);
    const mode_t previousMask = ::umask(022);
    QTemporaryDir elsewhere;
    const QString real = linked ? elsewhere.filePath(QStringLiteral("shared.cfg")) : QStringLiteral("store.cfg");
    setContent(defaultContent, real);
    QVERIFY(::chmod(QFile::encodeName(real).constData(), mode_t(permissions)) == 0);
    if (linked)
        QVERIFY(QFile::link(real, QStringLiteral("store.cfg")));
    {
        SettingsFile store;
        store.writeRepetitionTime(9);
    }
    ::umask(previousMask);
    QCOMPARE(contentOf(real), withLine(1, "repetition time: '9'"));
    QCOMPARE(QFileInfo(QStringLiteral("store.cfg")).isSymLink(), linked);
    struct stat saved {};
    QVERIFY(::stat(QFile::encodeName(real).constData(), &saved) == 0);
    QCOMPARE(int(saved.st_mode & 07777), permissions);
    QCOMPARE(QDir(QFileInfo(real).path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

QTEST_GUILESS_MAIN(SettingsFileTest)
#include "tst_settingsfile.moc"

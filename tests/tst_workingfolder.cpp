// SPDX-License-Identifier: GPL-3.0-or-later
// The working folder: the user's data folder when started from the menu, the
// current folder from a shell.
#include "startup/commandline.h"
#include "startup/workingfolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class WorkingFolderTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_previous = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(m_previous); }

    void enter_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<QString>("folder");  // under a fresh temporary folder; "" for none
        QTest::addColumn<bool>("entered");
        QTest::newRow("shell: stays, creates nothing") << false << "share/vestrel" << false;
        QTest::newRow("menu, first start: created") << true << "share/vestrel" << true;
        QTest::newRow("menu, folder there") << true << "existing" << true;
        QTest::newRow("menu, a file in the way") << true << "file" << false;
        QTest::newRow("menu, a file as parent") << true << "file/vestrel" << false;
        QTest::newRow("menu, no data folder known") << true << "" << false;
    }
    void enter()
    {
        QFETCH(bool, fromMenu);
        QFETCH(QString, folder);
        QFETCH(bool, entered);
        QTemporaryDir base;
        QTemporaryDir shell;
        QVERIFY(QDir(base.path()).mkdir(QStringLiteral("existing")));
        writeFile(base.filePath(QStringLiteral("existing/store.cfg")), "kept");
        writeFile(base.filePath(QStringLiteral("file")), "a file");
        QDir::setCurrent(shell.path());
        const QString target = folder.isEmpty() ? QString() : base.filePath(folder);

        QString error;
        const bool ok = startup::enterWorkingFolder(fromMenu, target, &error);
        QCOMPARE(ok, entered || !fromMenu);
        QCOMPARE(QDir::currentPath(), entered ? QDir(target).canonicalPath() : QDir(shell.path()).canonicalPath());
        if (!fromMenu)
            QVERIFY(!QFileInfo::exists(target));
        if (ok) {
            QVERIFY(error.isEmpty());
        } else {
            // Says which folder failed and where the run works instead.
            QVERIFY2(error.contains(target) && error.contains(shell.path()), qPrintable(error));
        }
        QCOMPARE(readFile(base.filePath(QStringLiteral("existing/store.cfg"))), QByteArray("kept"));
    }

    void menuFolderIsTheUsersDataFolder()
    {
        startup::setIdentity();
        QTemporaryDir data;
        const bool wasSet = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        const QByteArray previous = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const QString folder = startup::menuWorkingFolder();
        if (wasSet)
            qputenv("XDG_DATA_HOME", previous);
        else
            qunsetenv("XDG_DATA_HOME");
        QCOMPARE(folder, data.filePath(QStringLiteral("vestrel")));
    }

private:
    static void writeFile(const QString &path, const QByteArray &content)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString m_previous;
};

QTEST_MAIN(WorkingFolderTest)
#include "tst_workingfolder.moc"

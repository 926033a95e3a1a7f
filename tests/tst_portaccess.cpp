// SPDX-License-Identifier: GPL-3.0-or-later
// Why a serial port would not open, and the line that tells the operator what
// to do: the mapping as a unit, then real ptys held, locked or forbidden.
#include "serial/openfailure.h"
#include "serial/serialport.h"
#include "sim/ptypeer.h"
#include "windowtesting.h"

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(OpenFailure)
Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

namespace {

const QString inUse = QStringLiteral("%1 is in use by another program (or by the other port here): "
                                     "close it there, then open the port again");
const QString noPermission = QStringLiteral("no permission to use %1: add your user to the %2 group "
                                            "(sudo adduser %3 %2), then log out and in again");

// The pty's slave opened by the test itself, as another program would hold it.
class Holder
{
public:
    explicit Holder(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
    }
    ~Holder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool exclusive() { return m_fd >= 0 && ioctl(m_fd, TIOCEXCL) == 0; }

private:
    int m_fd;
};

} // namespace

class PortAccessTest : public QObject
{
    Q_OBJECT

private slots:
    void classify_data()
    {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<bool>("mayReadWrite");
        QTest::addColumn<OpenFailure>("expected");
        QTest::newRow("opened") << QSerialPort::NoError << true << OpenFailure::None;
        QTest::newRow("no such device") << QSerialPort::DeviceNotFoundError << true << OpenFailure::NotFound;
        QTest::newRow("node refused") << QSerialPort::PermissionError << false << OpenFailure::NoPermission;
        QTest::newRow("node allowed: busy or locked") << QSerialPort::PermissionError << true << OpenFailure::InUse;
        QTest::newRow("already open here") << QSerialPort::OpenError << true << OpenFailure::Other;
        QTest::newRow("device error") << QSerialPort::ResourceError << false << OpenFailure::Other;
    }
    void classify()
    {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(bool, mayReadWrite);
        QFETCH(OpenFailure, expected);
        QCOMPARE(openfailure::classify(error, mayReadWrite), expected);
    }

    void hint_data()
    {
        QTest::addColumn<OpenFailure>("failure");
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("expected");
        const QString port = QStringLiteral("ttyUSB0");
        QTest::newRow("dialout") << OpenFailure::NoPermission << "dialout" << "jo"
                                 << noPermission.arg(port, "dialout", "jo");
        QTest::newRow("the device's own group") << OpenFailure::NoPermission << "uucp" << "jo"
                                                << noPermission.arg(port, "uucp", "jo");
        QTest::newRow("no group may use it") << OpenFailure::NoPermission << "" << "jo"
                                             << noPermission.arg(port, "dialout", "jo");
        QTest::newRow("root's group is no help") << OpenFailure::NoPermission << "root" << "jo"
                                                 << noPermission.arg(port, "dialout", "jo");
        QTest::newRow("user unknown") << OpenFailure::NoPermission << "dialout" << ""
                                      << noPermission.arg(port, "dialout", "$USER");
        QTest::newRow("in use") << OpenFailure::InUse << "dialout" << "jo" << inUse.arg(port);
        QTest::newRow("not found: the failure says it all") << OpenFailure::NotFound << "" << "jo" << "";
        QTest::newRow("other") << OpenFailure::Other << "" << "jo" << "";
    }
    void hint()
    {
        QFETCH(OpenFailure, failure);
        QFETCH(QString, group);
        QFETCH(QString, user);
        QFETCH(QString, expected);
        QCOMPARE(openfailure::hint(failure, QStringLiteral("ttyUSB0"), group, user), expected);
    }

    // Qt's lock file: a second open of a port this process already holds.
    void lockedPortIsInUseUntilReleased()
    {
        PtyPeer peer;
        SerialPort holder(peer.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        SerialPort second(peer.slavePath());
        QVERIFY(!second.open(QIODevice::ReadWrite));
        QCOMPARE(second.openFailure(), OpenFailure::InUse);
        QCOMPARE(second.openFailureHint(), inUse.arg(peer.slavePath()));

        // The failed attempt leaves the holder working.
        holder.write("ok");
        QTRY_COMPARE(peer.received(), QByteArray("ok"));

        holder.close();
        QVERIFY(second.open(QIODevice::ReadWrite));
        QCOMPARE(second.openFailure(), OpenFailure::None);
        QVERIFY(second.openFailureHint().isEmpty());
    }

    void missingPortAddsNoHint()
    {
        SerialPort port(QStringLiteral("/dev/pts/no-such-port"));
        QVERIFY(!port.open(QIODevice::ReadWrite));
        QCOMPARE(port.openFailure(), OpenFailure::NotFound);
        QVERIFY(port.openFailureHint().isEmpty());
    }

    // Root opens whatever the mode bits say and past an exclusive open, so as
    // root the port is opened by a child that runs as nobody.
    void forbiddenOrExclusivePort_data()
    {
        QTest::addColumn<mode_t>("mode");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("exclusive");
        QTest::addColumn<OpenFailure>("expected");
        QTest::addColumn<QString>("hintGroup");
        QTest::newRow("mode 000") << mode_t(0) << "" << false << OpenFailure::NoPermission << "dialout";
        QTest::newRow("group dialout, not a member") << mode_t(0660) << "dialout" << false
                                                     << OpenFailure::NoPermission << "dialout";
        QTest::newRow("group tty, not a member") << mode_t(0660) << "tty" << false << OpenFailure::NoPermission
                                                 << "tty";
        QTest::newRow("exclusive open elsewhere") << mode_t(0666) << "" << true << OpenFailure::InUse << "";
    }
    void forbiddenOrExclusivePort()
    {
        QFETCH(mode_t, mode);
        QFETCH(QString, group);
        QFETCH(bool, exclusive);
        QFETCH(OpenFailure, expected);
        QFETCH(QString, hintGroup);

        PtyPeer peer;
        const QString path = peer.slavePath();
        const QByteArray node = QFile::encodeName(path);
        Holder holder(path);
        if (exclusive)
            QVERIFY(holder.exclusive());
        if (!group.isEmpty()) {
            const struct group *entry = getgrnam(group.toLocal8Bit().constData());
            if (!entry)
                QSKIP("no such group on this system");
            QCOMPARE(chown(node.constData(), uid_t(-1), entry->gr_gid), 0);
        }
        QCOMPARE(chmod(node.constData(), mode), 0);

        QString user;
        int failure = -1;
        QString hint;
        if (geteuid() != 0) {
            SerialPort port(path);
            QVERIFY(!port.open(QIODevice::ReadWrite));
            failure = int(port.openFailure());
            hint = port.openFailureHint();
            user = openfailure::userName();
        } else {
            QTemporaryDir dir;
            const QString probe = dir.filePath(QStringLiteral("portprobe"));
            QVERIFY(QFile::copy(QStringLiteral(PORTPROBE), probe));
            QVERIFY(QFile::setPermissions(probe, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                     | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup));
            QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther
                                                          | QFile::ExeGroup));
            QProcess child;
            child.setWorkingDirectory(QStringLiteral("/"));
            child.start(QStringLiteral("setpriv"), {"--reuid=65534", "--regid=65534", "--clear-groups", probe, path});
            if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
                QSKIP("cannot run a process as nobody here");
            const QString out = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
            if (child.exitCode() != 1)
                QSKIP(qPrintable("the probe as nobody did not fail to open: " + out
                                 + QString::fromLocal8Bit(child.readAllStandardError())));
            failure = out.section(QLatin1Char(' '), 0, 0).toInt();
            hint = out.section(QLatin1Char(' '), 1);
            user = QStringLiteral("nobody");
        }
        QCOMPARE(failure, int(expected));
        QCOMPARE(hint, expected == OpenFailure::InUse ? inUse.arg(path) : noPermission.arg(path, hintGroup, user));
    }

    void windowLogsTheHintAfterTheFailure()
    {
        windowtesting::WorkDir dir;
        PtyPeer peer;
        SerialPort holder(peer.slavePath());
        QVERIFY(holder.open(QIODevice::ReadWrite));
        SerialEnumerator::setSystemPortsHidden(true);
        SerialEnumerator::setExtraPortNames({peer.slavePath()});
        Qt_Vestrel window;
        windowtesting::child<QPushButton>(window, "buttonOpenSerialA")->click();
        const QStringList lines = windowtesting::logLines(window);
        QCOMPARE(lines.mid(lines.size() - 2),
                 (QStringList {QStringLiteral("connection to %1 failed").arg(peer.slavePath()),
                               inUse.arg(peer.slavePath())}));
        QCOMPARE(windowtesting::child<QPushButton>(window, "buttonOpenSerialA")->text(), QStringLiteral("Open"));
        SerialEnumerator::setExtraPortNames({});
    }
};

QTEST_MAIN(PortAccessTest)
#include "tst_portaccess.moc"

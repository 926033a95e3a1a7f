// SPDX-License-Identifier: GPL-3.0-or-later
// vestrel --headless inside the system unit's sandbox, as far as a test can
// put it there without systemd as init: the socket families the unit's
// RestrictAddressFamilies= allows, enforced with a seccomp filter as systemd
// enforces them (any other family's socket() fails with EAFNOSUPPORT).

#include "hamlibtesting.h"
#include "remotetesting.h"
#include "settings/wsjtxsettings.h"
#include "wsjtxtesting.h"

#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUdpSocket>

#include <cerrno>
#include <cstddef>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace remotetesting;

namespace {

#if defined(__x86_64__)
constexpr quint32 nativeArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr quint32 nativeArch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
constexpr quint32 nativeArch = AUDIT_ARCH_ARM;
#elif defined(__i386__)
constexpr quint32 nativeArch = AUDIT_ARCH_I386;
#else
#error "no seccomp architecture for this machine"
#endif

// The families the unit file allows, from its RestrictAddressFamilies= lines
// (systemd adds up allow lists; an empty value starts again). Nothing when
// the unit denies by list ("~..."), which this test does not emulate.
std::optional<QList<int>> allowedFamilies(const QString &unitPath)
{
    const QHash<QString, int> families {{"AF_UNIX", AF_UNIX},   {"AF_LOCAL", AF_UNIX},      {"AF_INET", AF_INET},
                                        {"AF_INET6", AF_INET6}, {"AF_NETLINK", AF_NETLINK}, {"AF_PACKET", AF_PACKET}};
    QFile unit(unitPath);
    if (!unit.open(QIODevice::ReadOnly))
        return std::nullopt;
    QList<int> allowed;
    const QString key = QStringLiteral("RestrictAddressFamilies=");
    for (const QByteArray &bytes : unit.readAll().split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (!line.startsWith(key))
            continue;
        const QString value = line.mid(key.size()).trimmed();
        if (value.startsWith(QLatin1Char('~')))
            return std::nullopt;
        if (value.isEmpty())
            allowed.clear();
        for (const QString &name : value.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (!families.contains(name))
                return std::nullopt;
            allowed.append(families.value(name));
        }
    }
    return allowed;
}

// socket() for the families given, EAFNOSUPPORT for any other; every other
// call, and every call of another architecture, goes through.
std::vector<sock_filter> familyFilter(const QList<int> &allowed)
{
    constexpr quint32 familyOffset = offsetof(seccomp_data, args)
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        + 4
#endif
        ;
    std::vector<sock_filter> program {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, nativeArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, familyOffset),
    };
    for (const int family : allowed) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, quint32(family), 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA)));
    return program;
}

QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

} // namespace

class tst_RemoteServiceUnit : public QObject
{
    Q_OBJECT

private slots:
    // Follow WSJT-X on a multicast group: Qt lists the interfaces to join it
    // on through a netlink socket, which the unit must allow. The families
    // the unit allowed before are kept as a row, to show that the sandbox
    // here bites where the unit's would.
    void wsjtxOnAMulticastGroup_data()
    {
        QTest::addColumn<QString>("families");  // empty: the unit file's own
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("heard");
        QTest::newRow("the unit's families") << QString() << "listening for WSJT-X on 224.0.0.1:%1" << true;
        QTest::newRow("without netlink") << "AF_UNIX AF_INET AF_INET6"
                                         << "cannot listen for WSJT-X on 224.0.0.1:%1: no network interface can be "
                                            "listed to join the group on (a service needs AF_NETLINK in its "
                                            "RestrictAddressFamilies=)"
                                         << false;
    }
    void wsjtxOnAMulticastGroup()
    {
        QFETCH(QString, families);
        QFETCH(QString, said);
        QFETCH(bool, heard);
        QTemporaryDir folder;
        QString unitPath = QStringLiteral(VESTREL_SYSTEM_UNIT);
        if (!families.isEmpty()) {
            unitPath = folder.filePath(QStringLiteral("vestrel.service"));
            QFile unit(unitPath);
            QVERIFY(unit.open(QIODevice::WriteOnly));
            unit.write("[Service]\nRestrictAddressFamilies=" + families.toLatin1() + '\n');
        }
        const auto allowed = allowedFamilies(unitPath);
        QVERIFY2(allowed && !allowed->isEmpty(), "the unit names no families this test can enforce");
        const std::vector<sock_filter> filter = familyFilter(*allowed);
        const sock_fprog program {static_cast<unsigned short>(filter.size()), const_cast<sock_filter *>(filter.data())};

        RemoteSettings settings;
        settings.listenPort = 0;
        QVERIFY(settings.write(folder.filePath(QStringLiteral("remote.cfg"))));
        WsjtxSettings wsjtx;
        wsjtx.follow = true;
        wsjtx.address = QStringLiteral("224.0.0.1");
        wsjtx.port = hamlibtesting::freePort();
        QVERIFY(wsjtx.write(folder.filePath(WsjtxSettings::defaultPath())));

        QProcess station;
        // In the child before the program starts (the unit has NoNewPrivileges=yes too).
        station.setChildProcessModifier([&program] {
            if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
                || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
                ::_exit(126);
        });
        QString log;
        const QRegularExpressionMatch api = start(station, folder.path(), withoutDisplay(), log);
        if (station.state() == QProcess::NotRunning && station.exitCode() == 126)
            QSKIP("this machine lets no process install a seccomp filter");
        QVERIFY2(api.hasMatch(), qPrintable(log));
        QVERIFY2(log.contains(said.arg(wsjtx.port)), qPrintable(log));

        // WSJT-X on the loopback, as its default settings send.
        Client client(QUrl(QStringLiteral("ws://127.0.0.1:%1/api").arg(api.captured(1))));
        QVERIFY(client.waitForState());
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(QHostAddress::LocalHost), 0));
        sender.setMulticastInterface(QNetworkInterface::interfaceFromName(QStringLiteral("lo")));
        if (heard) {
            QTRY_VERIFY_WITH_TIMEOUT(
                (sender.writeDatagram(wsjtxtesting::heartbeat(), QHostAddress(wsjtx.address), wsjtx.port),
                 at(client.state, "wsjtx.ageS").isDouble()),
                settleMs);
        } else {
            QCOMPARE(at(client.state, "wsjtx.listening"), QJsonValue(false));
        }
        station.terminate();
        QVERIFY(station.waitForFinished(20000));
        QCOMPARE(station.exitCode(), 0);
    }

    // A service that reaches no sound card (here none: the sound server
    // named is not there) says so at start, with what to do; run from a
    // shell it says nothing of it.
    void soundCardUnderAService_data()
    {
        QTest::addColumn<bool>("service");
        QTest::newRow("started by systemd") << true;
        QTest::newRow("started from a shell") << false;
    }
    void soundCardUnderAService()
    {
        QFETCH(bool, service);
        QTemporaryDir folder;
        RemoteSettings settings;
        settings.listenPort = 0;
        QVERIFY(settings.write(folder.filePath(QStringLiteral("remote.cfg"))));
        QProcessEnvironment environment = withoutDisplay();
        environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + folder.filePath("no-server"));
        environment.remove(QStringLiteral("INVOCATION_ID"));
        if (service)
            environment.insert(QStringLiteral("INVOCATION_ID"), QStringLiteral("0123456789abcdef0123456789abcdef"));
        QProcess station;
        QString log;
        QVERIFY2(start(station, folder.path(), environment, log).hasMatch(), qPrintable(log));
        QCOMPARE(log.contains("Calibrate: no sound card reached"), service);
        if (service)
            QVERIFY2(log.contains("systemctl --user"), qPrintable(log));
        station.terminate();
        QVERIFY(station.waitForFinished(20000));
    }

    // The unit's exposure as systemd rates it stays below 2.0.
    void exposure()
    {
        const QString analyze = QStandardPaths::findExecutable(QStringLiteral("systemd-analyze"));
        if (analyze.isEmpty())
            QSKIP("systemd-analyze is not on this machine");
        QFile installed(QStringLiteral(VESTREL_SYSTEM_UNIT));
        QVERIFY(installed.open(QIODevice::ReadOnly));
        QTemporaryDir folder;
        QFile unit(folder.filePath(QStringLiteral("vestrel.service")));
        QVERIFY(unit.open(QIODevice::WriteOnly));
        unit.write(installed.readAll().replace("ExecStart=/usr/bin/vestrel", "ExecStart=" VESTREL_PROGRAM));
        unit.close();
        QProcess rating;
        rating.setProcessChannelMode(QProcess::MergedChannels);
        rating.start(analyze, {QStringLiteral("security"), QStringLiteral("--offline=yes"), unit.fileName()});
        QVERIFY(rating.waitForFinished(60000));
        const QString said = QString::fromUtf8(rating.readAll());
        const QRegularExpressionMatch level
            = QRegularExpression(QStringLiteral("Overall exposure level for vestrel.service: ([0-9.]+)")).match(said);
        QVERIFY2(level.hasMatch(), qPrintable(said));
        QVERIFY2(level.captured(1).toDouble() < 2.0, qPrintable(level.captured(0)));
    }

private:
    // vestrel --headless in folder; its standard error until it serves the
    // API, whose port the match holds.
    static QRegularExpressionMatch start(QProcess &station, const QString &folder,
                                         const QProcessEnvironment &environment, QString &log)
    {
        station.setProcessEnvironment(environment);
        station.setWorkingDirectory(folder);
        station.start(QStringLiteral(VESTREL_PROGRAM), {QStringLiteral("--headless")});
        if (!station.waitForStarted(60000))
            return {};
        const QRegularExpression api(QStringLiteral("API on http://localhost:(\\d+)/"));
        QRegularExpressionMatch match;
        [[maybe_unused]] const bool served = QTest::qWaitFor(
            [&] {
                log += QString::fromLocal8Bit(station.readAllStandardError());
                match = api.match(log);
                return match.hasMatch() || station.state() == QProcess::NotRunning;
            },
            20000);
        return match;
    }
};

QTEST_GUILESS_MAIN(tst_RemoteServiceUnit)
#include "tst_remoteserviceunit.moc"

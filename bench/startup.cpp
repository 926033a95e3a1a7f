// SPDX-License-Identifier: GPL-3.0-or-later
// From process start to the main window shown, and the resident memory then:
// the real main window (built as main() builds it) beside an empty Qt main
// window, the floor that Qt itself sets, each started afresh several times,
// offscreen and on an X server (Xvfb) when one can be started.
//
//   bench_startup [--runs N]
//   bench_startup --child START_NS [--bare]   one start; prints "shown NS RSS_KB"

#include "benchreport.h"
#include "faulttesting.h"

#include "tracking/qt_vestrel.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <ctime>
#include <memory>
#include <optional>

using namespace bench;

namespace {

qint64 monotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// Sees the window's first paint through, then reports and ends the run.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(qint64 startNs)
        : m_startNs(startNs)
    {
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // After this paint and its flush to the screen, which follow in this pass of the loop.
            QTimer::singleShot(0, this, [this] {
                const long long cpuUs = std::llround(faulttesting::cpuSeconds() * 1e6);
                std::printf("shown %lld %lld %lld\n", static_cast<long long>(monotonicNs() - m_startNs),
                            static_cast<long long>(faulttesting::residentBytes() / 1024), cpuUs);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 m_startNs;
    bool m_seen = false;
};

int child(qint64 startNs, bool bare, int argc, char **argv)
{
    // As app/main.cpp does it.
    QApplication application(argc, argv);
    FirstPaint watch(startNs);
    std::unique_ptr<QMainWindow> window;
    if (bare)
        window = std::make_unique<QMainWindow>();
    else
        window = std::make_unique<Qt_Vestrel>();
    window->installEventFilter(&watch);
    window->show();
    return application.exec();
}

struct Run {
    double ms = 0;
    qint64 rssKb = 0;
    double cpuMs = 0;  // of all its threads, up to the first paint
};

// One fresh start in a fresh working directory, timed from just before the fork.
std::optional<Run> startOnce(const QProcessEnvironment &environment, bool bare)
{
    QTemporaryDir dir;
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    QStringList arguments {QStringLiteral("--child"), QString()};
    if (bare)
        arguments << QStringLiteral("--bare");
    arguments[1] = QString::number(monotonicNs());
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished(2000);
        return std::nullopt;
    }
    const QList<QByteArray> words = process.readAllStandardOutput().trimmed().split(' ');
    if (words.size() != 4 || words.at(0) != "shown")
        return std::nullopt;
    return Run {words.at(1).toDouble() / 1e6, words.at(2).toLongLong(), words.at(3).toDouble() / 1e3};
}

// Runs both programs alternately, so that a change in the machine's load
// touches both alike; false if a start failed.
bool measure(const QString &platform, const QProcessEnvironment &environment, int runs)
{
    Samples ours, bare, ourCpu, bareCpu;
    qint64 ourRss = 0, bareRss = 0;
    for (int i = 0; i < runs; ++i) {
        const auto run = startOnce(environment, false);
        const auto floor = startOnce(environment, true);
        if (!run || !floor)
            return false;
        ours.add(run->ms);
        bare.add(floor->ms);
        ourCpu.add(run->cpuMs);
        bareCpu.add(floor->cpuMs);
        ourRss = run->rssKb;
        bareRss = floor->rssKb;
    }
    row(QStringLiteral("4 start -> window shown, %1").arg(platform),
        QStringLiteral("%1, CPU %2, RSS %3 MiB")
            .arg(ours.summary(), ms(ourCpu.median()))
            .arg(double(ourRss) / 1024.0, 0, 'f', 1),
        QStringLiteral("goal < 300 ms; empty Qt window %1, CPU %2, RSS %3 MiB")
            .arg(ms(bare.median()), ms(bareCpu.median()))
            .arg(double(bareRss) / 1024.0, 0, 'f', 1));
    return true;
}

// An X server of our own on a free display; its pid, or 0.
qint64 startXvfb(QProcess &xvfb, QString &display)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return 0;
    for (int number = 90; number < 110; ++number) {
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        display = QStringLiteral(":%1").arg(number);
        xvfb.setStandardErrorFile(QProcess::nullDevice());
        xvfb.start(QStringLiteral("Xvfb"), {display, QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                                            QStringLiteral("tcp")});
        if (!xvfb.waitForStarted(5000))
            return 0;
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (waitUntil([&] { return QFile::exists(socket) || xvfb.state() == QProcess::NotRunning; }, 10000)
            && xvfb.state() == QProcess::Running)
            return xvfb.processId();
        return 0;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--child") == 0) {
            const qint64 startNs = QByteArray(argv[i + 1]).toLongLong();
            const bool bare = i + 2 < argc && qstrcmp(argv[i + 2], "--bare") == 0;
            return child(startNs, bare, argc, argv);
        }
    }

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = qMax(1, intOption(args, QStringLiteral("--runs"), 7));

    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!measure(QStringLiteral("offscreen"), offscreen, runs)) {
        std::fprintf(stderr, "bench_startup: the window did not come up offscreen\n");
        return 1;
    }

    QProcess xvfb;
    QString display;
    if (!startXvfb(xvfb, display)) {
        row(QStringLiteral("4 start -> window shown, Xvfb"), QStringLiteral("not run"),
            QStringLiteral("Xvfb not available"));
        return 0;
    }
    QProcessEnvironment x11 = QProcessEnvironment::systemEnvironment();
    x11.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    x11.insert(QStringLiteral("DISPLAY"), display);
    const bool ok = measure(QStringLiteral("Xvfb"), x11, runs);
    xvfb.terminate();
    if (!xvfb.waitForFinished(5000))
        xvfb.kill();
    if (!ok) {
        std::fprintf(stderr, "bench_startup: the window did not come up under Xvfb\n");
        return 1;
    }
    return 0;
}
